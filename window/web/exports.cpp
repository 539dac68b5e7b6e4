// What the page calls. One game per page; every text handed out is UTF-8, ends in a zero byte
// and stays valid until the next call.
#include <emscripten/emscripten.h>

#include <memory>
#include <string>

#include "tone.h"
#include "web_window.h"

namespace {

std::unique_ptr<sormio::WebWindow> window;
// Where the page writes the characters of a key press before handing them over.
char32_t textBuffer[64];
std::string text;

}  // namespace

extern "C" {

// A fresh game, as at load time: also what "Lopeta" leaves.
EMSCRIPTEN_KEEPALIVE void sormio_load(double nowMs) {
    window = std::make_unique<sormio::WebWindow>(nowMs);
}

EMSCRIPTEN_KEEPALIVE void sormio_start(double nowMs) {
    window->mnustart_Click(nowMs);
}

EMSCRIPTEN_KEEPALIVE void sormio_sound() {
    window->mnusound_Click();
}

EMSCRIPTEN_KEEPALIVE char32_t* sormio_text_buffer() {
    return textBuffer;
}

EMSCRIPTEN_KEEPALIVE void sormio_key_text(int length, double nowMs) {
    if (length >= 0 && length <= static_cast<int>(std::size(textBuffer))) {
        window->keyText({textBuffer, static_cast<std::size_t>(length)}, nowMs);
    }
}

EMSCRIPTEN_KEEPALIVE void sormio_dead_key() {
    window->deadKey();
}

EMSCRIPTEN_KEEPALIVE int sormio_frame(double nowMs) {
    return window->frame(nowMs) ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE double sormio_timeout_at() {
    return window->timeoutAt();
}

EMSCRIPTEN_KEEPALIVE unsigned sormio_changes() {
    return window->takeChanges();
}

EMSCRIPTEN_KEEPALIVE int sormio_beeps() {
    return window->takeBeeps();
}

EMSCRIPTEN_KEEPALIVE unsigned sormio_tile(int index) {
    return window->tile(index);
}

EMSCRIPTEN_KEEPALIVE int sormio_bar() {
    return window->bar();
}

EMSCRIPTEN_KEEPALIVE int sormio_score_shown() {
    return window->scoreShown() ? 1 : 0;
}

// 0 the score, 1 the sound item's caption, 2 the key to press, 3 how the game ended, 4 + t
// what tile t is to a screen reader ("kohde", "väärä" or nothing).
EMSCRIPTEN_KEEPALIVE const char* sormio_text(int which) {
    switch (which) {
        case 0:
            text = window->score();
            break;
        case 1:
            text = window->soundCaption();
            break;
        case 2:
            text = window->barName();
            break;
        case 3:
            text = window->ending();
            break;
        default:
            text = window->tileState(which - 4);  // empty for no tile
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
