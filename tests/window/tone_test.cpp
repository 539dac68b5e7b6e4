#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "tone.h"

namespace sormio {
namespace {

TEST(Tone, isAShortClearPitchThatNeitherClicksNorClips) {
    // One slot is the tone and then the silence that keeps a burst's tones apart.
    const auto& s = Tone::slot();
    ASSERT_EQ(s.size(), static_cast<std::size_t>(Tone::kSlotFrames));
    const auto sounding = std::find_if(s.rbegin(), s.rend(), [](int v) { return v != 0; });
    const double lengthMs = 1000.0 * static_cast<double>(s.rend() - sounding) / Tone::kRate;
    EXPECT_GE(lengthMs, 30);
    EXPECT_LE(lengthMs, 50);
    EXPECT_GE(1000.0 * static_cast<double>(sounding - s.rbegin()) / Tone::kRate, 30)
        << "too little silence after the tone to tell the tones of a burst apart";

    int peak = 0, crossings = 0, steepest = 0;
    for (std::size_t i = 0; i + 1 < s.size(); ++i) {
        peak = std::max(peak, std::abs(s[i]));
        crossings += (s[i] < 0) != (s[i + 1] < 0);
        steepest = std::max(steepest, std::abs(s[i + 1] - s[i]));
    }
    EXPECT_LE(peak, 32767 / 2) << "a moderate level, far from full scale";
    EXPECT_GE(peak, 32767 / 8);
    EXPECT_NEAR(crossings / 2.0 / (Tone::kLengthMs / 1000.0), Tone::kFrequency, 30);
    // No step steeper than the sine itself has: the fades start and end at silence.
    const double sineSlope = peak * 2 * std::numbers::pi * Tone::kFrequency / Tone::kRate;
    EXPECT_LE(steepest, sineSlope * 1.01);
    EXPECT_LE(std::abs(s[0]), 1);
    const int fadeEnd = Tone::kRate * Tone::kFadeMs / 1000;
    for (int i = 0; i < fadeEnd / 4; ++i) {
        EXPECT_LE(std::abs(s[i]), peak / 5) << "the fade-in is too short at sample " << i;
    }
}

TEST(ToneLedger, theBellIsForTheTonesTheStreamHadNotBegun) {
    // A game over's 19 tones. The stream said that 15 whole slots and half of another were
    // still to play: the one it was playing was heard. Lost two slots' time after it said so
    // (the game may have been too busy to ask again), it had begun two more.
    constexpr std::int64_t slotNs = std::int64_t{Tone::kSlotFrames} * 1'000'000'000 / Tone::kRate;
    constexpr std::int64_t t0 = 5'000'000'000;
    ToneLedger ledger;
    ledger.queued(19);
    EXPECT_EQ(ledger.unheard(t0), 19) << "nothing is heard before the stream says so";
    ledger.answered(15 * Tone::kSlotFrames + Tone::kSlotFrames / 2, t0);
    EXPECT_EQ(ledger.unheard(t0), 15);
    EXPECT_EQ(ledger.unheard(t0 - slotNs), 15) << "an answer read late is not played backwards";
    EXPECT_EQ(ledger.lost(t0 + 2 * slotNs), 13);
    EXPECT_EQ(ledger.lost(t0 + 2 * slotNs), 0) << "what was rung for once is not rung again";

    // Tones queued after the last answer wait behind what it held; a stream that ran dry (its
    // write position behind the play position) holds nothing; a Start's drop forgets it all.
    ledger.queued(1);
    ledger.answered(-4800, t0);
    ledger.queued(2);
    EXPECT_EQ(ledger.unheard(t0 + 100 * slotNs), 2);
    ledger.dropped();
    ledger.queued(1);
    EXPECT_EQ(ledger.lost(t0), 1);
}

}  // namespace
}  // namespace sormio
