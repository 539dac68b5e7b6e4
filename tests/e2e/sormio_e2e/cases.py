"""The end-to-end cases, written once against the session interface (session.py): each plays
the game as a person would and checks what the window shows, what is heard and what a screen
reader is told. Which session runs which case is each session module's RUNS; a case that only
one kind of session can run lives in that session's module."""
import subprocess
import time

from .common import Failure, L, check, turn_shown, wait_for
from .sound_server import RATE


def timed(case):
    """Marks a case whose point is time (a pace, a turn's length, how soon a close ends the
    program, when a screen reader speaks): ctest labels it `timed` and runs it with the machine
    to itself. No other case judges the clock."""
    case.timed = True
    return case


def quiet(case):
    """Marks a timed case judged in tenths of a second across several processes (when a screen
    reader speaks): even work at the idle scheduling priority beside it (a compiler's, dpkg's)
    delays it past that through what they share besides the cores, so it runs with nothing
    beside it (ctest label `quiet`)."""
    case.quiet = True
    return timed(case)


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
    # until then is the start screen as it was, or it on the way to F1's turn where the window
    # system shows the turn's parts one after another (under Wine the bar is a window of its
    # own): new in the bar, the score and at most one red tile, nothing else.
    s.key("e", "0", "space", "Return", "a", "F1")

    def started():
        p = s.picture()
        if turn_shown(p):
            return p
        check(only_turn_drawn(before, p), "keys before Start changed the picture")
        return None
    wait_for("Start after the keys", started, 10)
    s.heard_all()
    check(s.bells_after(moment) == 0, "keys before Start rang the bell")


def only_turn_drawn(before, p):
    """Whether picture p differs from the pixels `before` only where a turn is drawn."""
    now = p.region(0, 0, L.client_w, L.client_h)
    if now == before:
        return True
    red = p.tiles(L.target)
    if len(red) > 1:
        return False
    _, _, _, bar_height = L.bar_box
    places = [L.score_box, (L.bar_left, L.bar_row - 1, L.client_w, L.bar_row + bar_height + 1)]
    places += [(left, top, left + L.tile_size, top + L.tile_size)
               for _, left, top in (L.tiles[t] for t in red)]
    for i in (i for i, (a, b) in enumerate(zip(before, now)) if a != b):
        x, y = i % L.client_w, i // L.client_w
        if not any(x0 <= x < x1 and y0 <= y < y1 for x0, y0, x1, y1 in places):
            return False
    return True


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


@quiet
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
def case_close_during_beeps(s):
    """Closed while the 19 bells of a game over sound: the process ends within 200 ms."""
    target = red_tile(start_turn(s))
    s.key(L.tiles[(target + 1) % 36][0].lower())
    status, took = s.close_and_wait()
    print(f"ended {1000 * took:.0f} ms after the close request")
    check(status == 0, f"the game ended with status {status}")
    check(took <= 0.2, f"the game took {1000 * took:.0f} ms to end")


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


def cases_of(names, module):
    """The cases a module defines (its functions named case_NAME), by NAME."""
    return {name[5:]: fn for name, fn in names.items()
            if name.startswith("case_") and fn.__module__ == module}


CASES = cases_of(globals(), __name__)
