#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <random>
#include <string>

#include "frmsormio.h"
#include "key_entry.h"
#include "recording_platform.h"

namespace sormio {
namespace {

constexpr std::int64_t kMs = 1'000'000;

// The rules as the player sees them, kept by the test itself from what it typed and when.
struct Model {
    bool started = false, inTurn = false, blueExpected = false, soundOff = false;
    bool deadKeyPending = false;
    long long score = 0;
    std::int64_t now = 0, turnStart = 0;
    long long tones = 0;

    long long turnTicks() const { return std::max(1LL, 200 - score); }
    void tone(int n) { tones += soundOff ? 0 : n; }
    void start() {
        started = inTurn = true;
        blueExpected = deadKeyPending = false;
        score = 0;
        turnStart = now;
    }
    void gameOver(bool blue) {
        inTurn = false;
        blueExpected = blue;
        deadKeyPending = false;
        tone(19);
    }
    // The clock moves to t, never back: a turn whose ticks ran out meanwhile has timed out.
    bool advance(std::int64_t t) {
        now = std::max(now, t);
        if (inTurn && (now - turnStart) / (10 * kMs) >= turnTicks()) {
            gameOver(false);
            return true;
        }
        return false;
    }
    // One character typed during a turn: c, or not a key at all.
    void character(char32_t c, char lit) {
        if (!inTurn) {
            return;
        }
        if (c < 0x80 && std::toupper(static_cast<int>(c)) == lit) {
            ++score;
            tone(1);
            turnStart = now;
            return;
        }
        gameOver(c < 0x80 && std::isalnum(static_cast<int>(c)));
    }
};

class KeyStorm : public ::testing::Test {
  protected:
    testing::RecordingPlatform platform;
    Frmsormio frmsormio{platform};
    std::mt19937 random{20261207};
    Model model;
    bool careful = false;

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); }

    char litGlyph() const {
        for (const KeyRow& row : KeyTable::rows()) {
            if (frmsormio.view().tiles[static_cast<std::size_t>(row.tile)] ==
                rgbOf(TileColour::Red)) {
                return row.glyph;
            }
        }
        return '\0';
    }

    // Any text at all: control characters, Latin-1, every plane, lone surrogate halves,
    // combining marks, several characters at once, or the lit key itself so that games last.
    std::u16string randomText() {
        if (pick(400) == 0) {
            careful = !careful;  // careful stretches make long games; wild ones end them
        }
        const int kind = pick(1000);
        if (model.inTurn && kind >= (careful ? 2 : 500)) {
            const char lit = litGlyph();
            return std::u16string(1, static_cast<char16_t>(pick(2) ? lit : std::tolower(lit)));
        }
        std::u16string text;
        const int length = kind % 10 == 3 ? 0 : (kind % 10 == 4 ? 2 + pick(5) : 1);
        for (int i = 0; i < length; ++i) {
            switch (pick(6)) {
                case 0:
                    text += static_cast<char16_t>(pick(0x20));
                    break;
                case 1:
                    text += static_cast<char16_t>(0x20 + pick(0xE0));
                    break;
                case 2: {
                    const auto c = static_cast<char32_t>(0x10000 + pick(0x100000));
                    text += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
                    text += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
                    break;
                }
                case 3:
                    text += static_cast<char16_t>(0xD800 + pick(0x800));
                    break;
                case 4:
                    text += static_cast<char16_t>(0x300 + pick(0x70));  // combining marks
                    break;
                default:
                    text += static_cast<char16_t>(pick(0x10000));
                    break;
            }
        }
        return text;
    }

