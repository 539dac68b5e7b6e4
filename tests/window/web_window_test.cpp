#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <string>

#include "web_window.h"

namespace sormio {
namespace {

// Hits the key the page would tell, at `atMs`.
void hit(WebWindow& w, double atMs) {
    const std::string key = w.barName();
    ASSERT_EQ(key.size(), 1u);
    const std::u32string typed(1, static_cast<char32_t>(std::tolower(key[0])));
    w.keyText(typed, atMs);
}

TEST(WebWindow, aTurnEndsAtTheVeryTickItsTimerIsSetFor) {
    // A page ends a turn that runs out between frames on a timer set for timeoutAt(): a 200-,
    // 100- and 1-tick turn must end at that moment and not a tick before.
    for (const int hits : {0, 100, 199}) {
        WebWindow w(1000.0);
        w.mnustart_Click(1000.5);
        double now = 1000.5;
        for (int i = 0; i < hits; ++i) {
            now += 3.0;
            hit(w, now);
        }
        const double end = w.timeoutAt();
        EXPECT_NEAR(end - now, 10.0 * (200 - hits), 1e-6) << hits << " hits";
        EXPECT_TRUE(w.frame(end - 0.01)) << "over early after " << hits << " hits";
        EXPECT_FALSE(w.frame(end)) << "still running after " << hits << " hits";
        EXPECT_EQ(w.ending(), "Aika loppui, pisteet " + std::to_string(hits));
        EXPECT_EQ(w.timeoutAt(), -1);
    }
}

TEST(WebWindow, aKeyIsWeighedAtItsOwnTimeWhateverFramesCameBefore) {
    WebWindow w(0.0);
    w.mnustart_Click(0.0);
    const std::string target = w.barName();
    // No frame ran for two seconds: the key comes after the bar ran out and is no hit.
    hit(w, 2000.0);
    EXPECT_EQ(w.ending(), "Aika loppui, pisteet 0");
    EXPECT_EQ(w.bar(), -1);
    // A clock that says nothing or goes back gives no ticks and breaks nothing.
    w.mnustart_Click(3000.0);
    EXPECT_TRUE(w.frame(NAN));
    EXPECT_TRUE(w.frame(-1e300));
    EXPECT_EQ(w.bar(), 600);
    EXPECT_TRUE(w.frame(3010.0));
    EXPECT_EQ(w.bar(), 597);
}

}  // namespace
}  // namespace sormio
