#include "tone.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace sormio {

const std::vector<std::int16_t>& Tone::slot() {
    static const std::vector<std::int16_t> samples = [] {
        std::vector<std::int16_t> s(kSlotFrames, 0);
        constexpr int fade = kRate * kFadeMs / 1000;
        for (int i = 0; i < kLengthFrames; ++i) {
            // Raised-cosine fades: no step in the signal or in its slope at either end.
            double gain = 1.0;
            const int fromEdge = std::min(i, kLengthFrames - 1 - i);
            if (fromEdge < fade) {
                gain = 0.5 - 0.5 * std::cos(std::numbers::pi * fromEdge / fade);
            }
            const double phase = 2.0 * std::numbers::pi * kFrequency * i / kRate;
            s[i] =
                static_cast<std::int16_t>(std::lround(kLevel * 32767.0 * gain * std::sin(phase)));
        }
        return s;
    }();
    return samples;
}

void ToneLedger::answered(std::int64_t framesLeft, std::int64_t atNs) {
    answered_ = true;
    framesLeft_ = std::max<std::int64_t>(framesLeft, 0);
    answeredAtNs_ = atNs;
    queuedSince_ = 0;
}

void ToneLedger::dropped() {
    answered_ = false;
    framesLeft_ = queuedSince_ = 0;
}

std::int64_t ToneLedger::unheard(std::int64_t nowNs) const {
    if (!answered_) {
        return queuedSince_;
    }
    // Played on at its own rate since it answered; whole slots still waiting have not begun,
    // and tones queued since wait behind them.
    const std::int64_t sinceNs =
        std::clamp<std::int64_t>(nowNs - answeredAtNs_, 0, 3'600'000'000'000);
    const std::int64_t left = framesLeft_ - sinceNs * Tone::kRate / 1'000'000'000;
    return std::max<std::int64_t>(left, 0) / Tone::kSlotFrames + queuedSince_;
}

int ToneLedger::lost(std::int64_t nowNs) {
    const std::int64_t tones = unheard(nowNs);
    dropped();
    return static_cast<int>(std::min<std::int64_t>(tones, std::numeric_limits<int>::max()));
}

}  // namespace sormio
