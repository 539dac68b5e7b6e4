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

// Which of the tones handed to an audio stream were heard, judged from what the stream itself
// said. The audio asks its stream, now and then while tones play, how much of what it was given
// is still to be played, and when it measured that; when the stream is lost, what it still held
// at its last answer, less what it has played since at its own rate, is what the player never
// heard (the one cut off counts as heard). The game's clock alone says nothing here: a server
// renders ahead of it or falls behind it, and a busy machine delays what the game asks.
class ToneLedger {
  public:
    // n more tones handed to the stream, behind the rest.
    void queued(int n) { queuedSince_ += n; }
    // The stream's answer, which speaks of every tone queued so far: at `atNs`, `framesLeft`
    // frames of what it was given were still to be played (what it holds, and what its device
    // holds).
    void answered(std::int64_t framesLeft, std::int64_t atNs);
    // Everything not yet played was thrown away.
    void dropped();
    // Tones that may not have begun by nowNs: while there are any, the audio keeps asking.
    std::int64_t unheard(std::int64_t nowNs) const;
    // The stream was found gone at nowNs: the tones never heard. The ledger starts afresh.
    int lost(std::int64_t nowNs);

  private:
    bool answered_ = false;
    std::int64_t framesLeft_ = 0;
    std::int64_t answeredAtNs_ = 0;
    std::int64_t queuedSince_ = 0;  // after the last answer
};

}  // namespace sormio
