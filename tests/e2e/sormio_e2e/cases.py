"""The end-to-end cases, written once against the session interface (session.py): each plays
the game as a person would and checks what the window shows, what is heard and what a screen
reader is told. Which session runs which case is each session module's RUNS."""
import json
import os
import signal
import socket
import subprocess
import threading
import time

from . import drivers
from .common import A11Y_PROBE, Failure, L, Picture, check, turn_shown, wait_for
from .sound_server import RATE


def timed(case):
    """Marks a case whose point is time (a pace, a turn's length, how soon a close ends the
    program, when a screen reader speaks): ctest labels it `timed` and runs it with the machine
    to itself. No other case judges the clock."""
    case.timed = True
    return case


def red_tile(picture):
    red = picture.tiles(L.target)
    if len(red) != 1:
        raise Failure(f"expected one red tile, found {len(red)}")
    return red[0]


def start_turn(s):
    s.key("F1")
    return s.wait_picture("one red tile and the bar", turn_shown)


def border_edges(p):
    """The thickness in device pixels of each tile's four edges, met going out from inside
    the tile: along a row above its glyph and a column left of it."""
    d = lambda v: int(v * p.scale)
    width, height = d(L.client_w), d(L.client_h)

    def run(x, y, dx, dy):
        steps = 0
        while p.device_pixel(x, y) != L.border:
            x, y, steps = x + dx, y + dy, steps + 1
            if steps > 20 * p.scale or not (0 <= x < width and 0 <= y < height):
                return 0
        n = 0
        while 0 <= x < width and 0 <= y < height and p.device_pixel(x, y) == L.border:
            x, y, n = x + dx, y + dy, n + 1
        return n

    edges = {}
    for t, (_, left, top) in enumerate(L.tiles):
        row, column, mid_x, mid_y = d(top + 4), d(left + 4), d(left + 16), d(top + 16)
        for side, args in (("left", (mid_x, row, -1, 0)), ("right", (mid_x, row, 1, 0)),
                           ("top", (column, mid_y, 0, -1)), ("bottom", (column, mid_y, 0, 1))):
            edges[(t, side)] = run(*args)
    return edges


def case_startup(s):
    p = s.picture()
    check(p.tiles(L.idle) == list(range(36)), "all 36 tiles should be black")
    for i, (glyph, left, top) in enumerate(L.tiles):
        check(p.pixel(left, top) == L.border and p.pixel(left + 32, top + 32) == L.border,
              f"tile {glyph} has no visible border")
        check(p.region_has(left + 4, top + 4, left + 29, top + 29, L.white), f"tile {glyph} has no character")
    edges = border_edges(p)
    check(all(edges.values()), "tiles without an edge: " + ", ".join(
        f"{L.tiles[t][0]} {side}" for (t, side), n in edges.items() if not n))
    check(len(set(edges.values())) == 1, f"border lines of different thickness: {sorted(set(edges.values()))}")
    check(p.region_has(*L.title_box, L.white), "no title")
    check(p.region_has(*L.credit_box, L.white), "no credit line")
    check(p.bar_length() == 0 and not p.region_has(0, L.bar_row, L.client_w, L.bar_row + 1, L.bar_colour), "a bar is shown")
    check(not p.region_has(*L.score_box, L.white), "a score is shown")


def case_start(s):
    p = start_turn(s)
    red_tile(p)
    length = p.bar_length()
    # 3 px a tick from 600: its left end stays at x = 100 and its right end started at x = 699.
    check(length % 3 == 0 and 0 < length <= L.start_width,
          f"bar of {length} px after Start, expected {L.start_width} less 3 px a tick")
    check(p.pixel(L.bar_left - 1, L.bar_row) == L.background, f"the bar must start at x = {L.bar_left}")
    check(p.pixel(L.bar_left + L.bar_width, L.bar_row) == L.background,
          f"the bar must end by x = {L.bar_left + L.bar_width - 1}")
    check(not p.region_has(0, L.bar_row - 1, L.client_w, L.bar_row, L.bar_colour)
          and not p.region_has(0, L.bar_row + 1, L.client_w, L.bar_row + 2, L.bar_colour),
          "the bar is one pixel high")
    check(p.region_has(*L.score_box, L.white), "no score after Start")


def case_hit(s):
    before = start_turn(s)
    score_zero = before.region(*L.score_box)
    # A bar that has shrunk, so that the next turn's fresh one shows: by a hundred ticks where
    # the game's clock is slowed (four seconds then, and as long to see the next turn), or by
    # a third of the turn where it is not (as long to see it, twice that left for the key).
    ticks = 100 if s.slowed() else 66
    tile = red_tile(s.wait_picture("the bar shrinking",
                                   lambda q: 0 < q.bar_length() <= L.start_width - 3 * ticks))
    shrunk = s.last_picture.bar_length()
    moment = s.mark()
    s.key(L.tiles[tile][0].lower())
    p = s.wait_picture("the next turn", lambda q: q.region(*L.score_box) != score_zero
                       and q.bar_length() > shrunk)
    length = p.bar_length()
    check(length <= L.start_width - 3 and length % 3 == 0,
          f"bar of {length} px after a hit, expected {L.start_width - 3} or less")
    check(len(p.tiles(L.target)) == 1 and not p.tiles(L.wrong), "one red tile and no blue after a hit")
    check(p.region(*L.score_box) != score_zero and p.region_has(*L.score_box, L.white), "the score did not change")
    check(s.settle_bells(moment, 1) == 1, f"a hit rang {s.bells_after(moment)} bells, expected 1")


def case_miss(s):
    target = red_tile(start_turn(s))
    wrong = (target + 7) % 36
    moment = s.mark()
    s.key(L.tiles[wrong][0].lower())
    p = s.wait_picture("the blue key", lambda q: q.tiles(L.wrong))
    check(p.tiles(L.wrong) == [wrong], f"tile {L.tiles[wrong][0]} should be blue")
    check(p.tiles(L.target) == [target], "the target should stay red")
    check(p.bar_length() == 0, "the bar should be gone")
    check(s.settle_bells(moment, 19) == 19, f"a game over rang {s.bells_after(moment)} bells, expected 19")
    # F1 after a game over clears the blue key.
    p = start_turn(s)
    check(not p.tiles(L.wrong) and len(p.tiles(L.target)) == 1, "Start should clear the blue key")


