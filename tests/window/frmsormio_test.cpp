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
        frmsormio.Form_Load(now);
        platform.take();
    }

    // The sampler's next draw, fixed so that the test knows its target.
    void nextTarget(char glyph) {
        frmsormio.apply(now, [glyph](Game& g) {
            g.state.sample = static_cast<float>(KeyTable::keyOfCharCode(glyph).value());
        });
        platform.take();
    }
    // A Start, and the platform's answer to its opening of the audio.
    void start(char glyph) {
        nextTarget(glyph);
        frmsormio.mnustart_Click(now);
        platform.audio ? frmsormio.audioOpened() : frmsormio.audioLost(0);
    }
    // The sampler draws as the clock moves on: a target is fixed at the time of its key.
    void advance(std::int64_t ms) { now += ms * kMs; }
    void type(std::u32string_view text) { frmsormio.keyText(text, now); }
    Rgb tile(char glyph) const {
        return frmsormio.view().tiles[static_cast<std::size_t>(
            KeyTable::tileOfKey(KeyTable::keyOfCharCode(glyph).value()))];
    }

    RecordingPlatform platform;
    Frmsormio frmsormio{platform};
    std::int64_t now = 1000 * kMs;
};

TEST_F(FrmsormioTest, startLightsTheTargetTellsItsKeyAndAsksForTheFirstTick) {
    // The audio opens with the first game, and the key is told once the bar takes keys.
    EXPECT_EQ(platform.wakeAtNs, Platform::kNever);
    start('E');
    EXPECT_EQ(platform.take(), (Log{"open audio", "drop tones", "draw tiles,bar,score,turn"}));
    EXPECT_EQ(tile('E'), rgbOf(TileColour::Red));
    EXPECT_TRUE(frmsormio.view().barTakesKeys());
    EXPECT_EQ(frmsormio.view().barWidth, 600);
    EXPECT_EQ(frmsormio.view().score, "0");
    EXPECT_EQ(frmsormio.telling().key, "E");
    EXPECT_EQ(frmsormio.telling().tile, KeyTable::tileOfKey(KeyTable::keyOfCharCode('E').value()));
    EXPECT_EQ(frmsormio.telling().turn, 1u);
    EXPECT_EQ(platform.wakeAtNs, now + 10 * kMs);
}

TEST_F(FrmsormioTest, aHitSoundsScoresAndTellsTheNextKeyAlsoWhenItIsTheSame) {
    start('E');
    advance(5);
    nextTarget('E');
    type(U"e");
    EXPECT_EQ(platform.take(), (Log{"1 tones", "draw bar,score,turn"}));
    EXPECT_EQ(frmsormio.view().score, " 1");
    EXPECT_EQ(frmsormio.view().barWidth, 597);
    EXPECT_EQ(frmsormio.telling().turn, 2u);
    EXPECT_TRUE(frmsormio.telling().sameKey);
    EXPECT_EQ(platform.wakeAtNs, now + 10 * kMs) << "the next turn counts from the key";
    nextTarget('Q');
    type(U"E");
    EXPECT_FALSE(frmsormio.telling().sameKey);
    EXPECT_EQ(frmsormio.telling().key, "Q");
}

TEST_F(FrmsormioTest, aMissEndsTheGameOnceAndTheNextStartClearsTheEnding) {
    // 19 tones, the wrong key blue, the ending told once; keys after it do nothing at all.
    start('E');
    type(U"e");
    platform.take();
    type(U"w");
    EXPECT_EQ(platform.take(), (Log{"19 tones", "draw tiles,bar,ending"}));
    EXPECT_EQ(tile('W'), rgbOf(TileColour::Blue));
    EXPECT_EQ(frmsormio.telling().ending, "Väärä näppäin W, pisteet 1");
    EXPECT_TRUE(frmsormio.telling().key.empty());
    EXPECT_EQ(frmsormio.telling().tile, -1);
    EXPECT_EQ(platform.wakeAtNs, Platform::kNever);
    type(U"q");
    type(U"w");
    EXPECT_EQ(platform.take(), Log{});
    start('Q');
    EXPECT_TRUE(frmsormio.telling().ending.empty());
    EXPECT_NE(platform.drawn & Change::Ending, 0u);
    EXPECT_FALSE(frmsormio.telling().sameKey) << "a game ended in between";
}

