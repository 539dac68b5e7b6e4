#pragma once

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

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
    // More than a whole turn (200 ticks). Of a longer stall, such as a suspended machine, only
    // the last this many ticks are replayed.
    static constexpr int kMaxCatchUp = 256;

    enum class Source { Kernel, QtTimer };  // QtTimer: the stand-in, also chosen by tests

    Ticker(std::chrono::milliseconds period, std::function<void()> tick,
           Source source = Source::Kernel);
    ~Ticker();
    Ticker(const Ticker&) = delete;
    Ticker& operator=(const Ticker&) = delete;

    void start();
    void stop();
    bool isActive() const { return active_; }
    std::chrono::milliseconds period() const { return period_; }

  private:
    void onTimerFd();
    void onTimeout();
    void deliver(std::int64_t due);

    std::chrono::milliseconds period_;
    std::int64_t periodNs_;
    std::function<void()> tick_;
    bool active_ = false;
    std::uint64_t generation_ = 0;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QElapsedTimer clock_;  // counts from start()
    // The stand-in.
    QTimer timer_;
    std::int64_t delivered_ = 0;
};

// Ticks that are counted but never woken for: the ticks that have fallen due since start() are
// delivered by settle(), which the window calls before anything reads what the ticks produce.
// Whoever reads sees exactly what a tick every period would have left, and an idle window costs
// nothing. The clock can be replaced, so that a test decides when ticks fall due.
class DueTicks {
  public:
    using Clock = std::function<std::int64_t()>;  // monotonic nanoseconds
    static std::int64_t monotonicNs();

    DueTicks(std::chrono::milliseconds period, std::function<void()> tick,
             Clock clock = &DueTicks::monotonicNs);

    void start();
    void settle();
    void setClock(Clock clock);

  private:
    std::chrono::nanoseconds period_;
    std::function<void()> tick_;
    Clock clock_;
    std::int64_t started_ = 0;
    std::int64_t delivered_ = 0;
};

}  // namespace sormio
