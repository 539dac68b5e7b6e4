#pragma once

#include <windows.h>

#include <cstdint>

#include "ticks.h"

namespace sormio {

// Wakes the message loop once, at a moment of the performance counter (nowNs()): never before
// it, as WakeUp has it, however coarsely the system wakes the program (SetTimer steps by
// 15.6 ms). The loop waits on a high-resolution waitable timer. While a menu or a move runs a loop
// of its own, a WM_TIMER of the window keeps the wake-ups coming. Nothing runs while no moment is
// set.
class Alarm {
  public:
    static constexpr std::int64_t kOff = WakeUp::kOff;
    static constexpr UINT_PTR kTimerId = 1;

    Alarm();
    ~Alarm();
    Alarm(const Alarm&) = delete;
    Alarm& operator=(const Alarm&) = delete;

    void attach(HWND window) { window_ = window; }
    // Rings at atNs, or never (kOff); replaces the moment set before.
    void set(std::int64_t atNs);
    // What the message loop waits on while a moment is set; null while none is.
    HANDLE waitable() const { return wake_.isSet() ? timer_ : nullptr; }
    // Called when the waitable timer or WM_TIMER fires: true, and the time, once the moment has
    // come (waiting out the last stretch); false if it is not near yet.
    bool due(std::int64_t& nowNs);

    // The game's clock, in nanoseconds: the performance counter's (clock.cpp, which a test
    // build replaces with a clock whose pace the harness sets).
    static std::int64_t nowNs();
    // How long the game's clock takes to run on by ns, in real time.
    static std::int64_t realNs(std::int64_t ns);
    // The performance counter, in nanoseconds.
    static std::int64_t counterNs();

  private:
    // The waitable timer, at wake_.timerAt().
    void arm();

    HANDLE timer_ = nullptr;
    HWND window_ = nullptr;
    WakeUp wake_;
    bool running_ = false;  // the fine period and the window's timer are on
    bool finePeriod_ = false;
};

}  // namespace sormio