TEST_F(FrmsormioTest, aTurnIsToldWhereTheFocusMovesForEveryPlatformsScreenReader) {
    // E, E again, E again, Q, a miss, then a new game, told where each platform's reader hears it.
    using Focus = Telling::Focus;
    const auto told = [this](ReaderFocus reader) {
        platform.reader = reader;
        Frmsormio fresh{platform};
        fresh.Form_Load(now);
        std::vector<Focus> where;
        const auto lit = [&](char glyph) {
            fresh.apply(now, [glyph](Game& g) {
                g.state.sample = static_cast<float>(KeyTable::keyOfCharCode(glyph).value());
            });
        };
        lit('E');
        fresh.mnustart_Click(now);
        fresh.audioOpened();
        where.push_back(fresh.telling().focus);
        // Each key typed with the target it lights next: a miss lights the next game's.
        for (const auto& [key, next] :
             {std::pair{U'e', 'E'}, {U'e', 'E'}, {U'e', 'Q'}, {U'w', 'W'}}) {
            lit(next);
            fresh.keyText(std::u32string(1, key), now);
            where.push_back(fresh.telling().focus);
        }
        fresh.mnustart_Click(now);
        where.push_back(fresh.telling().focus);
        return where;
    };
    EXPECT_EQ(told({}), (std::vector{Focus::Tile, Focus::Bar, Focus::Tile, Focus::Tile,
                                     Focus::Ending, Focus::Tile}));
    EXPECT_EQ(told({.barFirst = true}), (std::vector{Focus::Bar, Focus::Tile, Focus::Bar,
                                                     Focus::Tile, Focus::Ending, Focus::Tile}));
    EXPECT_EQ(told({.tiles = false}), (std::vector{Focus::Bar, Focus::Bar, Focus::Bar, Focus::Bar,
                                                   Focus::Ending, Focus::Bar}));

    // Where keys stay on the bar, the tile told again through it is told once more a moment
    // later, unless the turn has moved on; the bar's value is its width when the turn was lit.
    platform.reader = {.keysStayOnBar = true};
    start('E');
    advance(5);
    nextTarget('E');
    type(U"e");
    EXPECT_EQ(frmsormio.telling().focus, Focus::Bar);
    EXPECT_EQ(frmsormio.telling().value, 597);
    const std::uint64_t turn = frmsormio.telling().turn;
    platform.take();
    advance(150);
    frmsormio.wake(now);
    EXPECT_EQ(frmsormio.telling().focus, Focus::Tile);
    EXPECT_EQ(frmsormio.telling().turn, turn);
    EXPECT_NE(platform.drawn & Change::Turn, 0u);
    EXPECT_EQ(frmsormio.telling().value, 597) << "told once a turn, not with every tick";
    nextTarget('E');
    type(U"e");
    advance(50);
    nextTarget('E');
    type(U"e");
    EXPECT_EQ(frmsormio.telling().focus, Focus::Tile) << "the bar had it: the tile tells it";
    platform.take();
    advance(150);
    frmsormio.wake(now);
    EXPECT_EQ(platform.drawn & Change::Turn, 0u) << "the retelling of a turn gone by";
}

TEST_F(FrmsormioTest, aTurnRunsOutAtItsLastTickAndNotOneBefore) {
    // A 200-, 100- and 1-tick turn, woken at every tick Frmsormio asks for: it ends exactly
    // when countdownEndsAt() said, tones and ending included, and no wake-up is asked after.
    for (const int hits : {0, 100, 199}) {
        const int tonesBefore = platform.tones;
        start('E');
        for (int i = 0; i < hits; ++i) {
            advance(3);
            nextTarget('E');
            type(U"e");
        }
        const std::int64_t end = frmsormio.countdownEndsAt();
        EXPECT_EQ(end - now, 10 * kMs * (200 - hits)) << hits << " hits";
        platform.take();
        int wakes = 0;
        while (platform.wakeAtNs != Platform::kNever && wakes <= 200) {
            ASSERT_LE(platform.wakeAtNs, end);
            frmsormio.wake(platform.wakeAtNs - 1);
            ASSERT_TRUE(frmsormio.countdownRunning()) << "over early after " << hits << " hits";
            frmsormio.wake(platform.wakeAtNs);
            ++wakes;
        }
        EXPECT_EQ(wakes, 200 - hits);
        EXPECT_EQ(frmsormio.telling().ending, "Aika loppui, pisteet " + std::to_string(hits));
        EXPECT_EQ(platform.tones - tonesBefore, hits + 19);
        now = end;
    }
}

