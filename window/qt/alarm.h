#pragma once

#include <QSocketNotifier>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

namespace sormio {

// Wakes the window's thread once, at a moment of the monotonic clock (nowNs()): never before
// it, and after it only by the event loop's own delay. The kernel's timer (a timerfd) fires a
// little early and the last stretch is waited out on the clock, so a one-tick turn of 10 ms ends
// within its 1 %. Where no timerfd can be had, a precise QTimer stands in.
class Alarm {
  public:
    enum class Source { Kernel, QtTimer };  // QtTimer: the stand-in, also chosen by tests
    static constexpr std::int64_t kOff = INT64_MAX;

    Alarm(std::function<void(std::int64_t nowNs)> ring, Source source = Source::Kernel);
    ~Alarm();
    Alarm(const Alarm&) = delete;
    Alarm& operator=(const Alarm&) = delete;

    // Rings at atNs, or never (kOff); replaces the moment set before.
    void set(std::int64_t atNs);
    bool isSet() const { return atNs_ != kOff; }

    // The monotonic clock, in nanoseconds.
    static std::int64_t nowNs();

  private:
    void onTimer();

    std::function<void(std::int64_t)> ring_;
    std::int64_t atNs_ = kOff;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer timer_;  // the stand-in
};

}  // namespace sormio
