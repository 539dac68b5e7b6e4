#include "ticker.h"

#include <utility>

namespace sormio {

namespace {
// A tick that is due within this much counts as due now, so that the clock and the timer
// service, read a few microseconds apart, never split one tick over two wake-ups.
constexpr std::int64_t kToleranceNs = 500'000;
}  // namespace

Ticker::Ticker(std::chrono::milliseconds period, std::function<void()> tick)
    : period_(period), tick_(std::move(tick)) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(period_);
    QObject::connect(&timer_, &QTimer::timeout, [this] { onTimeout(); });
}

void Ticker::start() {
    ++generation_;
    delivered_ = 0;
    // The clock starts first, so that it never reads less than a period when the timer fires.
    clock_.start();
    timer_.start();
}

void Ticker::stop() {
    ++generation_;
    timer_.stop();
}

void Ticker::onTimeout() {
    const std::int64_t periodNs = std::chrono::nanoseconds(period_).count();
    std::int64_t due = (clock_.nsecsElapsed() + kToleranceNs) / periodNs;
    if (due - delivered_ > kMaxCatchUp) {
        delivered_ = due - kMaxCatchUp;
    }
    // A tick may stop the ticker (the countdown running out) or restart it; either ends this run.
    const std::uint64_t generation = generation_;
    while (delivered_ < due && generation == generation_) {
        ++delivered_;
        tick_();
    }
}

}  // namespace sormio
