#include <gtest/gtest.h>

#include "game.h"
#include "recording_screen.h"
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

TEST(DueTicks, aStartAfterAnyRestTakesTheDrawOfEveryTickThatFellDue) {
    // A game idle for minutes makes no draws, yet its next target is the one that a draw every
    // 10 ms would have left: rests of different lengths give different first keys.
    std::int64_t now = 0;
    testing::RecordingScreen screen;
    Game jumped(screen), stepped(screen);
    DueTicks due(
        std::chrono::milliseconds(10), [&](std::int64_t n) { jumped.samplerTicks(n); },
        [&] { return now; });
    due.start();
    for (const std::int64_t rest : {9, 1, 2600, 4990, 180'000}) {
        now += rest * kMs;
        due.settle();
        for (std::int64_t i = rest / 10; i > 0; --i) {
            stepped.Tmr2_Timer();
        }
        ASSERT_EQ(jumped.state.sample, stepped.state.sample) << "after a rest of " << rest;
        now -= rest % 10 * kMs;  // keep the rests whole periods long
    }
}

}  // namespace
}  // namespace sormio
