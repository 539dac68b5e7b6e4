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
// 100 µs of its 10 ms: a few per cent of a core while a turn runs, nothing while the game is
// idle.
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

Alarm::Alarm(std::function<void(std::int64_t)> ring, Source source)
    : ring_(std::move(ring)), wake_(kLeadNs) {
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
    wake_.set(atNs);
    arm();
}

void Alarm::arm() {
    const std::int64_t at = wake_.timerAt();
    if (fd_ >= 0) {
        // Re-arming also forgets an expiry that has not been read yet.
        const itimerspec arm{{}, asTimespec(at == kOff ? 0 : std::max<std::int64_t>(1, at))};
        timerfd_settime(fd_, TFD_TIMER_ABSTIME, &arm, nullptr);
    } else if (at == kOff) {
        timer_.stop();
    } else {
        const std::int64_t left = at - nowNs();
        timer_.start(static_cast<int>(std::clamp<std::int64_t>(left / 1'000'000, 0, 1 << 30)));
    }
}

void Alarm::onTimer() {
    for (;;) {
        const std::int64_t now = nowNs();
        switch (wake_.woken(now)) {
            case WakeUp::Woken::Off:
                return;  // turned off since it fired
            case WakeUp::Woken::Early:
                arm();  // as the stand-in's millisecond timer may be
                return;
            case WakeUp::Woken::Wait:
                continue;
            case WakeUp::Woken::Due:
                ring_(now);
                return;
        }
    }
}

}  // namespace sormio