TEST_F(FrmsormioTest, wakeUpsThatComeLateDeliverEveryTickDueOnceAndEndTheGameOnce) {
    // Woken every 35 ms, a 30 px bar still takes exactly ten ticks and ends once.
    start('E');
    frmsormio.apply(now, [](Game& g) {
        g.state.startwidth = 30;
        g.paaohjelma();
    });
    const std::int64_t started = now;
    platform.take();
    std::vector<int> widths;
    while (frmsormio.countdownRunning()) {
        now += 35 * kMs;
        frmsormio.wake(now);
        widths.push_back(frmsormio.view().barWidth);
    }
    EXPECT_EQ(widths, (std::vector<int>{21, 9, 0}));
    EXPECT_EQ(platform.tones, 19);
    EXPECT_EQ(frmsormio.countdownEndsAt(), Platform::kNever);
    EXPECT_EQ(now - started, 105 * kMs);
}

TEST_F(FrmsormioTest, aKeyIsWeighedAtTheTimeItWasTypedWhateverCameBefore) {
    // No wake-up for two seconds: the key comes after the bar ran out, and is no hit.
    start('E');
    advance(2000);
    type(U"e");
    EXPECT_EQ(frmsormio.telling().ending, "Aika loppui, pisteet 0");
    EXPECT_FALSE(frmsormio.view().barShown);
    // A clock that says nothing or goes back moves nothing on.
    start('E');
    frmsormio.wake(nanosecondsOfMs(NAN));
    frmsormio.wake(nanosecondsOfMs(-1e300));
    frmsormio.wake(now - 500 * kMs);
    EXPECT_EQ(frmsormio.view().barWidth, 600);
    frmsormio.wake(now + 10 * kMs);
    EXPECT_EQ(frmsormio.view().barWidth, 597);
}

TEST_F(FrmsormioTest, soundOffSilencesTheGameFromItsNextBeepAndF3TwiceRestoresIt) {
    start('E');
    frmsormio.mnusound_Click();
    EXPECT_EQ(frmsormio.view().soundCaption, "Äänet poissa");
    EXPECT_NE(platform.drawn & Change::SoundItem, 0u);
    nextTarget('E');
    type(U"e");
    type(U"x");
    EXPECT_EQ(platform.tones, 0);
    frmsormio.mnusound_Click();
    EXPECT_EQ(frmsormio.view().soundCaption, "Äänet päällä");
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
    frmsormio.audioLost(3);  // the audio went away with three tones still to play
    EXPECT_EQ(platform.bells, 23);
    start('E');
    EXPECT_EQ(platform.opened, 2) << "every Start looks again for lost audio";
}

TEST_F(FrmsormioTest, tonesWaitForTheAudioThatOpensAndRingWhereItFailsOrIsLost) {
    nextTarget('E');
    frmsormio.mnustart_Click(now);  // no answer yet
    nextTarget('E');
    type(U"e");
    EXPECT_EQ(platform.tones + platform.bells, 0) << "a hit's tone waits for the audio";
    frmsormio.audioOpened();
    EXPECT_EQ(platform.tones, 1);
    frmsormio.audioLost(2);
    type(U"x");
    EXPECT_EQ(platform.bells, 2 + 19) << "the unheard, and every tone until the audio is back";
    frmsormio.mnustart_Click(now);
    type(U"x");
    frmsormio.mnustart_Click(now);
    type(U"x");
    EXPECT_EQ(platform.tones + platform.bells, 1 + 21) << "still waiting; a Start dropped some";
    frmsormio.audioLost(0);  // it could not open
    EXPECT_EQ(platform.bells, 21 + 19);
    EXPECT_EQ(platform.tones, 1);
}

TEST_F(FrmsormioTest, aKeyAfterADeadKeyIsNeverThatKeyUntilStartForgetsTheDeadKey) {
    start('E');
    frmsormio.deadKey();
    type(U"e");
    EXPECT_FALSE(frmsormio.view().barShown);
    EXPECT_EQ(frmsormio.telling().ending, "Väärä näppäin, pisteet 0")
        << "no blue tile, no key named";
    frmsormio.deadKey();
    start('E');
    type(U"e");
    EXPECT_EQ(frmsormio.view().score, " 1");
}

