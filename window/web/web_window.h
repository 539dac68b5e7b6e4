#pragma once

#include <cstdint>
#include <string>

#include "frmsormio.h"

namespace sormio {

// The game behind a web page. The page owns the document, its clock and the audio; this holds
// the game's Frmsormio and hands what it asks to the page's script, through the functions
// the page gives the module when it loads it (WebWindow::Import). The page reads what to draw
// through the module's exports, once a frame.
class WebWindow : public Platform {
  public:
    // The texts the page reads, by number (sormio_text in exports.cpp).
    enum Text : int { Score, SoundItem, Key, Ending, TileState };
    // The most characters that one key press hands the module (sormio_key_text).
    static constexpr int kTextBufferLength = 64;

    WebWindow();

    Frmsormio& frmsormio() { return frmsormio_; }

    // The page draws once a frame, and looks at a turn's end between frames: when to look
    // (ms, or -1), and what it found (WakeUp::Woken), the game woken when its end has come.
    double endTimerAt() const;
    WakeUp::Woken woken(std::int64_t nowNs);

    // Platform
    void draw(unsigned changes) override;
    void wakeAt(std::int64_t atNs) override;
    void openAudio() override;
    bool playTones(int n) override;
    void dropTones() override;
    void ringBell() override;
    void quit() override;
    ReaderFocus readerFocus() const override { return {.barFirst = true}; }

  private:
    // A browser's timer fires up to a millisecond after its time, a tenth of a one-tick turn.
    static constexpr std::int64_t kEndLeadNs = 2'000'000;

    Frmsormio frmsormio_;
    WakeUp end_{kEndLeadNs};
};

}  // namespace sormio