@timed
def case_timeout(s):
    """A bar left alone runs out after 200 ticks of the real clock: the bar shrinks 3 px a tick
    from the start, and then the game over, its bells, and no blue tile."""
    s.real_time()
    moment = s.mark()
    sent = time.monotonic()
    s.key("F1")
    p = s.wait_picture("the bar", lambda q: q.bar_length() > 0)
    elapsed, length = time.monotonic() - sent, p.bar_length()
    print(f"bar of {length} px {elapsed * 1000:.0f} ms after F1")
    check(L.start_width - 3 * (int(elapsed / L.tick) + 2) <= length,
          f"bar of {length} px {elapsed * 1000:.0f} ms after Start, expected {L.start_width} less 3 px a tick")
    wait_for("the game over bells", lambda: s.bells_after(moment) >= 1, 5)
    duration = s.first_beep_after(moment)
    p = s.wait_picture("the bar gone", lambda q: q.bar_length() == 0)
    check(len(p.tiles(L.target)) == 1 and not p.tiles(L.wrong), "a time-out paints one red and no blue tile")
    check(s.settle_bells(moment, 19) == 19, "a time-out rings 19 bells")
    print(f"pace: F1 to the end of a 200-tick turn took {duration:.3f} s (nominal 2.000 s)")
    check(1.7 <= duration <= 2.6, f"a 200-tick turn took {duration:.3f} s")


def case_sound(s):
    # Switched off during a turn, once keys are seen to reach the game: a key sent right after
    # the window takes the focus may come before the game has it.
    target = red_tile(start_turn(s))
    s.key("F3")
    moment = s.mark()
    silent_hit_and_miss(s, target)
    s.heard_all()
    check(s.bells_after(moment) == 0, f"{s.bells_after(moment)} bells with sounds off")
    s.key("F3")
    start_turn(s)
    moment = s.mark()
    s.key("space")
    check(s.settle_bells(moment, 19) == 19, "sounds back on: a game over rings 19 bells")


def silent_hit_and_miss(s, target):
    """With sounds off: a hit on `target`, seen, and then a miss (or the turn ran out first)."""
    score = s.last_picture.region(*L.score_box)
    s.key(L.tiles[target][0].lower())
    p = s.wait_picture("the hit", lambda q: q.region(*L.score_box) != score or not q.bar_length())
    if p.bar_length():
        s.key("space")
        s.wait_picture("the game over", lambda q: q.bar_length() == 0)


def case_keys_before_start(s):
    before = s.picture().region(0, 0, L.client_w, L.client_h)
    moment = s.mark()
    # F1 last: once its turn shows, the keys before it have been handled, and every picture
    # until then is the start screen as it was.
    s.key("e", "0", "space", "Return", "a", "F1")

    def started():
        p = s.picture()
        check(turn_shown(p) or p.region(0, 0, L.client_w, L.client_h) == before,
              "keys before Start changed the picture")
        return p if turn_shown(p) else None
    wait_for("Start after the keys", started, 10)
    s.heard_all()
    check(s.bells_after(moment) == 0, "keys before Start rang the bell")


def case_close(s):
    start_turn(s)
    status, _ = s.close_and_wait()
    check(status == 0, f"the game ended with status {status}")


def twenty_closes(s, when, play):
    """Twenty runs, each closed after play(attempt): every time the program ends with status 0
    within a second."""
    took = []
    for attempt in range(20):
        if attempt:
            s.launch()
        play(attempt)
        status, seconds = s.close_and_wait()
        took.append(seconds)
        check(status == 0, f"close {attempt + 1}: the game ended with status {status}")
        check(seconds <= 1, f"close {attempt + 1}: the game took {seconds:.2f} s to end")
    print(f"20 closes {when}: slowest {1000 * max(took):.0f} ms")


@timed
def case_close_after_play(s):
    """Closed right after keys, twenty times in a row."""
    def play(attempt):
        target = red_tile(start_turn(s))
        s.key(L.tiles[(target + attempt % 2) % 36][0].lower())  # a hit, then a miss, in turn
    twenty_closes(s, "after play", play)


@timed
def case_close_during_turn(s):
    """Closed in the middle of a turn, twenty times, each time at another moment of it."""
    def play(attempt):
        s.key("F1")
        s.wait_turn()
        time.sleep(0.05 * (attempt % 8))
    twenty_closes(s, "during a turn", play)


def case_title_bar(s):
    """The window has a title bar with its caption, whoever draws it."""
    caption, height = wait_for("the title bar", lambda: (lambda t: t if t[1] else None)(s.title_bar()), 5)
    check(caption == L.caption, f"the caption is {caption!r}")
    check(height >= 20, f"a title bar of {height} px")
    print(f"title bar of {height} px")


def hit_until(s, glyphs, limit=60, scored=False):
    """Scores (at least once, where `scored`) until the target is one of `glyphs`; the
    target's tile index."""
    for hits in range(limit):
        target = red_tile(s.picture())
        if L.tiles[target][0] in glyphs and (hits or not scored):
            return target
        score = s.last_picture.region(*L.score_box)
        moment = s.mark()
        s.key(L.tiles[target][0].lower())
        s.wait_picture("the next turn", lambda q: q.region(*L.score_box) != score and q.bar_length())
        # Heard before the caller counts what follows: a tone may come out a little late.
        wait_for("the hit's beep", lambda: s.bells_after(moment), 3)
    raise Failure(f"no target among {glyphs} in {limit} turns")


