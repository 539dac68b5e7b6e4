#include <gtest/gtest.h>

#include "ticks.h"

namespace sormio {
namespace {

constexpr std::int64_t kMs = 1'000'000;

TEST(TickCount, countsWholePeriodsOfTheClockAndDeliversEachOnce) {
    TickCount ticks(std::chrono::milliseconds(10));
    ticks.start(5 * kMs);
    EXPECT_EQ(ticks.dueBy(14 * kMs), 0);
    EXPECT_EQ(ticks.dueBy(14 * kMs, kMs), 1) << "due within the tolerance counts as due";
    EXPECT_EQ(ticks.take(ticks.dueBy(15 * kMs), TickCount::kNoLimit), 1);
    EXPECT_EQ(ticks.take(ticks.dueBy(15 * kMs), TickCount::kNoLimit), 0);
    EXPECT_EQ(ticks.take(ticks.dueBy(2005 * kMs), TickCount::kNoLimit), 199);
    EXPECT_EQ(ticks.deadlineOf(201), 2015 * kMs);
    EXPECT_EQ(ticks.dueBy(0), 0) << "a clock read before the start";
}

TEST(TickCount, aLongStallReplaysOnlyTheCatchUpLimit) {
    TickCount ticks(std::chrono::milliseconds(10));
    ticks.start(0);
    const std::int64_t hour = 3'600'000 * kMs;
    EXPECT_EQ(ticks.take(ticks.dueBy(hour), TickCount::kMaxCatchUp), TickCount::kMaxCatchUp);
    EXPECT_EQ(ticks.take(ticks.dueBy(hour + 10 * kMs), TickCount::kMaxCatchUp), 1);
}

TEST(WakeUp, neverBeforeItsMomentTheTimerEarlyByItsLeadAndAnEarlierOneSetAgain) {
    using Woken = WakeUp::Woken;
    WakeUp wake(kMs);
    EXPECT_EQ(wake.woken(0), Woken::Off);
    EXPECT_EQ(wake.set(100 * kMs), 99 * kMs);
    EXPECT_EQ(wake.woken(90 * kMs), Woken::Early) << "a coarse timer";
    EXPECT_EQ(wake.woken(98 * kMs - 1), Woken::Early);
    EXPECT_EQ(wake.woken(98 * kMs), Woken::Wait) << "a lead before its time: set again, no sooner";
    EXPECT_EQ(wake.woken(100 * kMs - 1), Woken::Wait);
    EXPECT_EQ(wake.woken(100 * kMs), Woken::Due);
    EXPECT_EQ(wake.woken(101 * kMs), Woken::Off) << "once";
    wake.set(200 * kMs);
    EXPECT_EQ(wake.set(WakeUp::kOff), WakeUp::kOff);
    EXPECT_EQ(wake.woken(300 * kMs), Woken::Off) << "unset since the timer was set";
}

}  // namespace
}  // namespace sormio
