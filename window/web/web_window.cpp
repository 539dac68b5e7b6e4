#include "web_window.h"

// What the page's script does for the module: given to it as imports of the module "env".
#define SORMIO_FROM_PAGE(name) __attribute__((import_module("env"), import_name(#name))) name
extern "C" {
void SORMIO_FROM_PAGE(sormio_page_draw)(unsigned changes);
// Milliseconds on the page's clock, or a negative number for never: the next tick, and when to
// look at the turn's end (sormio_woken).
void SORMIO_FROM_PAGE(sormio_page_wake_at)(double ms, double endMs);
void SORMIO_FROM_PAGE(sormio_page_open_audio)();
int SORMIO_FROM_PAGE(sormio_page_play_tones)(int n);
void SORMIO_FROM_PAGE(sormio_page_drop_tones)();
void SORMIO_FROM_PAGE(sormio_page_ring_bell)();
void SORMIO_FROM_PAGE(sormio_page_quit)();
}

namespace sormio {

namespace {

double msOf(std::int64_t ns) {
    return ns == WakeUp::kOff ? -1.0 : static_cast<double>(ns) / 1e6;
}

}  // namespace

WebWindow::WebWindow() : frmsormio_(*this) {}

void WebWindow::draw(unsigned changes) {
    sormio_page_draw(changes);
}

void WebWindow::wakeAt(std::int64_t atNs) {
    end_.set(frmsormio_.countdownEndsAt());
    sormio_page_wake_at(msOf(atNs), endTimerAt());
}

double WebWindow::endTimerAt() const {
    return msOf(end_.timerAt());
}

WakeUp::Woken WebWindow::woken(std::int64_t nowNs) {
    const WakeUp::Woken woken = end_.woken(nowNs);
    if (woken == WakeUp::Woken::Due) {
        frmsormio_.wake(nowNs);
    }
    return woken;
}

void WebWindow::openAudio() {
    sormio_page_open_audio();
}

bool WebWindow::playTones(int n) {
    return sormio_page_play_tones(n) != 0;
}

void WebWindow::dropTones() {
    sormio_page_drop_tones();
}

void WebWindow::ringBell() {
    sormio_page_ring_bell();
}

void WebWindow::quit() {
    sormio_page_quit();
}

}  // namespace sormio
