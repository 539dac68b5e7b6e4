#include "frmsormio.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "recording_platform.h"

namespace sormio {
namespace {

using testing::RecordingPlatform;
using Log = std::vector<std::string>;

constexpr std::int64_t kMs = 1'000'000;

class FrmsormioTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window.Form_Load(now);
        platform.take();
    }

    // The sampler's next draw, fixed so that the test knows its target.
    void nextTarget(char glyph) {
        window.apply(now, [glyph](Game& g) {
            g.state.sample = static_cast<float>(KeyTable::keyOfCharCode(glyph).value());
        });
        platform.take();
    }
    void start(char glyph) {
        nextTarget(glyph);
        window.mnustart_Click(now);
    }
    // The sampler draws as the clock moves on: a target is fixed at the time of its key.
    void advance(std::int64_t ms) { now += ms * kMs; }
    void type(std::u32string_view text) { window.keyText(text, now); }
    Rgb tile(char glyph) const {
        return window.view().tiles[static_cast<std::size_t>(
            KeyTable::tileOfKey(KeyTable::keyOfCharCode(glyph).value()))];
    }

    RecordingPlatform platform;
    Frmsormio window{platform};
    std::int64_t now = 1000 * kMs;
};

TEST_F(FrmsormioTest, startLightsTheTargetTellsItsKeyAndAsksForTheFirstTick) {
    // The audio opens with the first game, and the key is told once the bar takes keys.
    EXPECT_EQ(platform.wakeAtNs, Platform::kNever);
    start('E');
    EXPECT_EQ(platform.take(), (Log{"open audio", "drop tones", "draw tiles,bar,score,turn"}));
    EXPECT_EQ(tile('E'), rgbOf(TileColour::Red));
    EXPECT_TRUE(window.view().barTakesKeys());
    EXPECT_EQ(window.view().barWidth, 600);
    EXPECT_EQ(window.view().score, "0");
    EXPECT_EQ(window.telling().key, "E");
    EXPECT_EQ(window.telling().turn, 1u);
    EXPECT_EQ(platform.wakeAtNs, now + 10 * kMs);
}

TEST_F(FrmsormioTest, aHitSoundsScoresAndTellsTheNextKeyAlsoWhenItIsTheSame) {
    start('E');
    advance(5);
    nextTarget('E');
    type(U"e");
    EXPECT_EQ(platform.take(), (Log{"1 tones", "draw bar,score,turn"}));
    EXPECT_EQ(window.view().score, " 1");
    EXPECT_EQ(window.view().barWidth, 597);
    EXPECT_EQ(window.telling().turn, 2u);
    EXPECT_TRUE(window.telling().sameKey);
    EXPECT_EQ(platform.wakeAtNs, now + 10 * kMs) << "the next turn counts from the key";
    nextTarget('Q');
    type(U"E");
    EXPECT_FALSE(window.telling().sameKey);
    EXPECT_EQ(window.telling().key, "Q");
}

TEST_F(FrmsormioTest, aMissEndsTheGameOnceAndTheNextStartClearsTheEnding) {
    // 19 tones, the wrong key blue, the ending told once; keys after it do nothing at all.
    start('E');
    type(U"e");
    platform.take();
    type(U"w");
    EXPECT_EQ(platform.take(), (Log{"19 tones", "draw tiles,bar,ending"}));
    EXPECT_EQ(tile('W'), rgbOf(TileColour::Blue));
    EXPECT_EQ(window.telling().ending, "Väärä näppäin W, pisteet 1");
    EXPECT_TRUE(window.telling().key.empty());
    EXPECT_EQ(platform.wakeAtNs, Platform::kNever);
    type(U"q");
    type(U"w");
    EXPECT_EQ(platform.take(), Log{});
    start('Q');
    EXPECT_TRUE(window.telling().ending.empty());
    EXPECT_NE(platform.drawn & Change::Ending, 0u);
    EXPECT_FALSE(window.telling().sameKey) << "a game ended in between";
}

TEST_F(FrmsormioTest, aTurnRunsOutAtItsLastTickAndNotOneBefore) {
    // A 200-, 100- and 1-tick turn, woken at every tick the middle asks for: it ends exactly
    // when countdownEndsAt() said, tones and ending included, and no wake-up is asked after.
    for (const int hits : {0, 100, 199}) {
        const int tonesBefore = platform.tones;
        start('E');
        for (int i = 0; i < hits; ++i) {
            advance(3);
            nextTarget('E');
            type(U"e");
        }
        const std::int64_t end = window.countdownEndsAt();
        EXPECT_EQ(end - now, 10 * kMs * (200 - hits)) << hits << " hits";
        platform.take();
        int wakes = 0;
        while (platform.wakeAtNs != Platform::kNever && wakes <= 200) {
            ASSERT_LE(platform.wakeAtNs, end);
            window.wake(platform.wakeAtNs - 1);
            ASSERT_TRUE(window.countdownRunning()) << "over early after " << hits << " hits";
            window.wake(platform.wakeAtNs);
            ++wakes;
        }
        EXPECT_EQ(wakes, 200 - hits);
        EXPECT_EQ(window.telling().ending, "Aika loppui, pisteet " + std::to_string(hits));
        EXPECT_EQ(platform.tones - tonesBefore, hits + 19);
        now = end;
    }
}

