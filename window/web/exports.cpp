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

sormio::Frmsormio& middle() {
    return window->middle();
}

}  // namespace

extern "C" {

// A fresh game, as at load time: also what "Lopeta" leaves.
EMSCRIPTEN_KEEPALIVE void sormio_load(double nowMs) {
    window = std::make_unique<sormio::WebWindow>();
    middle().Form_Load(ns(nowMs));
}

EMSCRIPTEN_KEEPALIVE void sormio_start(double nowMs) {
    middle().mnustart_Click(ns(nowMs));
}

EMSCRIPTEN_KEEPALIVE void sormio_sound() {
    middle().mnusound_Click();
}

EMSCRIPTEN_KEEPALIVE void sormio_quit() {
    middle().mnuquit_Click();
}

EMSCRIPTEN_KEEPALIVE char32_t* sormio_text_buffer() {
    return textBuffer;
}

// The characters of one key press, written into the text buffer.
EMSCRIPTEN_KEEPALIVE void sormio_key_text(int length, double nowMs) {
    if (length >= 0 && length <= static_cast<int>(std::size(textBuffer))) {
        middle().keyText(std::u32string_view(textBuffer, static_cast<std::size_t>(length)),
                         ns(nowMs));
    }
}

// What an input method committed, written into the text buffer.
EMSCRIPTEN_KEEPALIVE void sormio_committed(int length, double nowMs) {
    if (length >= 0 && length <= static_cast<int>(std::size(textBuffer))) {
        middle().committed(std::u32string_view(textBuffer, static_cast<std::size_t>(length)),
                           ns(nowMs));
    }
}

EMSCRIPTEN_KEEPALIVE void sormio_dead_key() {
    middle().deadKey();
}

EMSCRIPTEN_KEEPALIVE void sormio_wake(double nowMs) {
    middle().wake(ns(nowMs));
}

// When the running turn's bar runs out if no key comes (ms), or -1.
EMSCRIPTEN_KEEPALIVE double sormio_ends_at() {
    const std::int64_t at = middle().countdownEndsAt();
    return at == sormio::Platform::kNever ? -1.0 : static_cast<double>(at) / 1e6;
}

EMSCRIPTEN_KEEPALIVE unsigned sormio_tile(int index) {
    return index >= 0 && index < sormio::KeyTable::kKeys
               ? middle().view().tiles[static_cast<std::size_t>(index)].packed()
               : 0;
}

// The bar's width, or -1 while it is hidden.
EMSCRIPTEN_KEEPALIVE int sormio_bar() {
    const sormio::View& view = middle().view();
    return view.barShown ? view.barWidth : -1;
}

EMSCRIPTEN_KEEPALIVE int sormio_takes_keys() {
    return middle().view().barTakesKeys() ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE int sormio_score_shown() {
    return middle().view().scoreShown ? 1 : 0;
}

// One of WebWindow::Text; TileState + t is what tile t is to a screen reader.
EMSCRIPTEN_KEEPALIVE const char* sormio_text(int which) {
    using sormio::WebWindow;
    const sormio::View& view = middle().view();
    switch (which) {
        case WebWindow::Score:
            text = view.score;
            break;
        case WebWindow::SoundItem:
            text = view.soundCaption;
            break;
        case WebWindow::Key:
            text = middle().telling().key;
            break;
        case WebWindow::Ending:
            text = middle().telling().ending;
            break;
        default: {
            const int tile = which - WebWindow::TileState;
            text = tile >= 0 && tile < sormio::KeyTable::kKeys
                       ? sormio::reader::tileState(view.tiles[static_cast<std::size_t>(tile)])
                       : std::string_view();
        }
    }
    return text.c_str();
}

EMSCRIPTEN_KEEPALIVE const std::int16_t* sormio_tone() {
    return sormio::Tone::slot().data();
}

EMSCRIPTEN_KEEPALIVE int sormio_tone_frames() {
    return static_cast<int>(sormio::Tone::slot().size());
}

EMSCRIPTEN_KEEPALIVE int sormio_tone_rate() {
    return sormio::Tone::kRate;
}
}
