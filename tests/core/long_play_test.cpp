#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <random>

#include "game.h"
#include "key_table.h"

namespace sormio {
namespace {

// Keeps what a window would show, and nothing else: a million turns must not wait on a log.
class LeanScreen : public Screen {
  public:
    std::array<TileColour, 36> tiles{};
    float width = 0.0f;
    bool shown = false, enabled = false, countdown = false, scoreShown = false;
    std::string caption = "0";
    long long beeps = 0;

    void paintTile(int tile, TileColour colour) override { tiles.at(tile) = colour; }
    float barWidth() const override { return width; }
    void setBarWidth(float px) override { width = px < 0.0f ? 0.0f : px; }
    void setBarShown(bool on) override { shown = on; }
    void setBarEnabled(bool on) override { enabled = on; }
    void setCountdown(bool on) override { countdown = on; }
    void setScoreCaption(const std::string& text) override { caption = text; }
    void showScore() override { scoreShown = true; }
    void beep() override { ++beeps; }

    int count(TileColour colour) const {
        return static_cast<int>(std::count(tiles.begin(), tiles.end(), colour));
    }
};

// The code page's upper case, as far as it can reach the table: only "a".."z" move onto it.
bool codepageUpperIs(int typed, int charCode) {
    return (typed >= 'a' && typed <= 'z' ? typed - 0x20 : typed) == charCode;
}

TEST(LongPlay, aMillionTurnsOfHitsMissesTimeOutsAndRestartsStayConsistent) {
    // A bot plays through the core alone; after every turn the picture and the score agree
    // with what the bot did.
    LeanScreen screen;
    Game game(screen);
    std::mt19937 random(4);
    long long turns = 0, score = 0, hits = 0, misses = 0, timeouts = 0, restarts = 0;
    game.mnustart_Click();
    while (turns < 1'000'000) {
        for (int n = static_cast<int>(random() % 4); n > 0; --n) {
            game.Tmr2_Timer();
        }
        const int key = KeyTable::keyOfValue(game.state.target).value();
        const unsigned what = random() % 100;
        if (!screen.shown || what < 2) {
            game.mnustart_Click();
            score = 0;
            ++restarts;
        } else if (what < 90) {
            std::int16_t typed = static_cast<std::int16_t>(KeyTable::charCodeOfKey(key) |
                                                           (what % 2 ? 0x20 : 0));  // either case
            game.picture1_KeyPress(typed);
            ++score;
            ++hits;
        } else if (what < 95) {
            std::int16_t typed = static_cast<std::int16_t>(random() % 256);
            const bool isHit = codepageUpperIs(typed, KeyTable::charCodeOfKey(key));
            game.picture1_KeyPress(typed);
            score += isHit ? 1 : 0;
            (isHit ? hits : misses) += 1;
        } else {
            long long ticks = 0;
            while (screen.countdown) {
                game.Tmr1_Timer();
                ++ticks;
            }
            ASSERT_EQ(ticks, std::max(1LL, 200 - score));
            ++timeouts;
        }
        ++turns;
        ASSERT_EQ(game.state.score, score);
        ASSERT_EQ(screen.count(TileColour::Red), 1);
        ASSERT_LE(screen.count(TileColour::Blue), 1);
        ASSERT_EQ(screen.shown, screen.countdown);
        ASSERT_EQ(screen.caption, score > 0 ? scoreText(score) : "0");
        ASSERT_EQ(screen.width,
                  screen.shown ? std::max(0.0f, 600.0f - 3.0f * score) : screen.width);
    }
    std::printf("%lld turns: %lld hits, %lld misses, %lld time-outs, %lld restarts\n", turns, hits,
                misses, timeouts, restarts);
    EXPECT_GT(hits, 700'000);
    EXPECT_GT(misses, 10'000);
    EXPECT_GT(timeouts, 10'000);
    EXPECT_GT(restarts, 10'000);
}

}  // namespace
}  // namespace sormio
