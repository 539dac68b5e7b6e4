#pragma once

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "ticks.h"

namespace sormio {

// A periodic tick that keeps to the monotonic clock. The kernel counts the periods (a timerfd):
// when the event loop wakes late, the ticks that fell due meanwhile are delivered one after
// another instead of being lost, so a turn of n ticks lasts n periods however busy the machine
// is, and the wake-up itself is precise to the kernel's timer rather than to the millisecond.
// Each due tick is delivered exactly once, and none after stop().
//
// Where no timerfd can be had, a precise QTimer with the same catch-up stands in.
class Ticker {
  public:
    enum class Source { Kernel, QtTimer };  // QtTimer: the stand-in, also chosen by tests

    Ticker(std::chrono::milliseconds period, std::function<void()> tick,
           Source source = Source::Kernel);
    ~Ticker();
    Ticker(const Ticker&) = delete;
    Ticker& operator=(const Ticker&) = delete;

    void start();
    void stop();
    bool isActive() const { return active_; }
    // From now on no timer runs: start() and stop() only say whether it is active, and whoever
    // drives it calls the tick handler itself.
    void driveByHand();
    std::chrono::milliseconds period() const { return period_; }

  private:
    void onTimerFd();
    void onTimeout();
    void deliver(std::int64_t due);
    std::int64_t nowNs() const { return clock_.nsecsElapsed(); }

    std::chrono::milliseconds period_;
    std::int64_t periodNs_;
    std::function<void()> tick_;
    TickCount count_;
    bool active_ = false;
    bool byHand_ = false;
    std::uint64_t generation_ = 0;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QElapsedTimer clock_;
    // The stand-in.
    QTimer timer_;
};

}  // namespace sormio
