#include "ticker.h"

#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

namespace sormio {

namespace {
// A tick that is due within this much counts as due now, so that the clock and the timer
// service, read a few microseconds apart, never split one tick over two wake-ups.
constexpr std::int64_t kToleranceNs = 500'000;

// Waking from idle takes this machine's kernel 40 to 200 µs, and a one-tick turn must end within
// 100 µs of its 10 ms. So the timer fires this much early and the last stretch is waited out on
// the clock: a few per cent of a core while a turn runs, nothing while the game is idle.
constexpr std::int64_t kLeadNs = 200'000;

timespec asTimespec(std::int64_t ns) {
    return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}
}  // namespace

Ticker::Ticker(std::chrono::milliseconds period, std::function<void()> tick, Source source)
    : period_(period),
      periodNs_(std::chrono::nanoseconds(period).count()),
      tick_(std::move(tick)),
      count_(period) {
    // The kernel may otherwise let this thread's timers fire up to 50 µs late to save power;
    // a one-tick turn is 10 ms, and 1 % of it is 100 µs.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    if (source == Source::Kernel) {
        fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    }
    if (fd_ >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { onTimerFd(); });
    } else {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(period_);
        QObject::connect(&timer_, &QTimer::timeout, [this] { onTimeout(); });
    }
    clock_.start();
}

Ticker::~Ticker() {
    notifier_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void Ticker::start() {
    ++generation_;
    active_ = true;
    count_.start(nowNs());
    if (byHand_) {
        return;
    }
    if (fd_ >= 0) {
        const itimerspec arm{asTimespec(periodNs_),
                             asTimespec(periodNs_ - std::min(kLeadNs, periodNs_ / 2))};
        timerfd_settime(fd_, 0, &arm, nullptr);  // re-arming also clears the count
    } else {
        timer_.start();
    }
}

void Ticker::stop() {
    ++generation_;
    active_ = false;
    if (byHand_) {
        return;
    }
    if (fd_ >= 0) {
        const itimerspec off{};
        timerfd_settime(fd_, 0, &off, nullptr);
    } else {
        timer_.stop();
    }
}

void Ticker::onTimerFd() {
    std::uint64_t expirations = 0;
    if (::read(fd_, &expirations, sizeof expirations) != sizeof expirations) {
        return;  // nothing due (stopped or re-armed since the wake-up)
    }
    const std::int64_t due = count_.delivered() + static_cast<std::int64_t>(expirations);
    while (nowNs() < count_.deadlineOf(due)) {
        // the lead: at most kLeadNs
    }
    deliver(due);
}

void Ticker::onTimeout() {
    deliver(count_.dueBy(nowNs(), kToleranceNs));
}

void Ticker::deliver(std::int64_t due) {
    // A tick may stop the ticker (the countdown running out) or restart it; either ends this run.
    const std::uint64_t generation = generation_;
    for (std::int64_t n = count_.take(due, TickCount::kMaxCatchUp);
         n > 0 && active_ && generation == generation_; --n) {
        tick_();
    }
}

void Ticker::driveByHand() {
    stop();
    byHand_ = true;
}

}  // namespace sormio
