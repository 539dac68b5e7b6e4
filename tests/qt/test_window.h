#pragma once

#include <cstdint>
#include <functional>

#include "qt_window.h"

namespace sormio::testing {

// The Qt window with every tone and bell counted by `tones` instead of sounded: no sound
// server is needed, and none is opened.
class QuietWindow : public QtWindow {
  public:
    std::function<void(int)> tones = [](int) {};

    void openAudio() override { frmsormio().audioOpened(); }
    bool playTones(int n) override {
        tones(n);
        return true;
    }
    void dropTones() override {}
    void ringBell() override { tones(1); }
};

// A quiet window on the test's time, which it reads from `clock` once it has loaded: it stands
// still unless the test moves it, and no alarm rings; the test wakes the game itself. Targets are
// then the test's, and no tick falls between its events however busy the machine.
class TestWindow : public QuietWindow {
  public:
    explicit TestWindow(const std::int64_t& clock) : clock_(clock) {}

    std::int64_t now() const override { return clock_; }
    void wakeAt(std::int64_t) override {}

  private:
    const std::int64_t& clock_;
};

}  // namespace sormio::testing
