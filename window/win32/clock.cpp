#include "alarm.h"

// The game's clock, apart from the alarm: the program links this one, and a test build of it a
// clock that the harness sets instead (tests/e2e/paced_clock.cpp).
namespace sormio {

namespace {

std::int64_t counterFrequency() {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
}

}  // namespace

std::int64_t Alarm::nowNs() {
    static const std::int64_t frequency = counterFrequency();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return c.QuadPart / frequency * 1'000'000'000 +
           c.QuadPart % frequency * 1'000'000'000 / frequency;
}

std::int64_t Alarm::realNs(std::int64_t ns) {
    return ns;
}

}  // namespace sormio