def case_dead_keys(s):
    """On a layout with dead keys: a dead key alone does nothing, a letter composed with it is
    a miss without a blue tile, and so is a key it does not combine with; plain keys hit."""
    s.use_layout("fi")
    for glyphs in ("AEIOU", "0123456789BDFHQTX"):  # composed with an acute, or not at all
        start_turn(s)
        # A dead key alone, and then Start: once Start's score of 0 shows, the dead key has
        # been handled, and had it ended the turn its bells are counted by then.
        hit_until(s, glyphs, scored=True)
        score = s.last_picture.region(*L.score_box)
        moment = s.mark()
        s.key("dead_acute", "F1")
        s.wait_picture("Start after the dead key",
                       lambda q: turn_shown(q) and q.region(*L.score_box) != score)
        s.heard_all()
        check(s.bells_after(moment) == 0, "a dead key alone ended the turn or beeped")
        target = hit_until(s, glyphs)
        moment = s.mark()
        s.key("dead_acute")
        s.key(L.tiles[target][0].lower())
        p = s.wait_picture("the game over", lambda q: q.bar_length() == 0)
        check(p.tiles(L.target) == [target] and not p.tiles(L.wrong),
              f"´ then {L.tiles[target][0]}: expected a miss without a blue tile")
        check(s.settle_bells(moment, 19) == 19, f"´ then {L.tiles[target][0]} was no game over")


def accessible_tree(s):
    """The game's accessible objects, depth first, as a screen reader reads them."""
    out = subprocess.run(["/usr/bin/python3", A11Y_PROBE, "tree"], env=s.env, capture_output=True,
                         text=True, timeout=10)
    nodes, todo = [], [json.loads(out.stdout or "null") or {"children": []}]
    while todo:
        n = todo.pop(0)
        nodes.append(n)
        todo[0:0] = n["children"]
    return nodes


def case_screen_reader(s):
    """Read as a screen reader reads it: the bar named by the key to press and holding the
    focus, renamed at each turn; the tiles by their characters, the target and the wrong key
    described; the score by its text; the end of a game told by the focus, which moves from the
    hidden bar to a control named by how the game ended."""
    if not s.a11y:
        raise Failure("this case needs --a11y")
    events = []
    listener = s._spawn(["/usr/bin/python3", A11Y_PROBE, "events"], stdout=subprocess.PIPE, text=True)
    check(listener.stdout.readline().strip() == "ready", "the event listener did not start")
    threading.Thread(target=lambda: events.extend(json.loads(l) for l in listener.stdout),
                     daemon=True).start()

    def one(nodes, role, **fields):
        found = [n for n in nodes if n["role"] == role and all(n[k] == v for k, v in fields.items())]
        check(len(found) == 1, f"{len(found)} {role} nodes with {fields}")
        return found[0]

    target = red_tile(start_turn(s))
    glyph = L.tiles[target][0]
    nodes = accessible_tree(s)
    bar = one(nodes, "progress bar")
    check(bar["name"] == glyph and "focused" in bar["states"] and 0 < bar["value"] <= L.start_width,
          f"during a turn the bar reads {bar}")
    check([n["name"] for n in nodes if n["role"] == "label" and len(n["name"]) == 1
           and n["description"] != "pisteet"] == [g for g, _, _ in L.tiles][::-1],
          "the tiles are not named by their characters")
    check([n["name"] for n in nodes if n["description"] == "kohde"] == [glyph], "target not described")
    check(one(nodes, "label", description="pisteet")["name"] == "0", "the score does not read 0")

    told = len(events)
    score = s.last_picture.region(*L.score_box)
    s.key(glyph.lower())
    p = s.wait_picture("the next turn", lambda q: q.region(*L.score_box) != score and q.bar_length())
    glyph = L.tiles[red_tile(p)][0]
    # The focus, as a screen reader follows it, moves to an object named by the new key.
    wait_for("the new key told", lambda: any(
        e["type"] == "object:state-changed:focused" and e.get("detail") == 1 and e["name"] == glyph
        and e.get("role") in ("label", "progress bar") for e in events[told:]), 2)
    wait_for("the score renamed", lambda: any(e.get("role") == "label" and e["name"] == "1"
                                              for e in events), 2)
    wrong = L.tiles[(L.tiles.index(next(t for t in L.tiles if t[0] == glyph)) + 1) % 36][0]
    s.key(wrong.lower())
    s.wait_picture("the game over", lambda q: q.tiles(L.wrong))
    def ending_told(sentence, timeout):
        wait_for(f"{sentence!r} told", lambda: any(
            e["type"] == "object:state-changed:focused" and e.get("detail") == 1
            and e["name"] == sentence for e in events), timeout)

    ending_told(f"Väärä näppäin {wrong}, pisteet 1", 2)
    nodes = accessible_tree(s)
    check("focused" in one(nodes, "label", name=f"Väärä näppäin {wrong}, pisteet 1")["states"],
          "the ending does not hold the focus")
    check("focused" not in one(nodes, "progress bar")["states"], "the hidden bar keeps the focus")
    check([n["name"] for n in nodes if n["description"] == "väärä"] == [wrong], "wrong key not described")
    s.key("a", "F1")  # a key after the game is nobody's; F1 still starts the next
    ending_told("Aika loppui, pisteet 0", 10)  # a turn of 2 s, or 8 s where slowed


