#pragma once

#include <windows.h>

#include <cstdint>

namespace sormio {

// Wakes the message loop once, at a moment of the performance counter (nowNs()): never before
// it. The loop waits on a high-resolution waitable timer set a little early and waits out the
// last stretch on the counter, however coarsely the system wakes the program (SetTimer steps by
// 15.6 ms). While a menu or a move runs a loop of its own, a WM_TIMER of the window keeps the
// wake-ups coming. Nothing runs while no moment is set.
class Alarm {
  public:
    static constexpr std::int64_t kOff = INT64_MAX;
    static constexpr UINT_PTR kTimerId = 1;

    Alarm();
    ~Alarm();
    Alarm(const Alarm&) = delete;
    Alarm& operator=(const Alarm&) = delete;

    void attach(HWND window) { window_ = window; }
    // Rings at atNs, or never (kOff); replaces the moment set before.
    void set(std::int64_t atNs);
    // What the message loop waits on while a moment is set; null while none is.
    HANDLE waitable() const { return atNs_ != kOff ? timer_ : nullptr; }
    // Called when the waitable timer or WM_TIMER fires: true, and the time, once the moment has
    // come (waiting out the last stretch); false if it is not near yet.
    bool due(std::int64_t& nowNs);

    static std::int64_t nowNs();

  private:
    HANDLE timer_ = nullptr;
    HWND window_ = nullptr;
    std::int64_t atNs_ = kOff;
    bool finePeriod_ = false;
};

}  // namespace sormio