    // What the text must do by the rules alone: each character with its marks is one key.
    void expectText(const std::u16string& text, bool asKeyEvent) {
        std::u32string chars;
        for (std::size_t i = 0; i < text.size(); ++i) {
            char32_t c = text[i];
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                text[i + 1] <= 0xDFFF) {
                c = 0x10000;  // a pair: some character outside the basic plane
                ++i;
            }
            if (!chars.empty() && isCombiningMark(c)) {
                chars.back() = 0xFFFD;
            } else {
                chars += c;
            }
        }
        if (chars.empty()) {
            return;
        }
        if (asKeyEvent && model.deadKeyPending) {
            chars.assign(1, 0xFFFD);  // the key after a dead key is not itself, whatever it says
        }
        model.deadKeyPending = false;
        for (const char32_t c : chars) {
            model.character(c, litGlyph());
        }
    }

    std::int64_t nextTime() {
        switch (careful ? pick(3) : pick(10)) {
            case 0:
                return model.now;  // a stalled clock
            case 1:
                return model.now + pick(2) * kMs;
            case 2:
                return model.now + pick(12) * kMs;
            case 3:
                return model.now - pick(50) * kMs;  // a clock that went back
            case 4:
                return model.now + (1 + pick(5000)) * kMs;  // a jump
            default:
                return model.now + pick(40) * kMs;
        }
    }

    void step() {
        const int what = pick(100);
        if (what < 45) {
            const std::u16string text = randomText();
            const std::int64_t t = nextTime();
            model.advance(t);
            switch (pick(4)) {
                case 0:
                    expectText(text, false);
                    frmsormio.committed(text, t);
                    break;
                case 1:  // a character message at a time, as Windows sends them
                    if (text.size() == 1 && (text[0] < 0xD800 || text[0] > 0xDFFF)) {
                        expectText(text, false);
                        frmsormio.unit(text[0], t);
                        break;
                    }
                    [[fallthrough]];
                default:
                    expectText(text, true);
                    frmsormio.keyText(text, t);
                    break;
            }
        } else if (what < 48) {
            if (!model.inTurn || pick(careful ? 50 : 5) == 0) {
                const std::int64_t t = nextTime();
                // A Start drops what is left of the last game's tones, those of a turn that
                // ran out just before it included.
                if (model.advance(t) && !model.soundOff) {
                    model.tones -= 19;
                }
                model.start();
                frmsormio.mnustart_Click(t);
                frmsormio.audioOpened();  // the platform's answer
            }
        } else if (what < 49) {
            model.soundOff = !model.soundOff;
            frmsormio.mnusound_Click();
        } else if (what < 51) {
            if (!careful) {
                model.deadKeyPending = true;
                frmsormio.deadKey();
            }
        } else if (what < 75 && platform.wakeAtNs != Platform::kNever) {
            model.advance(platform.wakeAtNs);  // woken when asked
            frmsormio.wake(platform.wakeAtNs);
        } else {
            const std::int64_t t = nextTime();
            model.advance(t);
            frmsormio.wake(t);
        }
    }

    void checkInvariants() {
        const View& view = frmsormio.view();
        int red = 0, blue = 0;
        for (const Rgb& tile : view.tiles) {
            red += tile == rgbOf(TileColour::Red);
            blue += tile == rgbOf(TileColour::Blue);
        }
        ASSERT_EQ(red, model.started ? 1 : 0) << "red only during a turn or after a game over";
        ASSERT_EQ(blue, model.blueExpected ? 1 : 0);
        ASSERT_EQ(view.barTakesKeys(), model.inTurn);
        ASSERT_EQ(frmsormio.countdownRunning(), model.inTurn);
        ASSERT_EQ(view.score, model.started && model.score > 0 ? scoreText(model.score) : "0");
        ASSERT_EQ(view.scoreShown, model.started);
        ASSERT_EQ(view.soundCaption, model.soundOff ? "Äänet poissa" : "Äänet päällä");
        ASSERT_EQ(platform.tones, model.tones);
        if (model.inTurn) {
            const long long due = (model.now - model.turnStart) / (10 * kMs);
            ASSERT_EQ(view.barWidth, std::max(0LL, 600 - 3 * model.score - 3 * due));
            ASSERT_EQ(platform.wakeAtNs, model.turnStart + (due + 1) * 10 * kMs);
            ASSERT_EQ(frmsormio.telling().key, std::string(1, litGlyph()));
            ASSERT_TRUE(frmsormio.telling().ending.empty());
        } else {
            ASSERT_EQ(platform.wakeAtNs, Platform::kNever);
            ASSERT_TRUE(frmsormio.telling().key.empty());
            ASSERT_EQ(frmsormio.telling().ending.empty(), !model.started);
        }
    }
};

TEST_F(KeyStorm, fourHundredThousandRandomEventsKeepEveryInvariant) {
    frmsormio.Form_Load(0);
    long long hits = 0, games = 0, longest = 0, events = 0;
    for (; events < 400000; ++events) {
        const long long scoreBefore = model.score;
        const bool wasInTurn = model.inTurn;
        step();
        checkInvariants();
        if (HasFatalFailure()) {
            FAIL() << "after event " << events;
        }
        hits += model.score > scoreBefore ? 1 : 0;
        longest = std::max(longest, model.score);
        games += wasInTurn && !model.inTurn ? 1 : 0;
    }
    // The storm must really play: many games, many hits, long enough to reach one-tick turns.
    EXPECT_GT(games, 1000);
    EXPECT_GT(hits, 10000);
    EXPECT_GE(longest, 200) << "no game reached the one-tick turns";
    std::printf("%lld events, %lld games, %lld hits, longest game %lld, %lld tones\n", events,
                games, hits, longest, model.tones);
}

}  // namespace
}  // namespace sormio