TEST_F(FrmsormioTest, wakeUpsThatComeLateDeliverEveryTickDueOnceAndEndTheGameOnce) {
    // Woken every 35 ms, a 30 px bar still takes exactly ten ticks and ends once.
    start('E');
    window.apply(now, [](Game& g) {
        g.state.startwidth = 30;
        g.paaohjelma();
    });
    const std::int64_t started = now;
    platform.take();
    std::vector<int> widths;
    while (window.countdownRunning()) {
        now += 35 * kMs;
        window.wake(now);
        widths.push_back(window.view().barWidth);
    }
    EXPECT_EQ(widths, (std::vector<int>{21, 9, 0}));
    EXPECT_EQ(platform.tones, 19);
    EXPECT_EQ(window.countdownEndsAt(), Platform::kNever);
    EXPECT_EQ(now - started, 105 * kMs);
}

TEST_F(FrmsormioTest, aKeyIsWeighedAtTheTimeItWasTypedWhateverCameBefore) {
    // No wake-up for two seconds: the key comes after the bar ran out, and is no hit.
    start('E');
    advance(2000);
    type(U"e");
    EXPECT_EQ(window.telling().ending, "Aika loppui, pisteet 0");
    EXPECT_FALSE(window.view().barShown);
    // A clock that says nothing or goes back moves nothing on.
    start('E');
    window.wake(nanosecondsOfMs(NAN));
    window.wake(nanosecondsOfMs(-1e300));
    window.wake(now - 500 * kMs);
    EXPECT_EQ(window.view().barWidth, 600);
    window.wake(now + 10 * kMs);
    EXPECT_EQ(window.view().barWidth, 597);
}

TEST_F(FrmsormioTest, soundOffSilencesTheGameFromItsNextBeepAndF3TwiceRestoresIt) {
    start('E');
    window.mnusound_Click();
    EXPECT_EQ(window.view().soundCaption, "Äänet poissa");
    EXPECT_NE(platform.drawn & Change::SoundItem, 0u);
    nextTarget('E');
    type(U"e");
    type(U"x");
    EXPECT_EQ(platform.tones, 0);
    window.mnusound_Click();
    EXPECT_EQ(window.view().soundCaption, "Äänet päällä");
    start('E');
    type(U"x");
    EXPECT_EQ(platform.tones, 19);
}

TEST_F(FrmsormioTest, whereNoAudioPlaysTheBellRingsForEveryTone) {
    platform.audio = false;
    start('E');
    nextTarget('E');
    type(U"e");
    EXPECT_EQ(platform.bells, 1);
    type(U" ");
    EXPECT_EQ(platform.bells, 20);
    window.tonesLost(3);  // the audio went away with three tones still to play
    EXPECT_EQ(platform.bells, 23);
    start('E');
    EXPECT_EQ(platform.opened, 2) << "every Start looks again for lost audio";
}

TEST_F(FrmsormioTest, aKeyAfterADeadKeyIsNeverThatKeyUntilStartForgetsTheDeadKey) {
    start('E');
    window.deadKey();
    type(U"e");
    EXPECT_FALSE(window.view().barShown);
    EXPECT_EQ(window.telling().ending, "Väärä näppäin, pisteet 0") << "no blue tile, no key named";
    window.deadKey();
    start('E');
    type(U"e");
    EXPECT_EQ(window.view().score, " 1");
}

TEST_F(FrmsormioTest, keysWhileNoTurnRunsAskForNothing) {
    type(U"e0 \ra");
    window.unit(u'e', now);
    window.committed(std::u16string_view(u"q"), now);
    EXPECT_EQ(platform.take(), Log{});
    EXPECT_EQ(platform.tones + platform.bells, 0);
}

TEST_F(FrmsormioTest, aStartAfterAnyRestTakesTheDrawOfEveryTickThatFellDue) {
    // No wake-up while idle, yet a Start finds the draw that a tick every 10 ms would have left;
    // two Starts within one period light the same key.
    Sampler reference;
    float expected = 0;
    for (const std::int64_t rest : {10, 20, 2600, 4990, 180'000}) {
        advance(rest);
        for (std::int64_t i = rest / 10; i > 0; --i) {
            expected = std::floor(reference.next() * Game::kSamplerRange);
        }
        window.mnustart_Click(now);
        ASSERT_EQ(window.game().state.target, expected) << "after a rest of " << rest;
        window.mnustart_Click(now + 9 * kMs);
        ASSERT_EQ(window.game().state.target, expected);
    }
}

TEST_F(FrmsormioTest, quitIsThePlatformsToCarryOutAndAFreshMiddleDrawsEverything) {
    // A page quits by starting afresh over what the last game left on screen.
    start('E');
    window.mnuquit_Click();
    EXPECT_TRUE(platform.quitted);
    RecordingPlatform page;
    Frmsormio fresh(page);
    fresh.Form_Load(now);
    EXPECT_EQ(page.take(), Log{"draw tiles,bar,score,sound,ending"});
}

}  // namespace
}  // namespace sormio
