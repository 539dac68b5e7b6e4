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

// A clock read in milliseconds as a floating-point number (a web page's), in nanoseconds. A
// reading that is no time at all (NaN, infinite, far out of range) gives the earliest time
// there is, which moves no clock on.
inline std::int64_t nanosecondsOfMs(double ms) {
    const double ns = ms * 1e6;
    return std::isfinite(ns) && std::abs(ns) < 9e18 ? static_cast<std::int64_t>(ns)
                                                    : std::numeric_limits<std::int64_t>::min();
}

}  // namespace sormio
