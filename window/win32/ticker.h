#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

#include "ticks.h"

namespace sormio {

// The countdown's tick, counted from the performance counter through the shared bookkeeping:
// however coarsely the system wakes the program (SetTimer steps by 15.6 ms), the ticks that
// fell due are delivered, so a turn of n ticks lasts n periods. The message loop waits on a
// high-resolution waitable timer set to the next tick and waits out the last stretch on the
// counter; a WM_TIMER of the window keeps the ticks coming while a menu or a move runs its own
// loop. Nothing runs while the countdown is stopped.
class Ticker {
  public:
    Ticker(std::int64_t periodMs, std::function<void()> tick);
    ~Ticker();
    Ticker(const Ticker&) = delete;
    Ticker& operator=(const Ticker&) = delete;

    void attach(HWND window) { window_ = window; }
    void start();
    void stop();
    bool isActive() const { return active_; }
    // What the message loop waits on while the countdown runs; null while it does not.
    HANDLE waitable() const { return active_ ? timer_ : nullptr; }
    // Delivers every tick that has fallen due; called when the waitable timer or WM_TIMER fires.
    void settle();

    static std::int64_t nowNs();
    static constexpr UINT_PTR kTimerId = 1;

  private:
    void arm();

    TickCount count_;
    std::function<void()> tick_;
    HANDLE timer_ = nullptr;
    HWND window_ = nullptr;
    bool active_ = false;
    bool finePeriod_ = false;
    std::uint64_t generation_ = 0;
};

}  // namespace sormio
