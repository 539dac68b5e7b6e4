#pragma once

#include <QSocketNotifier>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

#include "ticks.h"

namespace sormio {

// Wakes the window's thread once, at a moment of the monotonic clock (nowNs()): never before
// it, and after it only by the event loop's own delay, as WakeUp has it. The kernel's timer (a
// timerfd) wakes the thread; where no timerfd can be had, a precise QTimer stands in.
class Alarm {
  public:
    enum class Source { Kernel, QtTimer };  // QtTimer: the stand-in, also chosen by tests
    static constexpr std::int64_t kOff = WakeUp::kOff;

    Alarm(std::function<void(std::int64_t nowNs)> ring, Source source = Source::Kernel);
    ~Alarm();
    Alarm(const Alarm&) = delete;
    Alarm& operator=(const Alarm&) = delete;

    // Rings at atNs, or never (kOff); replaces the moment set before.
    void set(std::int64_t atNs);
    bool isSet() const { return wake_.isSet(); }

    // The monotonic clock, in nanoseconds.
    static std::int64_t nowNs();

  private:
    void onTimer();
    // The timer, at wake_.timerAt().
    void arm();

    std::function<void(std::int64_t)> ring_;
    WakeUp wake_;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer timer_;  // the stand-in
};

}  // namespace sormio
