#include "ticker.h"

#include <timeapi.h>

#include "system.h"

namespace sormio {

namespace {

// Windows 10 1803 and later wake a high-resolution waitable timer to within half a
// millisecond; older systems, and Wine, take the flag as unknown and get an ordinary one.
constexpr DWORD kHighResolution = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION

// The timer fires this much early and the rest is waited out on the counter: a one-tick turn
// is 10 ms, and 1 % of it is 100 µs, while a high-resolution timer wakes within half a
// millisecond on Windows and Wine's within a whole one. At most an eighth of a core while a
// turn runs, nothing at rest.
constexpr std::int64_t kLeadNs = 1'200'000;

// The system's timer resolution, raised to a millisecond while a turn runs (winmm, loaded then).
UINT finerTimer(bool on) {
    static const auto begin =
        systemFunction<decltype(&timeBeginPeriod)>(L"winmm.dll", "timeBeginPeriod");
    static const auto end = systemFunction<decltype(&timeEndPeriod)>(L"winmm.dll", "timeEndPeriod");
    const auto call = on ? begin : end;
    return call != nullptr ? call(1) : TIMERR_NOCANDO;
}

std::int64_t counterFrequency() {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
}

}  // namespace

std::int64_t Ticker::nowNs() {
    static const std::int64_t frequency = counterFrequency();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return c.QuadPart / frequency * 1'000'000'000 +
           c.QuadPart % frequency * 1'000'000'000 / frequency;
}

Ticker::Ticker(std::int64_t periodMs, std::function<void()> tick)
    : count_(std::chrono::milliseconds(periodMs)), tick_(std::move(tick)) {
    timer_ = CreateWaitableTimerExW(nullptr, nullptr, kHighResolution, TIMER_ALL_ACCESS);
    if (timer_ == nullptr) {
        timer_ = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    }
}

Ticker::~Ticker() {
    stop();
    if (timer_ != nullptr) {
        CloseHandle(timer_);
    }
}

void Ticker::start() {
    ++generation_;
    if (!active_) {
        finePeriod_ = finerTimer(true) == TIMERR_NOERROR;
        if (window_ != nullptr) {
            SetTimer(window_, kTimerId, USER_TIMER_MINIMUM, nullptr);
        }
    }
    active_ = true;
    count_.start(nowNs());
    arm();
}

void Ticker::stop() {
    ++generation_;
    if (!active_) {
        return;
    }
    active_ = false;
    if (timer_ != nullptr) {
        CancelWaitableTimer(timer_);
    }
    if (window_ != nullptr) {
        KillTimer(window_, kTimerId);
    }
    if (finePeriod_) {
        finerTimer(false);
        finePeriod_ = false;
    }
}

void Ticker::arm() {
    if (timer_ == nullptr) {
        return;
    }
    const std::int64_t wake = count_.deadlineOf(count_.delivered() + 1) - kLeadNs - nowNs();
    LARGE_INTEGER due;
    due.QuadPart = -(wake > 0 ? wake / 100 : 0);  // relative, in 100 ns
    SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE);
}

void Ticker::settle() {
    if (!active_) {
        return;
    }
    const std::int64_t next = count_.deadlineOf(count_.delivered() + 1);
    if (next - nowNs() <= kLeadNs) {
        while (nowNs() < next) {
            // the lead: at most kLeadNs
        }
    }
    // A tick may stop the countdown (the bar running out) or restart it; either ends this run.
    const std::uint64_t generation = generation_;
    for (std::int64_t n = count_.take(count_.dueBy(nowNs()), TickCount::kMaxCatchUp);
         n > 0 && active_ && generation == generation_; --n) {
        tick_();
    }
    if (active_ && generation == generation_) {
        arm();
    }
}

}  // namespace sormio
