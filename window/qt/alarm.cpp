#include "alarm.h"

#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <utility>

namespace sormio {

namespace {

// Waking from idle takes this machine's kernel 40 to 200 µs, and a one-tick turn must end within
// 100 µs of its 10 ms. So the timer fires this much early and the last stretch is waited out on
// the clock: a few per cent of a core while a turn runs, nothing while the game is idle.
constexpr std::int64_t kLeadNs = 200'000;

timespec asTimespec(std::int64_t ns) {
    return {static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

}  // namespace

std::int64_t Alarm::nowNs() {
    // steady_clock is CLOCK_MONOTONIC here, the clock the timerfd counts.
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Alarm::Alarm(std::function<void(std::int64_t)> ring, Source source) : ring_(std::move(ring)) {
    // The kernel may otherwise let this thread's timers fire up to 50 µs late to save power.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    if (source == Source::Kernel) {
        fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    }
    if (fd_ >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
            std::uint64_t expirations = 0;
            if (::read(fd_, &expirations, sizeof expirations) == sizeof expirations) {
                onTimer();
            }
        });
    } else {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] { onTimer(); });
    }
}

Alarm::~Alarm() {
    notifier_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void Alarm::set(std::int64_t atNs) {
    atNs_ = atNs;
    if (fd_ >= 0) {
        // Re-arming also forgets an expiry that has not been read yet.
        const itimerspec arm{
            {}, asTimespec(atNs == kOff ? 0 : std::max<std::int64_t>(1, atNs - kLeadNs))};
        timerfd_settime(fd_, TFD_TIMER_ABSTIME, &arm, nullptr);
    } else if (atNs == kOff) {
        timer_.stop();
    } else {
        const std::int64_t left = atNs - kLeadNs - nowNs();
        timer_.start(static_cast<int>(std::clamp<std::int64_t>(left / 1'000'000, 0, 1 << 30)));
    }
}

void Alarm::onTimer() {
    if (atNs_ == kOff) {
        return;  // turned off since it fired
    }
    std::int64_t now = nowNs();
    while (now < atNs_) {
        now = nowNs();  // the lead: kLeadNs, and up to a millisecond more for the stand-in
        if (atNs_ - now > kLeadNs + 2'000'000) {
            set(atNs_);  // far too early, as the stand-in's millisecond timer may be
            return;
        }
    }
    atNs_ = kOff;
    ring_(now);
}

}  // namespace sormio
