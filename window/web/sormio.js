// The page's side of the game: the document, the clock, the keys and the sound. The game and
// everything around it (Start, keys, ticks, tones, what a screen reader is told) run in
// sormio.wasm; this hands it what happens, carries out what it asks, and draws what it shows,
// once a frame and only while something changes.
"use strict";
(() => {
    const $ = (id) => document.getElementById(id);
    // Written by the build from the module's own declarations, and from the window's.
    const Change = @CHANGE@;
    const Text = @TEXT@;
    const Page = @PAGE@;
    const Layout = @LAYOUT@;
    const TILES = Page.tiles;
    const ids = Page.ids;
    const decoder = new TextDecoder();
    let game = null;
    let memory = null;
    let changes = 0;
    let frameWanted = false;
    let wakeAt = -1;
    let timeout = 0;
    let audio = null;
    let tone = null;
    let queuedUntil = 0;
    let sounding = []; // every tone since the last silence

    const tiles = [];
    for (let t = 0; t < TILES; ++t) {
        tiles.push($(ids.tile + t));
    }
    const bar = $(ids.bar);
    const score = $(ids.score);
    const ending = $(ids.ending);
    const application = $(ids.window);
    const menu = $(ids.menu);
    const items = $(ids.menu + "-items");
    const soundItem = $(ids.sound).firstElementChild;
    const field = $(ids.typing);

    // The whole window in view on any screen, centred, and laid out smaller where it does not
    // fit at its own size, on whole device pixels as the desktop windows are at fractional
    // scales. The play area is laid out in device pixels (and shown at one CSS pixel to the
    // device pixel): each edge is the window's coordinate rounded to a device pixel, and a
    // tile's lines (its background, the colour drawn inside them) are as many whole device
    // pixels thick, from its left and top edges and those of the next, which share its right and
    // bottom line. One scale for the whole would put some lines between device pixels and blur
    // them, and a browser lays out fractions of a CSS pixel only to its own precision. The style
    // sheet has laid it out so already, unrounded, before this runs: nothing moves but by a
    // fraction of a pixel.
    const client = $(ids.client);
    const menubar = $(ids.menubar);
    const design = new Map();
    for (const [id, [left, top, width, height, font]] of Object.entries(Layout.controls)) {
        const element = $(id);
        design.set(element, { left, top, width, height, font, lined: tiles.includes(element) });
    }
    let k = 1; // device pixels to the window's pixel

    // From the window's coordinates to whole device pixels.
    const at = (v) => Math.round(v * k);
    const span = (from, length) => Math.max(1, at(from + length) - at(from));
    const px = (v) => v + "px";

    function fit() {
        // The part of the screen left to the page: less than the window where an on-screen
        // keyboard covers some of it, but not less where the player zooms in with two fingers.
        const view = window.visualViewport;
        const shown = view && Math.abs(view.scale - 1) < 0.01;
        const width = shown ? view.width : innerWidth, height = shown ? view.height : innerHeight;
        Object.assign(document.body.style, shown ? {
            left: px(view.offsetLeft), top: px(view.offsetTop), width: px(width), height: px(height),
        } : { left: "", top: "", width: "", height: "" });
        // Down, the menu and the play area are each rounded up to a whole CSS pixel.
        const { width: clientWidth, height: clientHeight, menu: menuHeight } = Layout;
        const s = Math.min(width / clientWidth, height / (clientHeight + menuHeight)) < 1
            ? Math.min(width / clientWidth, (height - 1) / (clientHeight + menuHeight)) : 1;
        const dpr = devicePixelRatio;
        k = s * dpr;
        for (const [element, r] of design) {
            const style = element.style;
            style.left = px(at(r.left));
            style.top = px(at(r.top));
            style.fontSize = px(r.font * k);
            if (r.lined) {
                // Its right and bottom lines are the next tile's left and top.
                style.width = `calc(${px(span(r.left, r.width - 1))} + var(--line))`;
                style.height = `calc(${px(span(r.top, r.height - 1))} + var(--line))`;
            } else {
                style.height = px(span(r.top, r.height));
                if (element !== bar) { // the bar's width is the turn's, set as it is drawn
                    style.width = px(span(r.left, r.width));
                }
            }
        }
        // Whole CSS pixels from the corner of the screen: whole device pixels too.
        const w = at(clientWidth), h = at(clientHeight), menu = Math.ceil(menuHeight * s);
        const across = Math.ceil(w / dpr), down = menu + Math.ceil(h / dpr);
        Object.assign(application.style, {
            position: "absolute", left: px(Math.max(0, Math.floor((width - across) / 2))),
            top: px(Math.max(0, Math.floor((height - down) / 2))), width: px(across), height: px(down),
        });
        Object.assign(client.style, {
            top: px(menu), width: px(w), height: px(h), transform: `scale(${1 / dpr})`,
        });
        client.style.setProperty("--line", px(Math.max(1, Math.floor(k))));
        // Its own lengths zoomed, where the style sheet scaled them: its text is then the size
        // that a browser's reading aids take it for.
        menubar.style.setProperty("--w", "1px");
        menubar.style.zoom = menu / menuHeight;
        changes |= Change.Bar;
        if (game !== null) {
            wantFrame();
        }
    }

    function text(which) {
        const bytes = new Uint8Array(memory.buffer, game.sormio_text(which));
        return decoder.decode(bytes.subarray(0, bytes.indexOf(0)));
    }

    // A screen reader speaks what the focus comes to: the game says where it goes at each turn
    // (a tile or the bar, named by the key to press) and at the end of a game (an element named
    // by how it ended). Nothing else is told mid-game: the bar's value is set once a turn, as
    // a value changing every frame floods a screen reader with events.
    const toldTo = [...tiles, bar];
    // Where the last turn was told, while it lasts: the menu gives the focus back there. Not
    // where the game has moved on to since: that is told with its frame.
    let turnFocus = null;
    // A game started by a tap is typed on the on-screen keyboard, which stays up only while the
    // focus stays in the field it types into: the focus stays there, and what a screen reader
    // is told is the field's name.
    let onScreen = false;
    let lastPointer = "";

    function moveFocus(to) {
        to.focus({ preventScroll: true });
    }

    // What a screen reader is told at a turn (the key, by the focus coming to it) is done once
    // the turn's frame is drawn: the browser's work for a focus, half a millisecond on a slow
    // machine, would otherwise hold back the frame that shows the key. All of it together, the
    // focus last: a reader speaks the bar's new value when it changes while the bar has the focus.
    const afterFrame = new MessageChannel();
    let untold = 0;
    afterFrame.port1.onmessage = () => {
        const drawn = untold;
        untold = 0;
        if (drawn & Change.Turn && !bar.hidden) {
            tellTurn();
        }
        // After the focus has left it: a focus lost to the document has its title said.
        if (drawn & Change.Ending && !text(Text.Ending)) {
            ending.hidden = true;
            ending.removeAttribute("aria-label");
        }
    };

    // What only shows is drawn at once, what a screen reader is told before it or after the frame.
    function draw() {
        const drawn = changes;
        changes = 0;
        const colours = drawn & Change.Tiles ? tiles.map((_, t) => game.sormio_tile(t)) : null;
        tell(drawn, colours);
        show(drawn, colours);
        if (drawn & (Change.Turn | Change.Ending)) {
            untold |= drawn;
            afterFrame.port2.postMessage(0);
        }
    }

    function tell(drawn, colours) {
        for (let t = 0; colours && t < TILES; ++t) {
            if (tiles[t].sormioColour !== colours[t]) {
                const state = text(Text.TileState + t);
                state ? tiles[t].setAttribute("aria-description", state)
                      : tiles[t].removeAttribute("aria-description");
            }
        }
        const said = drawn & Change.Ending ? text(Text.Ending) : "";
        if (said && onScreen) {
            field.setAttribute("aria-label", said);
        } else if (said) {
            // Before the bar hides: a focus lost to the document has its title said first.
            ending.setAttribute("aria-label", said);
            ending.hidden = false;
            turnFocus = null;
            moveFocus(ending);
        }
        if (drawn & Change.Bar) {
            const shown = game.sormio_bar() >= 0;
            if (bar.hidden === shown) {
                if (shown) {
                    // Shown with its name and value: a progress bar without a value is read as
                    // half full, and a name that comes only with the focus may be read after it
                    // (a browser's reader has read the value first, then the key, as it came).
                    nameBar();
                }
                bar.hidden = !shown;
            }
            if (!shown) {
                turnFocus = null;
            }
        }
    }

    // The bar as a screen reader reads it: named by the key to press, with the value told.
    function nameBar() {
        bar.setAttribute("aria-label", text(Text.Key));
        bar.setAttribute("aria-valuenow", game.sormio_told_value());
    }

    function tellTurn() {
        const key = text(Text.Key);
        // Told by the focus coming to it: described as the one to press as well, it would have a
        // screen reader say so too, and a turn is short.
        tiles[game.sormio_turn_tile()]?.removeAttribute("aria-description");
        nameBar();
        if (onScreen) {
            field.setAttribute("aria-label", key);
        }
        turnFocus = onScreen ? field : toldTo[game.sormio_told()];
        if (items.hidden) {
            moveFocus(turnFocus);
        }
    }

    function show(drawn, colours) {
        for (let t = 0; colours && t < TILES; ++t) {
            if (tiles[t].sormioColour !== colours[t]) {
                tiles[t].sormioColour = colours[t];
                tiles[t].style.setProperty("--fill", "#" + colours[t].toString(16).padStart(6, "0"));
            }
        }
        if (drawn & Change.Score) {
            score.textContent = text(Text.Score);
            score.hidden = !game.sormio_score_shown();
        }
        if (drawn & Change.SoundItem) {
            soundItem.textContent = text(Text.SoundItem);
        }
        const width = drawn & Change.Bar ? game.sormio_bar() : -1;
        if (width >= 0) {
            bar.style.width = width > 0 ? px(span(design.get(bar).left, width)) : "0px";
        }
    }

    function frame() {
        frameWanted = false;
        if (wakeAt >= 0) {
            game.sormio_wake(performance.now());
        }
        draw();
        if (wakeAt >= 0) {
            wantFrame(); // the bar moves on every frame while a turn runs
        }
    }

    function wantFrame() {
        if (!frameWanted) {
            frameWanted = true;
            requestAnimationFrame(frame);
        }
    }

    // A bar that runs out between two frames ends its turn on time: its tones and its
    // screen-reader sentence need not wait for the frame. The module says when to look, a
    // little before the end, and when looked whether to look again now or later; it is waited
    // out in posted tasks, so that a key can still come in between.
    const nudge = new MessageChannel();
    let endTimerAt = -1;
    nudge.port1.onmessage = lookAtEnd;

    function lookAtEnd() {
        const woken = game.sormio_woken(performance.now());
        if (woken === Page.woken.Wait) {
            nudge.port2.postMessage(0);
        } else if (woken === Page.woken.Early) {
            setEndTimer(game.sormio_end_timer_at(), true);
        }
    }

    function setEndTimer(at, again = false) {
        if (at !== endTimerAt || again) {
            endTimerAt = at;
            clearTimeout(timeout);
            if (at >= 0) {
                timeout = setTimeout(lookAtEnd, Math.max(0, Math.floor(at - performance.now())));
            }
        }
    }

    // Made (or woken) inside a key or click handler, where browsers let a page start sound:
    // the game opens its audio at a Start, and hears the answer once that call is over.
    function openAudio() {
        const opened = makeAudio();
        queueMicrotask(() => opened ? game.sormio_audio_opened() : game.sormio_audio_lost(0));
    }

    function makeAudio() {
        try {
            if (audio === null) {
                // The shortest buffer the browser allows (a number below it is raised to it):
                // Chromium's "interactive" is four times as long.
                audio = new AudioContext({ latencyHint: 0 });
                const { frames, rate } = Page.tone;
                const samples = new Int16Array(memory.buffer, game.sormio_tone(), frames);
                tone = audio.createBuffer(1, frames, rate);
                const channel = tone.getChannelData(0);
                for (let i = 0; i < frames; ++i) {
                    channel[i] = samples[i] / 32768;
                }
            }
            if (audio.state === "suspended") {
                audio.resume().catch(() => {});
            }
            return audio.state !== "closed";
        } catch (e) {
            audio = null; // no sound on this browser: the game rings its bell instead
            return false;
        }
    }

    // Each tone and its silence after the last one queued, on the audio clock.
    function playTones(n) {
        if (audio === null || audio.state === "closed") {
            return 0;
        }
        let at = Math.max(audio.currentTime, queuedUntil);
        for (let i = 0; i < n; ++i, at += tone.duration) {
            const source = audio.createBufferSource();
            source.buffer = tone;
            source.connect(audio.destination);
            source.start(at);
            sounding.push(source);
        }
        queuedUntil = at;
        return 1;
    }

    function silence() {
        for (const source of sounding) {
            source.stop(); // nothing, where it has played
        }
        sounding = [];
        queuedUntil = 0;
    }

    // A page has no alert sound of the system's: where the device can, it buzzes for as long as
    // a tone would sound.
    function ringBell() {
        if (navigator.vibrate && navigator.userActivation?.hasBeenActive !== false) {
            navigator.vibrate(40);
        }
    }

    // A page cannot close its tab: the game ends as far as it can, and stands as loaded. Not
    // while the module is still inside the call that asked for it.
    function quit() {
        queueMicrotask(() => {
            silence();
            wakeAt = -1;
            setEndTimer(-1);
            game.sormio_load(performance.now());
        });
    }

    // What the module asks of the page.
    const page = {
        sormio_page_draw(what) {
            changes |= what;
            wantFrame();
        },
        sormio_page_wake_at(ms, endMs) {
            wakeAt = ms;
            if (ms >= 0) {
                wantFrame();
            }
            setEndTimer(endMs);
        },
        sormio_page_open_audio: openAudio,
        sormio_page_play_tones: playTones,
        sormio_page_drop_tones: silence,
        sormio_page_ring_bell: ringBell,
        sormio_page_quit: quit,
    };

    function closeMenu() {
        items.hidden = true;
        menu.setAttribute("aria-expanded", "false");
        if (turnFocus !== null) {
            moveFocus(turnFocus); // back to the turn
        } else if (!ending.hidden) {
            moveFocus(ending);
        } else {
            document.activeElement.blur();
        }
    }

    // Every call carries the time of the player's action, the event's own time stamp: a turn
    // starts when F1 went down, and a key counts when it was typed, however long the browser
    // took to hand it over (opening the audio at the first Start takes it a while).
    function command(name, at, tapped = false) {
        closeMenu();
        if (Page.commands[name] === Page.start) {
            onScreen = tapped;
            if (tapped) {
                // Now, while the tap is being handled: only then does a browser bring up its
                // on-screen keyboard.
                field.value = "";
                fieldText = "";
                moveFocus(field);
            }
        }
        game.sormio_command(Page.commands[name], at);
    }

    // What the on-screen keyboard has put in the field: a character added at its end is a key
    // typed; a word replaced, predicted or deleted types nothing. A hardware keyboard's keys
    // are taken at their keypress and never reach the field.
    let fieldText = "";
    field.addEventListener("input", (e) => {
        const now = field.value;
        const added = now.startsWith(fieldText) ? [...now.slice(fieldText.length)] : [];
        fieldText = now;
        if (added.length === 1 && game !== null) {
            game.sormio_key_text(write(added[0]), e.timeStamp);
        }
        if (!e.isComposing && now.length > 32) {
            field.value = fieldText = "";
        }
    });

    // Into the module's text buffer; how many it took.
    function write(characters) {
        const buffer = new Uint32Array(memory.buffer, game.sormio_text_buffer(), Page.textBuffer);
        let n = 0;
        for (const c of characters) {
            if (n === buffer.length) {
                break;
            }
            buffer[n++] = c.codePointAt(0);
        }
        return n;
    }

    // One key press as the browser reports it, to the game, which decides what it is and says
    // whether it took it. A keydown's character comes with its keypress: after a dead key, only
    // that carries the character typed, where the keydown may carry the plain letter.
    function press(e, keydown) {
        const key = e.key === "Unidentified" && e.charCode > 0 ? String.fromCodePoint(e.charCode)
            : e.key;
        const altGraph = e.getModifierState("AltGraph");
        const modifiers = (e.ctrlKey && !altGraph ? 1 : 0) | (e.altKey && !altGraph ? 2 : 0) |
            (e.metaKey ? 4 : 0) | (keydown ? 8 : 0) | (e.shiftKey ? 16 : 0);
        return game.sormio_key(write(key), modifiers, e.timeStamp) !== 0;
    }

    addEventListener("keydown", (e) => {
        if (game === null || e.isComposing) {
            return;
        }
        const plain = !e.ctrlKey && !e.altKey && !e.metaKey;
        if (items.hidden && e.target === menu && plain && (e.key === "Enter" || e.key === " ")) {
            e.preventDefault(); // opened here, the same in every browser
            openMenu();
            return;
        }
        const shortcut = /^F[0-9]+$/.test(e.key);
        if ((items.hidden || shortcut) && press(e, true)) {
            e.preventDefault(); // not the browser's help or find, no scrolling, no focus moved
            if (shortcut) {
                // As a command from the menu: the focus leaves whatever the page's own had, and
                // the next turn brings it back to the game.
                onScreen = false;
                closeMenu();
            }
        } else if (e.key === "F10" && plain) {
            e.preventDefault(); // the menu from the keyboard, as a desktop window's
            openMenu();
        } else if (!items.hidden && plain) {
            menuKey(e);
        }
    });

    addEventListener("keypress", (e) => {
        if (game !== null && items.hidden && press(e, false)) {
            e.preventDefault(); // no scrolling by Space, no button pressed by Enter
        }
    });

    function openMenu() {
        items.hidden = false;
        menu.setAttribute("aria-expanded", "true");
        items.querySelector("button").focus();
    }

    // Up and down move among the items, Enter or Space chooses one, Escape closes the menu.
    function menuKey(e) {
        const all = [...items.querySelectorAll("button")];
        const at = all.indexOf(document.activeElement);
        if (e.key === "ArrowDown" || e.key === "ArrowUp") {
            e.preventDefault();
            const step = e.key === "ArrowDown" ? 1 : all.length - 1;
            all[(Math.max(at, 0) + step) % all.length].focus();
        } else if ((e.key === "Enter" || e.key === " ") && at >= 0) {
            e.preventDefault(); // chosen here, the same in every browser
            command(all[at].id, e.timeStamp);
        } else if (e.key === "Escape" || e.key === "Tab") {
            e.preventDefault();
            closeMenu();
        }
    }

    menu.addEventListener("click", () => {
        if (items.hidden) {
            openMenu();
        } else {
            closeMenu();
        }
    });
    items.addEventListener("click", (e) => {
        const item = e.target.closest("button");
        if (item !== null && game !== null) {
            command(item.id, e.timeStamp, lastPointer === "touch");
        }
    });
    // Not a mouse button's listener: with one, a browser tells screen readers that every
    // element of the page can be clicked.
    addEventListener("pointerdown", (e) => {
        lastPointer = e.pointerType;
        if (!items.hidden && !e.target.closest("#" + ids.menubar)) {
            closeMenu();
        } else if (onScreen && !e.target.closest("#" + ids.menubar)) {
            e.preventDefault(); // a tap on the game keeps its keyboard up
        }
    });

    async function load() {
        // Compiled as it downloads, where the server names it WebAssembly.
        let module;
        try {
            module = await WebAssembly.compileStreaming(fetch("sormio.wasm"));
        } catch {
            module = await WebAssembly.compile(await (await fetch("sormio.wasm")).arrayBuffer());
        }
        // The module runs without a runtime: the page gives it what it asks of the page, and
        // whatever else the compiler's library would import (its exit, on a fault of the
        // program) stops the game with a message instead.
        const imports = {};
        for (const { module: from, name } of WebAssembly.Module.imports(module)) {
            imports[from] = imports[from] || {};
            imports[from][name] = page[name] || (() => {
                throw new Error("sormio.wasm stopped in " + name);
            });
        }
        const instance = await WebAssembly.instantiate(module, imports);
        game = instance.exports;
        memory = game.memory;
        if (game._initialize) {
            game._initialize();
        }
        game.sormio_load(performance.now());
        draw();
        // The game takes the focus: a screen reader switches to the mode in which keys reach
        // the page as the focus comes to an application.
        moveFocus(application);
        document.documentElement.dataset.ready = "";
    }

    // Laid out on whole device pixels at once, in a task of its own, while the module loads.
    fit();
    addEventListener("resize", fit);
    window.visualViewport?.addEventListener("resize", fit);
    window.visualViewport?.addEventListener("scroll", fit);
    load().catch((e) => {
        document.title += " (" + e.message + ")";
        throw e;
    });
    if ("serviceWorker" in navigator && location.protocol !== "file:") {
        // Its script asked of the server each time, whatever the host's caching headers.
        navigator.serviceWorker.register("sw.js", { updateViaCache: "none" }).catch(() => {});
    }
})();
