#include "alarm.h"

#include <timeapi.h>

#include "system.h"

namespace sormio {

namespace {

// Windows 10 1803 and later wake a high-resolution waitable timer to within half a
// millisecond; older systems, and Wine, take the flag as unknown and get an ordinary one.
constexpr DWORD kHighResolution = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION

// A one-tick turn is 10 ms, and 1 % of it is 100 µs, while a high-resolution timer wakes within
// half a millisecond on Windows and Wine's within a whole one. At most an eighth of a core while
// a turn runs, nothing at rest.
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

std::int64_t Alarm::counterNs() {
    static const std::int64_t frequency = counterFrequency();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return c.QuadPart / frequency * 1'000'000'000 +
           c.QuadPart % frequency * 1'000'000'000 / frequency;
}

Alarm::Alarm() : wake_(kLeadNs) {
    timer_ = CreateWaitableTimerExW(nullptr, nullptr, kHighResolution, TIMER_ALL_ACCESS);
    if (timer_ == nullptr) {
        timer_ = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    }
}

Alarm::~Alarm() {
    set(kOff);
    if (timer_ != nullptr) {
        CloseHandle(timer_);
    }
}

void Alarm::set(std::int64_t atNs) {
    wake_.set(atNs);
    if (!wake_.isSet()) {
        if (running_) {
            running_ = false;
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
        return;
    }
    if (!running_) {
        running_ = true;
        finePeriod_ = finerTimer(true) == TIMERR_NOERROR;
        if (window_ != nullptr) {
            SetTimer(window_, kTimerId, USER_TIMER_MINIMUM, nullptr);
        }
    }
    arm();
}

void Alarm::arm() {
    if (timer_ != nullptr) {
        const std::int64_t wake = realNs(wake_.timerAt() - nowNs());
        LARGE_INTEGER due;
        due.QuadPart = -(wake > 0 ? wake / 100 : 0);  // relative, in 100 ns
        SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE);
    }
}

bool Alarm::due(std::int64_t& nowNs) {
    for (;;) {
        const std::int64_t now = Alarm::nowNs();
        switch (wake_.woken(now)) {
            case WakeUp::Woken::Off:
                return false;
            case WakeUp::Woken::Early:
                arm();  // WM_TIMER comes every few milliseconds whatever the moment
                return false;
            case WakeUp::Woken::Wait:
                continue;
            case WakeUp::Woken::Due:
                nowNs = now;
                return true;
        }
    }
}

}  // namespace sormio