def case_windows_reader(s):
    """Read from another process as a screen reader on Windows reads it (MSAA, and UI
    Automation where the system has it): the tiles by their characters, the target "kohde" and a
    wrong key "väärä"; the bar a progress bar named by the key, its value the width left, holding
    the focus and told at every turn; the score as text; how a game ended as text that takes the
    focus from the hidden bar, after a miss and after a time-out; nothing of it left after the
    next Start."""
    events = s.reader_events()
    for _ in range(3):
        target = red_tile(start_turn(s))
        tree = s.reader("tree")
        check(tree is not None, "the window cannot be read from another process")
        if not tree["bar"]["hidden"]:
            break
        # The turn ran out while the reader started (Wine starting a program on a busy machine
        # can take longer than a turn): another.
        s.wait_picture("the game over", lambda q: q.bar_length() == 0)
    tiles, bar, score = tree["children"][:36], tree["bar"], tree["children"][37]
    check([c["name"] for c in tiles] == [g for g, _, _ in L.tiles], "the tiles are not named by their characters")
    check([c["description"] for c in tiles] == ["kohde" if t == target else "" for t in range(36)],
          "only the key to press is described \"kohde\"")
    check(bar["role"] == "progress bar" and bar["name"] == L.tiles[target][0] and bar["focused"]
          and 0 < int(bar["value"]) <= L.start_width, f"during a turn the bar reads {bar}")
    check(tree["children"][36]["name"] == bar["name"] and tree["focus"] == 37,
          "the window does not give the bar as its focus")
    check(score["role"] == "static text" and score["name"] == "0" and score["description"] == "pisteet",
          f"the score reads {score}")
    if not s.picture().bar_length():
        start_turn(s)  # the same, for the turn the reader read
    for points in (1, 2):
        glyph = L.tiles[red_tile(s.picture())][0]
        score = s.last_picture.region(*L.score_box)
        told = len(events)
        s.key(glyph.lower())
        # Not the picture of the turn just played, taken before Wine handed the key over.
        p = s.wait_picture("the next turn", lambda q: q.region(*L.score_box) != score
                           and q.bar_length() and red_tile(q) is not None)
        key = L.tiles[red_tile(p)][0]
        wait_for(f"the key {key} told", lambda: any(
            e["window"] == "bar" and e["event"] in ("focus", "name") and e["element"]["name"] == key
            for e in events[told:]), 3)
        wait_for(f"the score {points} told", lambda: any(
            e["element"]["id"] == 38 and e["element"]["name"] == str(points) for e in events[told:]), 3)
    wrong = L.tiles[(red_tile(s.picture()) + 1) % 36]
    told = len(events)
    s.key(wrong[0].lower())
    s.wait_picture("the game over", lambda q: q.tiles(L.wrong))
    ending = f"Väärä näppäin {wrong[0]}, pisteet 2"
    wait_for("the ending told", lambda: any(
        e["event"] == "focus" and e["element"]["id"] == 41 and e["element"]["name"] == ending
        for e in events[told:]), 3)
    tree = s.reader("tree")
    told = tree["children"][40]
    check(told["name"] == ending and told["focused"] and tree["focus"] == 41 and tree["bar"]["hidden"],
          f"after a miss the ending reads {told}, the bar {tree['bar']}, the focus {tree['focus']}")
    check([c["name"] for c in tree["children"][:36] if c["description"] == "väärä"] == [wrong[0]],
          "the wrong key is not described \"väärä\"")
    uia = s.reader("uia")
    if uia is None:
        print("no UI Automation here: read through MSAA only")
    else:
        check(uia["self"]["name"] == L.caption and len(uia["children"]) >= 36,
              f"UI Automation reads the window as {uia['self']} with {len(uia['children'])} children")
    s.key("F1")
    wait_for("the ending cleared by Start", lambda: s.reader("tree")["children"][40]["hidden"], 5)
    wait_for("the time-out told", lambda: s.reader("tree")["children"][40]["name"]
             == "Aika loppui, pisteet 0", 6, interval=0.3)
    if uia is not None:
        # Wine's UI Automation finds no focused element from the desktop down: the window says it.
        window = s.reader("uia")["self"]
        check(window["focused"], f"after a time-out UI Automation reads the window as {window}")


@timed
def case_spoken(s):
    """Played by ear with Orca, judged by when each utterance starts to be heard: the key at
    Start the first thing heard, within 0.3 s (in a page, of Orca's echo of F1, which it does
    not cut short there); after a hit the new key the first thing after the screen reader's
    echo of the typed key, within 0.3 s of the echo; each key told once; how a game ended the
    first thing after that echo, also within 0.3 s of it, or within 0.5 s of the bar running
    out."""
    if not s.orca:
        raise Failure("this case needs --orca")

    def heard(what, since, limit, from_echo=False):
        """`what` the first thing heard after `since` (time.time()) but the one-word echo of a
        key just pressed, within `limit` seconds of `since` or of the echo's end: a key as the
        first word of what is said of an object, a sentence as the words said."""
        def first():
            echo_end = 0.0
            for t, text, seconds in s.spoken(since):
                if " " not in text.strip(". "):
                    echo_end = t + seconds
                    continue
                return t, text, echo_end
            return None
        try:
            t, text, echo_end = wait_for(f"{what!r} heard", first, 4)
        except Failure as failure:
            raise Failure(f"{failure}; heard: {s.spoken(since - 10)}")
        words = text.strip(". ").split()
        check(text.startswith(what) if " " in what else len(words) > 1 and words[0] == what,
              f"{text!r} heard before {what!r}; heard: {s.spoken(since - 10)}")
        late = t - (echo_end if from_echo else 0.0)
        print(f"{text!r} heard {t:.2f} s after, {late:.2f} s late")
        check(late <= limit, f"{what!r} heard {late:.2f} s late, more than {limit} s; heard: "
                             f"{s.spoken(since - 3)}")

    s.wait_until_quiet()  # Orca's welcome and the window's title, before the game
    began = sent = time.time()
    keys = [L.tiles[red_tile(start_turn(s))][0]]
    heard(keys[-1], sent, 0.3, from_echo=s.echo_before_focus)
    for _ in range(3):
        score = s.last_picture.region(*L.score_box)
        sent = time.time()
        s.key(keys[-1].lower())
        p = s.wait_picture("the next turn", lambda q: q.region(*L.score_box) != score and q.bar_length())
        keys.append(L.tiles[red_tile(p)][0])
        heard(keys[-1], sent, 0.3, from_echo=True)
    wrong = L.tiles[(L.tiles.index(next(t for t in L.tiles if t[0] == keys[-1])) + 1) % 36][0]
    sent = time.time()
    s.key(wrong.lower())
    heard(f"Väärä näppäin {wrong}, pisteet 3", sent, 0.3, from_echo=True)
    s.wait_until_quiet()
    # Nothing but the keys, each once, and the ending (and the echoes): no percentages.
    told = [text for _, text, _ in s.spoken(began) if len(text.split()) > 1]
    check(sorted(t.split()[0] for t in told[:-1]) == sorted(keys) and told[-1].startswith("Väärä"),
          f"the keys {keys} told as {told}")
    sent = time.time()
    s.key("F1")
    # The turn lasts 2 s from Start.
    try:
        wait_for("the time-out", lambda: any("Aika loppui" in text for _, text, _ in s.spoken(sent)), 5)
    except Failure as failure:
        raise Failure(f"{failure}; heard: {s.spoken(sent - 3)}")
    heard("Aika loppui, pisteet 0", sent + 2.0, 0.5)


