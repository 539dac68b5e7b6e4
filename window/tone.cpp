#include "tone.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>

namespace sormio {

namespace {

// cos and sin of a small angle by their series, at compile time: the tone is then made by
// rotation alone, and the program carries no trigonometry of its own (the page's module, which
// a phone downloads, is 3 KB smaller without it).
struct Turn {
    double cos, sin;
};

constexpr Turn turnBy(double angle) {
    double c = 0, s = 0, power = 1;  // angle^n / n!
    for (int n = 0; n < 30; ++n) {
        (n % 2 == 0 ? c : s) += n % 4 < 2 ? power : -power;
        power *= angle / (n + 1);
    }
    return {c, s};
}

// (cos, sin) of a + b from those of a and of b.
constexpr Turn operator*(Turn a, Turn b) {
    return {a.cos * b.cos - a.sin * b.sin, a.sin * b.cos + a.cos * b.sin};
}

}  // namespace

const std::vector<std::int16_t>& Tone::slot() {
    static const std::vector<std::int16_t> samples = [] {
        std::vector<std::int16_t> s(kSlotFrames, 0);
        constexpr int fade = kRate * kFadeMs / 1000;
        // Raised-cosine fades: no step in the signal or in its slope at either end.
        std::array<double, fade> fadeGain{};
        constexpr Turn fadeStep = turnBy(std::numbers::pi / fade);
        Turn edge{1, 0};
        for (double& gain : fadeGain) {
            gain = 0.5 - 0.5 * edge.cos;
            edge = edge * fadeStep;
        }
        constexpr Turn step = turnBy(2.0 * std::numbers::pi * kFrequency / kRate);
        Turn phase{1, 0};
        for (int i = 0; i < kLengthFrames; ++i) {
            const int fromEdge = std::min(i, kLengthFrames - 1 - i);
            const double gain =
                fromEdge < fade ? fadeGain[static_cast<std::size_t>(fromEdge)] : 1.0;
            s[i] = static_cast<std::int16_t>(std::lround(kLevel * 32767.0 * gain * phase.sin));
            phase = phase * step;
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
