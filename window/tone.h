#pragma once

#include <cstdint>
#include <vector>

namespace sormio {

// The game's beep, made here rather than read from a file: a short sine with smooth fades, so
// that it never clicks, at a level well below full scale, so that it never clips. Mono signed
// 16-bit samples.
struct Tone {
    static constexpr int kRate = 48000;
    static constexpr int kFrequency = 880;  // A5: clear on laptop speakers and headphones alike
    static constexpr int kLengthMs = 40;
    static constexpr int kFadeMs = 4;
    // The silence after each tone, so that the 19 tones of a game over can be counted.
    static constexpr int kGapMs = 40;
    static constexpr double kLevel = 0.3;  // about -10 dB of full scale

    static constexpr int kLengthFrames = kRate * kLengthMs / 1000;
    static constexpr int kGapFrames = kRate * kGapMs / 1000;
    // One tone and the silence after it: what each beep() adds to the queue.
    static constexpr int kSlotFrames = kLengthFrames + kGapFrames;

    static const std::vector<std::int16_t>& slot();
};

}  // namespace sormio