@timed
def case_bell_disabled(s):
    """A desktop with its bell switched off: silence, no delay, no error, the game goes on."""
    subprocess.run([s.xprobe_path, "nobell"], env=s.env, check=True, timeout=10)
    target = red_tile(start_turn(s))
    sent = time.monotonic()
    s.key(L.tiles[(target + 1) % 36][0].lower())
    s.wait_picture("the game over", lambda q: q.tiles(L.wrong), timeout=2)
    print(f"game over shown {1000 * (time.monotonic() - sent):.0f} ms after the key")
    p = start_turn(s)
    check(not p.tiles(L.wrong), "the next Start works")
    check(s.game.poll() is None, "the game is still running")


@timed
def case_close_during_beeps(s):
    """Closed while the 19 bells of a game over sound: the process ends within 200 ms."""
    target = red_tile(start_turn(s))
    s.key(L.tiles[(target + 1) % 36][0].lower())
    status, took = s.close_and_wait()
    print(f"ended {1000 * took:.0f} ms after the close request")
    check(status == 0, f"the game ended with status {status}")
    check(took <= 0.2, f"the game took {1000 * took:.0f} ms to end")


@timed
def case_minimised(s):
    """Minimised during a turn, the countdown goes on and ends the turn as usual."""
    s.real_time()
    moment = time.monotonic()
    start_turn(s)
    s.xdo("windowunmap", "--sync", s.window)
    check(s.settle_bells(moment, 19, timeout=4) == 19, "the hidden turn did not time out")
    took = [b for b in s.bells if b >= moment][0] - moment
    check(took < 2.6, f"the hidden turn took {took:.2f} s")
    s.xdo("windowmap", "--sync", s.window)
    p = s.wait_picture("the window back", lambda q: q.bar_length() == 0)
    check(len(p.tiles(L.target)) == 1 and not p.tiles(L.wrong), "a time-out: one red, no blue")


def case_covered_and_switched(s):
    """Covered by another window and switched away from during a turn; switched back, the
    keys reach the game again without a click."""
    target = red_tile(start_turn(s))
    cover = s._spawn([s.xprobe_path, "cover"], stdout=subprocess.PIPE, text=True)
    cover_id = cover.stdout.readline().strip()
    s.xdo("windowfocus", "--sync", cover_id)
    s.wait_picture("the cover over the game", lambda q: not q.tiles(L.target))
    s.xdo("windowraise", s.window)
    s.xdo("windowfocus", "--sync", s.window)
    moment = time.monotonic()
    s.key(L.tiles[target][0].lower())
    check(s.settle_bells(moment, 1) == 1, "the key typed after switching back did not score")
    p = s.picture()
    check(len(p.tiles(L.target)) == 1 and p.bar_length() > 0 and not p.tiles(L.wrong), "the game goes on")


def sound_streams(s):
    return subprocess.run(["pactl", "list", "short", "sink-inputs"], env=s.sound.env(),
                          capture_output=True, text=True, timeout=5).stdout.strip()


def needs_sound(s, started=False):
    """Waits for the game's sound stream, which appears once the audio that the first game
    opens has connected; starts that game unless the case has `started` one."""
    if s.sound is None:
        raise Failure("this case needs --sound")
    if not started:
        start_turn(s)
    wait_for("the game's sound stream", lambda: sound_streams(s), 10)


def settle_tones(rec, expected, timeout=4):
    """Waits for `expected` tones, and then until the recording shows that no more of them
    are coming: the count then."""
    wait_for(f"{expected} tones", lambda: len(rec.tones()) >= expected, timeout)
    rec.heard_all()
    return len(rec.tones())


