#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "game.h"
#include "key_table.h"
#include "recording_screen.h"

namespace sormio {
namespace {

using testing::RecordingScreen;
using Log = std::vector<std::string>;

Log allTilesBlack() {
    Log log;
    for (int tile = 0; tile < 36; ++tile) {
        log.push_back("paint " + std::to_string(tile) + " black");
    }
    return log;
}

Log operator+(Log a, const Log& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Log turnStart(int redTile, int width) {
    return allTilesBlack() + Log{"paint " + std::to_string(redTile) + " red",
                                 "width " + std::to_string(width), "show bar", "enable bar",
                                 "countdown on"};
}

Log beeps(int n) {
    return Log(static_cast<std::size_t>(n), "beep");
}

class GameTest : public ::testing::Test {
  protected:
    RecordingScreen screen;
    Game game{screen};

    // What the key handler does with a typed character.
    void type(int code) {
        std::int16_t keyascii = static_cast<std::int16_t>(code);
        game.picture1_KeyPress(keyascii);
        EXPECT_EQ(keyascii, 0) << "the key must be swallowed";
    }
    int targetKey() const { return KeyTable::keyOfValue(game.state.target).value(); }
    int targetTile() const { return KeyTable::tileOfKey(targetKey()); }
    void typeTarget() { type(KeyTable::charCodeOfKey(targetKey())); }
    void drawUntil(int key) {
        do {
            game.Tmr2_Timer();
        } while (game.state.sample != static_cast<float>(key));
    }
    // Ticks until the countdown stops; returns how many it took.
    int tickUntilStopped() {
        int ticks = 0;
        while (screen.countdown && ticks < 100000) {
            game.Tmr1_Timer();
            ++ticks;
        }
        return ticks;
    }
};

TEST_F(GameTest, startBeforeAnyDrawLightsTheZeroKeyAndStartsTheFullBar) {
    // The unset sample counts as key code 0, whose tile is the rightmost of the top row.
    game.mnustart_Click();
    const Log expected = allTilesBlack() + Log{"caption '0'", "show score"} + turnStart(9, 600);
    EXPECT_EQ(screen.take(), expected);
    type('0');
    EXPECT_EQ(game.state.score, 1);
}

TEST_F(GameTest, aHitBeepsScoresAndRestartsTheBarThreePixelsShorter) {
    // Lower case reaches the check upper-cased; the caption follows the next turn's start.
    for (bool soundOff : {false, true}) {
        SCOPED_TRACE(soundOff);
        game.state.soundoff = soundOff ? 1 : 0;
        drawUntil(14);  // "E", tile 12
        game.mnustart_Click();
        game.Tmr1_Timer();
        game.Tmr2_Timer();
        screen.take();
        const int next = KeyTable::tileOfKey(static_cast<int>(game.state.sample));
        type('e');
        const Log expected = Log{"countdown off"} + beeps(soundOff ? 0 : 1) + turnStart(next, 597) +
                             Log{"caption ' 1'", "show score"};
        EXPECT_EQ(screen.take(), expected);
        EXPECT_EQ(game.state.startwidth, 597);
        EXPECT_EQ(game.state.hit, 0);
        EXPECT_EQ(game.state.keycode, 'E');
        EXPECT_TRUE(game.state.keytext.empty());
    }
}

TEST_F(GameTest, captionsCountUpWithOneLeadingBlank) {
    game.mnustart_Click();
    for (int points = 1; points <= 12; ++points) {
        typeTarget();
    }
    EXPECT_EQ(screen.caption, " 12");
    EXPECT_EQ(scoreText(0), " 0");
}

struct MissCase {
    const char* name;
    int typed;
    int blueTile;  // -1: none
    bool soundOff;
};

class MissTest : public GameTest, public ::testing::WithParamInterface<MissCase> {};

TEST_P(MissTest, aMissEndsTheGameWithoutTouchingScoreOrWidth) {
    // The target stays red; only a typed key of the table turns blue; 19 beeps unless muted.
    const MissCase& c = GetParam();
    game.state.soundoff = c.soundOff ? 1 : 0;
    drawUntil(14);  // "E", tile 12
    game.mnustart_Click();
    type('E');  // the sampler has not ticked, so "E" is the target again
    screen.take();
    type(c.typed);
    Log expected = Log{"countdown off", "hide bar"} + beeps(c.soundOff ? 0 : 19);
    if (c.blueTile >= 0) {
        expected.push_back("paint " + std::to_string(c.blueTile) + " blue");
    }
    EXPECT_EQ(screen.take(), expected);
    EXPECT_EQ(game.state.score, 1);
    EXPECT_EQ(game.state.startwidth, 597);
    EXPECT_EQ(screen.caption, " 1");
    EXPECT_EQ(screen.tilesOf(TileColour::Red), 1);
    EXPECT_EQ(screen.tilesOf(TileColour::Blue), c.blueTile >= 0 ? 1 : 0);
    EXPECT_FALSE(screen.countdown);
}

INSTANTIATE_TEST_SUITE_P(
    WrongKeys, MissTest,
    ::testing::Values(MissCase{"wrong_letter", 'W', 11, false},
                      MissCase{"wrong_muted", 'w', 11, true}, MissCase{"space", ' ', -1, false},
                      MissCase{"enter", '\r', -1, false}, MissCase{"a_umlaut", 0xE4, -1, false},
                      MissCase{"punctuation", ';', -1, false}, MissCase{"backspace", 8, -1, true},
                      MissCase{"escape", 27, -1, false},
                      MissCase{"beyond_8_bits", 0x141, -1, false},
                      MissCase{"negative", -191, -1, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(GameTest, theCountdownRunsOutOnTickStartWidthOverThree) {
    // It shrinks 600, 597, ..., 0; gameover runs once, and nothing turns blue although keycode
    // still holds the last key that scored.
    drawUntil(14);
    game.mnustart_Click();
    type('E');
    const float before = game.state.sample;
    screen.logReads = true;
    screen.take();
    const int ticks = tickUntilStopped();
    EXPECT_EQ(ticks, 597 / 3);
    const Log log = screen.take();
    const Log lastTick = {"read", "width 0", "read", "hide bar", "countdown off", "hide bar"};
    ASSERT_GE(log.size(), lastTick.size() + 19);
    EXPECT_EQ(Log(log.end() - 25, log.end() - 19), lastTick);
    EXPECT_EQ(Log(log.end() - 19, log.end()), beeps(19));
    EXPECT_EQ(std::count(log.begin(), log.end(), "hide bar"), 2);
    EXPECT_EQ(game.state.timedout, 1);
    EXPECT_EQ(screen.tilesOf(TileColour::Blue), 0);
    EXPECT_EQ(game.state.sample, before) << "the countdown must not draw";
}

TEST_F(GameTest, shortBarsRunOutOnTheirFirstTick) {
    // From the 199th point on the bar starts at 3 px or less; at or below 0 it shows width 0.
    for (std::int64_t width : {3, 0, -3, -119400}) {
        SCOPED_TRACE(width);
        game.mnustart_Click();
        game.state.startwidth = width;
        game.paaohjelma();
        EXPECT_EQ(screen.width, static_cast<float>(std::max<std::int64_t>(width, 0)));
        EXPECT_EQ(tickUntilStopped(), 1);
        EXPECT_EQ(screen.width, 0.0f);
    }
}

TEST_F(GameTest, startDuringATurnBeginsAFreshGame) {
    // Tiles cleared, one new red tile, bar at 600, caption "0", timedout reset; sound untouched.
    game.state.soundoff = 1;
    game.mnustart_Click();
    for (int i = 0; i < 5; ++i) {
        typeTarget();
    }
    game.Tmr1_Timer();
    game.state.timedout = 1;  // as if the last game had timed out
    for (int i = 0; i < 7; ++i) {
        game.Tmr2_Timer();
    }
    game.mnustart_Click();
    EXPECT_EQ(game.state.score, 0);
    EXPECT_EQ(game.state.startwidth, 600);
    EXPECT_EQ(game.state.timedout, 0);
    EXPECT_EQ(game.state.soundoff, 1);
    EXPECT_EQ(screen.caption, "0");
    EXPECT_EQ(screen.width, 600.0f);
    EXPECT_EQ(screen.tilesOf(TileColour::Red), 1);
    EXPECT_TRUE(screen.countdown);
    EXPECT_TRUE(screen.takesKeys());
}

TEST_F(GameTest, startAfterAGameOverClearsTheBlueTile) {
    drawUntil(14);
    game.mnustart_Click();
    type('W');
    game.mnustart_Click();
    EXPECT_EQ(screen.tilesOf(TileColour::Blue), 0);
    EXPECT_EQ(screen.tilesOf(TileColour::Red), 1);
}

TEST_F(GameTest, twoStartsWithinOneSamplerPeriodLightTheSameTile) {
    game.Tmr2_Timer();
    game.mnustart_Click();
    const int first = targetTile();
    game.mnustart_Click();
    EXPECT_EQ(targetTile(), first);
}

TEST(Sampler, drawsWholeKeyCodesCoveringAllThirtySix) {
    // The same sequence on every run, never outside 0..35.
    RecordingScreen s1, s2;
    Game a(s1), b(s2);
    std::set<float> seen;
    for (int i = 0; i < 100000; ++i) {
        a.Tmr2_Timer();
        b.Tmr2_Timer();
        ASSERT_EQ(a.state.sample, b.state.sample);
        ASSERT_TRUE(KeyTable::keyOfValue(a.state.sample).has_value()) << a.state.sample;
        seen.insert(a.state.sample);
    }
    EXPECT_EQ(seen.size(), 36u);
}

TEST(Sampler, theLargestOutputStaysBelowOneAndDrawsKeyThirtyFive) {
    // Converted and scaled exactly as a tick does: must not round up to 1.0 and key code 36.
    const float r = Sampler::toUnit(Sampler::kLargestOutput);
    EXPECT_LT(r, 1.0f);
    EXPECT_EQ(std::floor(r * Game::kSamplerRange), 35.0f);
    EXPECT_EQ(Sampler::toUnit(0), 0.0f);
    EXPECT_EQ(std::floor(Sampler::toUnit(0) * Game::kSamplerRange), 0.0f);
}

TEST_F(GameTest, aFortyThousandHitGameNeitherOverflowsNorChangesWhatIsShown) {
    // The start width falls below what 16 bits hold after 10,923 hits; the bar stays at 0 and
    // every turn from the 200th point on lasts one tick.
    game.state.soundoff = 1;
    game.mnustart_Click();
    for (int points = 1; points <= 40000; ++points) {
        game.Tmr2_Timer();
        typeTarget();
        ASSERT_EQ(screen.width, points < 200 ? 600.0f - 3.0f * points : 0.0f) << points;
        ASSERT_TRUE(screen.takesKeys());
    }
    EXPECT_EQ(screen.caption, " 40000");
    EXPECT_EQ(game.state.startwidth, 600 - 3 * 40000);
    EXPECT_EQ(tickUntilStopped(), 1);
    EXPECT_EQ(game.state.timedout, 1);
}

TEST_F(GameTest, scoreAndStartWidthSaturateInsteadOfWrapping) {
    game.mnustart_Click();
    game.state.score = std::numeric_limits<std::int64_t>::max();
    game.state.startwidth = std::numeric_limits<std::int64_t>::min() + 1;
    typeTarget();
    typeTarget();
    EXPECT_EQ(game.state.score, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(game.state.startwidth, std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(screen.width, 0.0f);
    EXPECT_EQ(screen.caption, " 9223372036854775807");
}

}  // namespace
}  // namespace sormio
