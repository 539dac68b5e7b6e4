#include "web_window.h"

// What the page's script does for the module: given to it as imports of the module "env".
#define SORMIO_FROM_PAGE(name) __attribute__((import_module("env"), import_name(#name))) name
extern "C" {
void SORMIO_FROM_PAGE(sormio_page_draw)(unsigned changes);
// Milliseconds on the page's clock, or a negative number for never.
void SORMIO_FROM_PAGE(sormio_page_wake_at)(double ms);
void SORMIO_FROM_PAGE(sormio_page_open_audio)();
int SORMIO_FROM_PAGE(sormio_page_play_tones)(int n);
void SORMIO_FROM_PAGE(sormio_page_drop_tones)();
void SORMIO_FROM_PAGE(sormio_page_ring_bell)();
void SORMIO_FROM_PAGE(sormio_page_quit)();
}

namespace sormio {

WebWindow::WebWindow() : middle_(*this) {}

void WebWindow::draw(unsigned changes) {
    sormio_page_draw(changes);
}

void WebWindow::wakeAt(std::int64_t atNs) {
    sormio_page_wake_at(atNs == kNever ? -1.0 : static_cast<double>(atNs) / 1e6);
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