// Every platform's report of a key, whatever its events: what counts is decided here once.
TEST_F(FrmsormioTest, whatAKeyIsToTheGameIsTheSameHoweverThePlatformReportsIt) {
    using Name = KeyPress::Name;
    const auto press = [](Name name, std::u32string_view text, bool ctrl = false, bool alt = false,
                          bool meta = false) {
        KeyPress p;
        p.name = name;
        p.text = text;
        p.ctrl = ctrl;
        p.alt = alt;
        p.meta = meta;
        return p;
    };
    struct Case {
        const char* what;
        KeyPress press;
        bool ends;
    };
    for (const Case& c : {
             Case{"Ctrl+E as a browser has it", press(Name::Character, U"e", true), true},
             Case{"Ctrl+E as a desktop has it", press(Name::Character, U"\x05", true), true},
             Case{"Enter", press(Name::Enter, U""), true},
             Case{"Escape", press(Name::Escape, U"\x1b"), true},
             Case{"AltGr's @", press(Name::Character, U"@"), true},
             Case{"Alt+E", press(Name::Character, U"e", false, true), false},
             Case{"Meta+E", press(Name::Character, U"e", false, false, true), false},
             Case{"Ctrl+1", press(Name::Character, U"1", true), false},
             Case{"an arrow", press(Name::Other, U""), false},
         }) {
        start('E');
        EXPECT_EQ(frmsormio.key(c.press, now), c.ends) << c.what << ": taken";
        EXPECT_EQ(frmsormio.view().barShown, !c.ends) << c.what;
        EXPECT_EQ(frmsormio.game().state.score, 0) << c.what;
    }
    // A keydown whose character comes with its keypress types nothing by itself.
    start('E');
    KeyPress down = press(Name::Character, U"e");
    down.characterFollows = true;
    EXPECT_FALSE(frmsormio.key(down, now));
    EXPECT_TRUE(frmsormio.key(press(Name::Character, U"e"), now));
    EXPECT_EQ(frmsormio.game().state.score, 1);
    // While no turn runs, the platform keeps its keys: Tab moves on, Space scrolls.
    frmsormio.key(press(Name::Character, U"q"), now);
    EXPECT_FALSE(frmsormio.key(press(Name::Tab, U"\t"), now));
}

TEST_F(FrmsormioTest, theMenusShortcutsAreItsCommandsWithNoModifierHeld) {
    KeyPress f1;
    f1.name = KeyPress::Name::Function;
    f1.function = 1;
    KeyPress f3 = f1;
    f3.function = 3;
    KeyPress f5 = f1;
    f5.function = 5;
    nextTarget('E');
    EXPECT_TRUE(frmsormio.key(f1, now));
    EXPECT_TRUE(frmsormio.view().barTakesKeys());
    EXPECT_TRUE(frmsormio.key(f3, now));
    EXPECT_EQ(frmsormio.view().soundCaption, "Äänet poissa");
    f3.shift = true;
    EXPECT_TRUE(frmsormio.key(f3, now)) << "not the browser's find either";
    EXPECT_EQ(frmsormio.view().soundCaption, "Äänet poissa");
    EXPECT_FALSE(frmsormio.key(f5, now));
    EXPECT_TRUE(frmsormio.view().barTakesKeys());
}

TEST_F(FrmsormioTest, keysWhileNoTurnRunsAskForNothing) {
    type(U"e0 \ra");
    frmsormio.unit(u'e', now);
    frmsormio.committed(std::u16string_view(u"q"), now);
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
        frmsormio.mnustart_Click(now);
        ASSERT_EQ(frmsormio.game().state.target, expected) << "after a rest of " << rest;
        frmsormio.mnustart_Click(now + 9 * kMs);
        ASSERT_EQ(frmsormio.game().state.target, expected);
    }
}

TEST_F(FrmsormioTest, quitIsThePlatformsToCarryOutAndAFreshFrmsormioDrawsEverything) {
    // A page quits by starting afresh over what the last game left on screen.
    start('E');
    frmsormio.mnuquit_Click();
    EXPECT_TRUE(platform.quitted);
    RecordingPlatform page;
    Frmsormio fresh(page);
    fresh.Form_Load(now);
    EXPECT_EQ(page.take(), Log{"draw tiles,bar,score,sound,ending"});
}

}  // namespace
}  // namespace sormio
