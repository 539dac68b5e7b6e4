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

void ToneLedger::answered(std::int64_t framesLeft) {
    // Whole slots still waiting have not begun; the rest of the one playing has.
    unheard_ = std::min(unheard_, std::max<std::int64_t>(framesLeft, 0) / Tone::kSlotFrames);
}

int ToneLedger::lost() {
    const std::int64_t unheard = unheard_;
    unheard_ = 0;
    return static_cast<int>(std::min<std::int64_t>(unheard, std::numeric_limits<int>::max()));
}

}  // namespace sormio
