#pragma once

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>

namespace sormio {

// The bookkeeping of a periodic tick that keeps to a monotonic clock, whatever wakes it: the
// front-end (or a test) reads its clock and says when; this says how many ticks are due. A turn
// of n ticks thus lasts n periods however late or coarse the platform's timer wakes, and each
// due tick is delivered exactly once.
class TickCount {
  public:
    // More than a whole turn (200 ticks). Of a longer stall, such as a suspended machine, a
    // countdown replays only the last this many ticks.
    static constexpr std::int64_t kMaxCatchUp = 256;
    static constexpr std::int64_t kNoLimit = std::numeric_limits<std::int64_t>::max();

    explicit TickCount(std::chrono::nanoseconds period) : periodNs_(period.count()) {}

    void start(std::int64_t nowNs) {
        startedNs_ = nowNs;
        delivered_ = 0;
    }
    // Ticks due by nowNs since start(), counting one due within toleranceNs as due now.
    std::int64_t dueBy(std::int64_t nowNs, std::int64_t toleranceNs = 0) const {
        return nowNs < startedNs_ ? 0 : (nowNs - startedNs_ + toleranceNs) / periodNs_;
    }
    // When tick n (from 1) falls due.
    std::int64_t deadlineOf(std::int64_t n) const { return startedNs_ + n * periodNs_; }
    std::int64_t delivered() const { return delivered_; }
    std::int64_t periodNs() const { return periodNs_; }

    // Counts the ticks up to `due` as delivered and returns how many the caller delivers now:
    // of a backlog longer than `limit`, only the last `limit`.
    std::int64_t take(std::int64_t due, std::int64_t limit) {
        if (due <= delivered_) {
            return 0;
        }
        const std::int64_t n = due - delivered_ > limit ? limit : due - delivered_;
        delivered_ = due;
        return n;
    }

  private:
    std::int64_t periodNs_;
    std::int64_t startedNs_ = 0;
    std::int64_t delivered_ = 0;
};

// Being woken on time by whatever timer a platform has, the same way on every platform. A timer
// wakes its program up to `lead` late (the kernel waking an idle machine, a timer of coarse
// resolution): it is set that much early, and the last stretch is waited out on the clock, so
// that nothing happens before its moment and little after it. A timer that fires earlier still
// is set again. Nothing is spent while no moment is wanted.
class WakeUp {
  public:
    static constexpr std::int64_t kOff = std::numeric_limits<std::int64_t>::max();

    explicit WakeUp(std::int64_t leadNs) : leadNs_(leadNs) {}

    // The moment wanted, or kOff for none; replaces the last. Returns timerAt().
    std::int64_t set(std::int64_t atNs) {
        atNs_ = atNs;
        return timerAt();
    }
    bool isSet() const { return atNs_ != kOff; }
    // When the platform's timer should fire, or kOff when it should not.
    std::int64_t timerAt() const { return atNs_ == kOff ? kOff : atNs_ - leadNs_; }

    enum class Woken {
        Off,    // no moment is wanted (one was unset since the timer was set)
        Early,  // more than a lead before timerAt(): set the timer again, at timerAt()
        Wait,   // nearer: read the clock again
        Due,    // its moment has come, and is forgotten: wake the game at that time
    };
    // The timer fired, or the platform looked anyway, at nowNs.
    Woken woken(std::int64_t nowNs) {
        if (atNs_ == kOff) {
            return Woken::Off;
        }
        if (nowNs >= atNs_) {
            atNs_ = kOff;
            return Woken::Due;
        }
        // A timer that fires less than a lead before its own time (a browser's, on a coarser
        // clock) would, set again for so little, come no sooner than the wait: a page's comes
        // 4 ms later where its timers are set from timers over and over.
        return atNs_ - nowNs > 2 * leadNs_ ? Woken::Early : Woken::Wait;
    }

  private:
    std::int64_t leadNs_;
    std::int64_t atNs_ = kOff;
};

// A clock read in milliseconds as a floating-point number (a web page's), in nanoseconds. A
// reading that is no time at all (NaN, infinite, far out of range) gives the earliest time
// there is, which moves no clock on.
inline std::int64_t nanosecondsOfMs(double ms) {
    const double ns = ms * 1e6;
    return std::isfinite(ns) && std::abs(ns) < 9e18 ? static_cast<std::int64_t>(ns)
                                                    : std::numeric_limits<std::int64_t>::min();
}

}  // namespace sormio
