// What the page calls. One game per page; every time is the page's clock in milliseconds
// (performance.now(), or an event's time stamp); every text handed out is UTF-8, ends in a zero
// byte and stays valid until the next call.
#include <emscripten/emscripten.h>

#include <memory>
#include <string>

#include "reader.h"
#include "tone.h"
#include "web_window.h"

namespace {

std::unique_ptr<sormio::WebWindow> window;
// Where the page writes the characters of a key press before handing them over.
char32_t textBuffer[sormio::WebWindow::kTextBufferLength];
std::string text;

std::int64_t ns(double ms) {
    return sormio::nanosecondsOfMs(ms);
}

sormio::Frmsormio& frmsormio() {
    return window->frmsormio();
}

// A browser's name for a key (KeyboardEvent.key) as the game knows it: "Enter", "F1", "a"; from
// a keydown, whose character comes with its keypress, a name of more than one character is of
// a key that types nothing.
sormio::KeyPress keyPressOf(std::u32string_view key, bool keydown) {
    using Name = sormio::KeyPress::Name;
    static constexpr std::u32string_view kNames[] = {U"Enter", U"Escape", U"Backspace", U"Tab",
                                                     U"Dead"};
    static constexpr Name kNamed[] = {Name::Enter, Name::Escape, Name::Backspace, Name::Tab,
                                      Name::Dead};
    sormio::KeyPress press;
    press.text = key;
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
        if (key == kNames[i]) {
            press.name = kNamed[i];
            return press;
        }
    }
    // "F1" to "F99".
    std::size_t end = 1;
    int number = 0;
    for (; end < key.size() && end <= 2 && key[end] >= U'0' && key[end] <= U'9'; ++end) {
        number = number * 10 + static_cast<int>(key[end] - U'0');
    }
    if (key.size() > 1 && key[0] == U'F' && end == key.size()) {
        press.name = Name::Function;
        press.function = number;
    } else if (keydown && key.size() != 1) {
        press.name = Name::Other;
    }
    return press;
}

}  // namespace

extern "C" {

// A fresh game, as at load time: also what "Lopeta" leaves.
EMSCRIPTEN_KEEPALIVE void sormio_load(double nowMs) {
    window = std::make_unique<sormio::WebWindow>();
    frmsormio().Form_Load(ns(nowMs));
}

// A menu item's command (sormio::Command as a number).
EMSCRIPTEN_KEEPALIVE void sormio_command(int which, double nowMs) {
    if (which >= 0 && which <= static_cast<int>(sormio::Command::Quit)) {
        frmsormio().command(static_cast<sormio::Command>(which), ns(nowMs));
    }
}

EMSCRIPTEN_KEEPALIVE char32_t* sormio_text_buffer() {
    return textBuffer;
}

// One key press: the browser's name for it (written into the text buffer, the character
// itself for most) and its modifiers (1 Ctrl, 2 Alt, 4 Meta, 8 from a keydown, 16 Shift).
// 1 when the game took it, else 0.
EMSCRIPTEN_KEEPALIVE int sormio_key(int length, int modifiers, double nowMs) {
    if (length < 0 || length > static_cast<int>(std::size(textBuffer))) {
        return 0;
    }
    sormio::KeyPress press = keyPressOf(
        std::u32string_view(textBuffer, static_cast<std::size_t>(length)), (modifiers & 8) != 0);
    press.ctrl = (modifiers & 1) != 0;
    press.alt = (modifiers & 2) != 0;
    press.meta = (modifiers & 4) != 0;
    press.characterFollows = (modifiers & 8) != 0;
    press.shift = (modifiers & 16) != 0;
    return frmsormio().key(press, ns(nowMs)) ? 1 : 0;
}

// The characters of one key press, written into the text buffer.
EMSCRIPTEN_KEEPALIVE void sormio_key_text(int length, double nowMs) {
    if (length >= 0 && length <= static_cast<int>(std::size(textBuffer))) {
        frmsormio().keyText(std::u32string_view(textBuffer, static_cast<std::size_t>(length)),
                            ns(nowMs));
    }
}

// The page's answers to Platform::openAudio().
EMSCRIPTEN_KEEPALIVE void sormio_audio_opened() {
    frmsormio().audioOpened();
}

EMSCRIPTEN_KEEPALIVE void sormio_audio_lost(int tones) {
    frmsormio().audioLost(tones);
}

EMSCRIPTEN_KEEPALIVE void sormio_wake(double nowMs) {
    frmsormio().wake(ns(nowMs));
}

// The page looked at the turn's end: what it found (WakeUp::Woken as a number).
EMSCRIPTEN_KEEPALIVE int sormio_woken(double nowMs) {
    return static_cast<int>(window->woken(ns(nowMs)));
}

// When the page should look at the turn's end next (ms), or -1.
EMSCRIPTEN_KEEPALIVE double sormio_end_timer_at() {
    return window->endTimerAt();
}

EMSCRIPTEN_KEEPALIVE unsigned sormio_tile(int index) {
    return index >= 0 && index < sormio::KeyTable::kKeys
               ? frmsormio().view().tiles[static_cast<std::size_t>(index)].packed()
               : 0;
}

// The tile of the key to press, or -1 outside a turn.
EMSCRIPTEN_KEEPALIVE int sormio_turn_tile() {
    return frmsormio().telling().tile;
}

// Where a screen reader's focus tells the turn: the tile's index, or KeyTable::kKeys for the bar.
EMSCRIPTEN_KEEPALIVE int sormio_told() {
    const sormio::Telling& telling = frmsormio().telling();
    return telling.focus == sormio::Telling::Focus::Tile ? telling.tile : sormio::KeyTable::kKeys;
}

// The bar's value as told this turn.
EMSCRIPTEN_KEEPALIVE int sormio_told_value() {
    return frmsormio().telling().value;
}

// The bar's width, or -1 while it is hidden.
EMSCRIPTEN_KEEPALIVE int sormio_bar() {
    const sormio::View& view = frmsormio().view();
    return view.barShown ? view.barWidth : -1;
}

EMSCRIPTEN_KEEPALIVE int sormio_score_shown() {
    return frmsormio().view().scoreShown ? 1 : 0;
}

// One of WebWindow::Text; TileState + t is what tile t is to a screen reader.
EMSCRIPTEN_KEEPALIVE const char* sormio_text(int which) {
    using sormio::WebWindow;
    const sormio::View& view = frmsormio().view();
    switch (which) {
        case WebWindow::Score:
            text = view.score;
            break;
        case WebWindow::SoundItem:
            text = view.soundCaption;
            break;
        case WebWindow::Key:
            text = frmsormio().telling().key;
            break;
        case WebWindow::Ending:
            text = frmsormio().telling().ending;
            break;
        default: {
            const int tile = which - WebWindow::TileState;
            text = tile >= 0 && tile < sormio::KeyTable::kKeys
                       ? sormio::reader::descriptionOf(sormio::windowDescription().tile(tile), view)
                       : std::string_view();
        }
    }
    return text.c_str();
}

EMSCRIPTEN_KEEPALIVE const std::int16_t* sormio_tone() {
    return sormio::Tone::slot().data();
}
}