def case_tones(s):
    """The game's own tone through a real sound server, opened with the first game and not
    before: one per hit, 19 at a game over, none with sounds off, and no bell while it plays."""
    s.real_time()
    bells = len(s.bells)
    # Up since its first frame, and since the recorder started below.
    check(not sound_streams(s), "the sound server is held before the first game")
    with s.sound.recorder() as rec:
        check(not sound_streams(s), "the sound server is held before the first game")
        target = red_tile(start_turn(s))
        score = s.last_picture.region(*L.score_box)
        needs_sound(s, started=True)
        s.key(L.tiles[target][0].lower())
        check(settle_tones(rec, 1) == 1, f"a hit played {len(rec.tones())} tones")
        p = s.wait_picture("the next turn", lambda q: q.region(*L.score_box) != score and q.bar_length())
        target = red_tile(p)
        s.key(L.tiles[(target + 1) % 36][0].lower())
        check(settle_tones(rec, 20) == 20, f"a game over played {len(rec.tones()) - 1} tones")
        onsets = rec.tones()[1:]
        gaps = [(b - a) * 1000 // RATE for a, b in zip(onsets, onsets[1:])]
        print(f"game over: 19 tones {min(gaps)}-{max(gaps)} ms apart")
        check(min(gaps) >= 60, "the tones of a game over run together")
        s.key("F3")
        silent_hit_and_miss(s, red_tile(start_turn(s)))
        rec.heard_all()
        check(len(rec.tones()) == 20, "tones played with sounds off")
    s.heard_all()
    check(len(s.bells) == bells, f"{len(s.bells) - bells} bells rang while the server played")


def case_burst_cut_by_start(s):
    """Start drops what is left of a game over's tones: the next hit sounds at once."""
    needs_sound(s)
    with s.sound.recorder() as rec:
        target = red_tile(start_turn(s))
        rec.heard_all()  # what the game that opened the audio left, cut short by this Start
        start = rec.position()
        s.key(L.tiles[(target + 1) % 36][0].lower())
        wait_for("the burst", lambda: len(rec.tones_since(start)) >= 3, 3)
        target = red_tile(start_turn(s))
        rec.heard_all()
        cut = len(rec.tones())
        check(cut < 10, f"{cut} tones of the burst played on after Start")
        position = rec.position()
        s.key(L.tiles[target][0].lower())
        wait_for("the hit's tone", lambda: rec.tones_since(position), 2)
        rec.heard_all()
        check(len(rec.tones()) == cut + 1, f"{len(rec.tones()) - cut} tones for one hit")


def case_server_killed(s):
    """The sound server dies during a game over's tones: no hang, the bell rings for the
    tones not played, and the game goes on with the bell."""
    needs_sound(s)
    with s.sound.recorder() as rec:
        target = red_tile(start_turn(s))
        # The game that opened the audio may have run out meanwhile: its tones, which this
        # Start cut short, are not this burst's.
        rec.heard_all()
        start = rec.position()
        moment = time.monotonic()
        s.key(L.tiles[(target + 1) % 36][0].lower())
        wait_for("the burst", lambda: len(rec.tones_since(start)) >= 4, 3)
        s.sound.kill()
    played = len(rec.tones_since(start))
    wait_for("the rest as bells", lambda: played + s.bells_after(moment) >= 19, 3)
    s.heard_all()
    total = played + s.bells_after(moment)
    print(f"{played} tones, then {s.bells_after(moment)} bells")
    # The tone cut off by the kill is rung again.
    check(19 <= total <= 20, f"{played} tones and {s.bells_after(moment)} bells")
    target = red_tile(start_turn(s))
    moment = time.monotonic()
    s.key(L.tiles[target][0].lower())
    check(s.settle_bells(moment, 1) == 1, "a hit without a server rings the bell")


def case_server_back(s):
    """A server that was gone and comes back: the next game's tones come through it."""
    needs_sound(s)
    s.sound.kill()
    target = red_tile(start_turn(s))
    moment = time.monotonic()
    s.key(L.tiles[target][0].lower())
    check(s.settle_bells(moment, 1) == 1, "a hit without a server rings the bell")
    s.sound.start()
    with s.sound.recorder() as rec:
        target = red_tile(start_turn(s))
        needs_sound(s, started=True)
        moment = time.monotonic()
        s.key(L.tiles[target][0].lower())
        check(settle_tones(rec, 1) == 1, "no tone from the server that came back")
        check(s.bells_after(moment) == 0, "the bell rang although the server is back")


@timed
def case_server_hung(s):
    """A server that accepts the connection and never answers: bells, and an exit at once."""
    folder = os.path.join(s.env["XDG_RUNTIME_DIR"], "pulse")
    os.makedirs(folder, exist_ok=True)
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    listener.bind(os.path.join(folder, "native"))
    listener.listen(16)
    try:
        target = red_tile(start_turn(s))
        moment = time.monotonic()
        s.key(L.tiles[(target + 1) % 36][0].lower())
        check(s.settle_bells(moment, 19) == 19, "a game over rings 19 bells")
        start_turn(s)
        status, took = s.close_and_wait()
        check(status == 0 and took <= 1, f"status {status} after {took:.2f} s")
    finally:
        listener.close()


def pe_machine(path):
    """The architecture a Windows program is built for: "x64" or "x86"."""
    with open(path, "rb") as f:
        data = f.read(4096)
    at = int.from_bytes(data[0x3C:0x40], "little")
    machine = int.from_bytes(data[at + 4:at + 6], "little")
    return {0x8664: "x64", 0x14C: "x86"}.get(machine, hex(machine))


def case_installer(s):
    """The installer, silently: the program for this Windows (64-bit on 64-bit Windows, 32-bit
    on 32-bit), its licences, a Start-menu entry and an entry in the list of programs; the
    installed program opens; the uninstaller, silently, takes all of it away again."""
    if not getattr(s, "installer", None):
        raise Failure("this case needs --wine and --installer")
    folder = os.path.join(s.env["WINEPREFIX"], "drive_c", "Program Files", "Sormio IV")
    link = os.path.join(s.env["WINEPREFIX"], "drive_c", "ProgramData", "Microsoft", "Windows",
                        "Start Menu", "Programs", "Sormio IV.lnk")
    key = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\fi.sormio.SormioIV"
    s.close_and_wait()  # the session's own run of the program: the installed one comes next
    s.wine(s.installer, "/S")
    installed = sorted(os.listdir(folder))
    check(installed == sorted(["sormio.exe", "Uninstall.exe", "LICENSE.txt", "fonts-lato.txt",
                               "fonts-dejavu-core.txt", "fonts-dancingscript.txt"]),
          f"installed: {installed}")
    wanted = "x64" if s.bits == 64 else "x86"
    check(pe_machine(os.path.join(folder, "sormio.exe")) == wanted,
          f"the {pe_machine(os.path.join(folder, 'sormio.exe'))} program installed on {s.bits}-bit Windows")
    check(os.path.exists(link), "no Start-menu entry")
    check(s.wine("reg", "query", key, check=False) == 0, "not in the list of programs")
    s.game_path = os.path.join(folder, "sormio.exe")
    s.launch()
    case_startup(s)
    status, _ = s.close_and_wait()
    check(status == 0, f"the installed program ended with status {status}")
    s.wine(os.path.join(folder, "Uninstall.exe"), "/S")
    # The uninstaller runs on from a copy of itself, so that it can remove its own file.
    wait_for("the uninstaller to finish", lambda: not os.path.exists(folder), 30)
    check(not os.path.exists(link), "the Start-menu entry stays")
    check(s.wine("reg", "query", key, check=False) != 0, "still in the list of programs")


# Phones upright and on their side, a tablet, laptops and a 4K monitor: (width, height) in CSS
# pixels, device pixels to the CSS pixel.
SCREENS = [(390, 844, 3), (844, 390, 3), (768, 1024, 2), (1366, 768, 1), (1920, 1080, 1),
           (3840, 2160, 1)]


def case_screens(s):
    """On every screen the whole window is in view, centred, the page never scrolls, and every
    tile's lines are the same whole number of device pixels; the window keeps its own size where
    it fits. Judged from screenshots: the keyboard is found by its lines, and the window's place
    and scale follow from it."""
    import PIL.Image
    import PIL.ImageChops
    x0, y0 = min(l for _, l, _ in L.tiles), min(t for _, _, t in L.tiles)
    x1, y1 = max(l for _, l, _ in L.tiles) + L.tile_size, max(t for _, _, t in L.tiles) + L.tile_size
    for width, height, dpr in SCREENS:
        where = f"at {width} x {height}, {dpr} device pixels to the pixel"
        if not s.use_screen(width, height, dpr):
            print(f"{where}: not tried, the browser's window cannot be made so small")
            continue
        shot = s.screen()
        lines = PIL.ImageChops.difference(shot, PIL.Image.new("RGB", shot.size, L.border)).convert("L")
        lines = lines.point(lambda v: 255 if v == 0 else 0)
        # Rows along the tiles' edges are long runs of the line's colour; text has none.
        rows = [y for y in range(shot.height)
                if lines.crop((0, y, shot.width, y + 1)).histogram()[255] >= 8 * L.tile_size * dpr / 3]
        check(rows, f"no keyboard found {where}")
        box = lines.crop((0, rows[0], shot.width, rows[-1] + 1)).getbbox()
        k = (box[2] - box[0]) / (x1 - x0)
        left, top = box[0] - round(x0 * k), rows[0] - round(y0 * k)
        w, h = round(L.client_w * k), round(L.client_h * k)
        menu = round(20 * k)
        check(left >= 0 and top - menu >= 0 and left + w <= shot.width and top + h <= shot.height,
              f"the window is cut off {where}: {w} x {h} device pixels at ({left}, {top})")
        # Centred to a CSS pixel: the window is placed on whole ones.
        check(abs(left - (shot.width - left - w)) <= 2 * dpr and abs(top - menu - (shot.height - top - h)) <= 2 * dpr,
              f"the window is not centred {where}: at ({left}, {top}) of {shot.size}")
        if L.client_w <= width and L.client_h + 20 <= height:
            check(abs(k - dpr) < 0.01, f"the window is scaled by {k / dpr:.3f} {where}, where it fits")
        client = shot.crop((left, top, left + w, top + h))
        p = Picture(ppm=b"P6 %d %d 255\n" % client.size + client.tobytes(), scale=k)
        edges = border_edges(p)
        check(all(edges.values()) and len(set(edges.values())) == 1,
              f"the tiles' lines {where} are {sorted(set(edges.values()))} device pixels")
        scrolls = s.evaluate("(e => e.scrollWidth > innerWidth || e.scrollHeight > innerHeight)"
                             "(document.scrollingElement)")
        check(not scrolls, f"the page scrolls {where}")
        print(f"{where}: {w} x {h} device pixels, lines {edges[(0, 'left')]}")


def case_touch(s):
    """Played on a phone by touch alone: Start by two taps brings up the on-screen keyboard
    (the focus in a field that takes text) and keeps it up through the game, a tap on the game
    included; what the keyboard types counts as typed, whether committed at once or composed
    into a word, once; a keydown that names no key, a word the keyboard replaces and a word
    it predicts type nothing; an accented letter is a miss without a blue tile."""
    s.use_screen(390, 844, 3, touch=True)
    s.tap("#mnuohjelma")
    s.tap("#mnustart")
    focused = lambda: s.evaluate("document.activeElement.id")
    check(focused() == "typing", f"after a tap on Start the focus is on {focused()!r}")
    p = s.wait_picture("one red tile and the bar", turn_shown)
    word = ""
    for composing in (False, True, True):
        glyph = L.tiles[red_tile(p)][0].lower()
        score = p.region(*L.score_box)
        word = word + glyph if composing else ""
        s.browser.typed(word if composing else glyph, composing=composing)
        p = s.wait_picture("the next turn", lambda q: q.region(*L.score_box) != score and q.bar_length())
        check(not p.tiles(L.wrong), f"{glyph} typed on the on-screen keyboard was a wrong key")
    s.tap("#Lblotsikko")
    check(focused() == "typing", f"after a tap on the game the focus is on {focused()!r}")
    score = p.region(*L.score_box)
    s.browser.typed(word[::-1] if len(word) > 1 and word[::-1] != word else "xq", composing=True)
    s.browser.typed("kissa ")
    # Then the lit key, which must score once the words before it are handled, and had they
    # typed a key, could not.
    p = s.picture()
    check(p.bar_length() and p.region(*L.score_box) == score and not p.tiles(L.wrong),
          "a replaced or predicted word typed a key")
    s.browser.typed(L.tiles[red_tile(p)][0].lower())
    p = s.wait_picture("the next turn", lambda q: q.region(*L.score_box) != score or not q.bar_length())
    check(p.bar_length() and not p.tiles(L.wrong), "a replaced or predicted word typed a key")
    s.browser.typed("\u00e9")
    p = s.wait_picture("the game over", lambda q: q.bar_length() == 0)
    check(not p.tiles(L.wrong), "\u00e9 was taken for a key of the game")


def case_page(s):
    """What only a page has to get right: the browser's own F1 and F3 prevented, its other
    shortcuts left alone, nothing fetched from elsewhere and nothing stored, the window inside
    the viewport; what a screen reader is handed during and after a game; and "Lopeta", which
    leaves the page as freshly loaded."""
    check(s.evaluate("document.title") == L.caption, "the document's title")
    if s.browser_kind == "chromium":
        errors = s.browser.page("Page.getInstallabilityErrors")["installabilityErrors"]
        check(not errors, f"not installable: {errors}")
    box = json.loads(s.evaluate("JSON.stringify(document.getElementById('Frmsormio').getBoundingClientRect())"))
    check(box["right"] <= drivers.VIEWPORT[0] and box["bottom"] <= drivers.VIEWPORT[1],
          f"the window reaches {box['right']:.0f} x {box['bottom']:.0f}")
    s.key("F10", "Down", "Return")  # the menu from the keyboard: its second item
    sound_item = "document.getElementById('mnusound').firstChild.textContent"
    wait_for("F10, Down and Enter to switch the sounds off",
             lambda: s.evaluate(sound_item) == "Äänet poissa", 2)
    s.key("Tab", "Return", "Down", "Return")  # without F keys: Tab to the menu
    wait_for("Tab, Enter, Down and Enter to switch them on",
             lambda: s.evaluate(sound_item) == "Äänet päällä", 2)
    s.key("F3", "F3")
    s.evaluate("window.seen = []; addEventListener('keydown', e => seen.push(e.key + ' ' + e.defaultPrevented))")
    target = red_tile(start_turn(s))
    s.key("F3", "F3")
    # Real keys (WebKit's) reach the page a moment after they are typed.
    seen = wait_for("the page to see the keys", lambda: (lambda k: k if k.count(",") >= 2 else None)(
        s.evaluate("seen.join()")), 5)
    check(seen == "F1 true,F3 true,F3 true", f"F1 and F3 reached the browser: {seen}")
    if s.browser_kind == "chromium":
        key = L.tiles[target][0]
        tree = s.browser.accessibility_tree()
        check(("progressbar", key, "", "") in [(r, n, d, "") for r, n, d, _ in tree],
              f"no progress bar named {key}")
        check(all(("image", g, "", "") in tree for g, _, _ in L.tiles), "a tile is unnamed")
        check(("generic", "", "pisteet", "") in tree and ("StaticText", "0", "", "") in tree,
              "the score is not told as 0, pisteet")
    focused = "document.activeElement.getAttribute('aria-label')"
    check(s.evaluate(focused) == L.tiles[target][0], "the focus is not on the lit tile")
    wrong = (target + 7) % 36
    s.key(L.tiles[wrong][0].lower())
    s.wait_picture("the blue key", lambda q: q.tiles(L.wrong))
    told = s.evaluate(focused)
    check(told == f"Väärä näppäin {L.tiles[wrong][0]}, pisteet 0", f"the end is told as {told!r}")
    if s.browser_kind == "chromium":
        check(("image", L.tiles[wrong][0], "väärä", "") in s.browser.accessibility_tree(),
              "the wrong key is not told")
    start_turn(s)
    moment = s.mark()
    s.evaluate("document.getElementById('mnuohjelma').click(); document.getElementById('mnuquit').click()")
    p = s.wait_picture("the page as loaded", lambda q: q.bar_length() == 0 and not q.tiles(L.target))
    # Three seconds on by the page's clock, past where the turn would have run out, and two
    # frames drawn since.
    s.evaluate("sormioAdvanceClock(3000)")
    s.evaluate("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(() => r(1))))")
    check(s.picture().region(0, 0, L.client_w, L.client_h) == p.region(0, 0, L.client_w, L.client_h), "the page changed after Lopeta")
    check(not p.region_has(*L.score_box, L.white), "a score is shown after Lopeta")
    check(s.bells_after(moment) == 0, "a game went on after Lopeta")
    check(s.evaluate("document.cookie + localStorage.length + sessionStorage.length") == "00",
          "the page stored something")
    foreign = s.evaluate(f"performance.getEntriesByType('resource').map(e => e.name)"
                         f".filter(n => !n.startsWith({s.url!r}))")
    check(not foreign, f"fetched from outside the page's folder: {foreign}")
    refused = s.evaluate("sormioViolations")
    check(not refused, f"the page's own policy refused it: {refused}")
    s.evaluate("const script = document.createElement('script'); script.textContent = 'window.ran = 1';"
               "document.head.append(script)")
    check(s.evaluate("window.ran === undefined && sormioViolations.length === 1"),
          "the page's policy let an inline script run")


def case_no_audio(s):
    """Where no audio plays, every tone rings the platform's bell instead: a page, which has
    none of the system's, buzzes the device where it can."""
    s.evaluate("window.AudioContext = function () { throw new Error('no audio here'); };"
               "window.sormioBuzzes = 0; navigator.vibrate = () => ++sormioBuzzes > 0")
    target = red_tile(start_turn(s))
    s.key(L.tiles[target][0].lower())
    wait_for("the hit's bell", lambda: s.evaluate("sormioBuzzes") >= 1, 2)
    target = red_tile(s.picture())
    s.key(L.tiles[(target + 1) % len(L.tiles)][0].lower())
    wait_for("the game over's bells", lambda: s.evaluate("sormioBuzzes") >= 20, 2)
    s.heard_all()
    check(s.evaluate("sormioBuzzes") == 20, f"{s.evaluate('sormioBuzzes')} bells for 20 tones")


def case_offline(s):
    """After one visit the page loads and plays with its server gone."""
    wait_for("the service worker", lambda: s.evaluate(
        "navigator.serviceWorker.ready.then(() => !!navigator.serviceWorker.controller || "
        "caches.keys().then(k => k.length > 0))"), 10)
    os.killpg(s.server.pid, signal.SIGTERM)
    s.server.wait()
    s.browser.reload()
    s.wait_ready()
    check(s.evaluate("!!navigator.serviceWorker.controller"), "the page did not come from its cache")
    case_hit(s)


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}
