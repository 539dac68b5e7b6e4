#pragma once

#include <cstdint>

namespace sormio {

// Uniform values in [0, 1) from a generator with a fixed starting state. The game never seeds
// it: what a turn draws depends only on how many sampler ticks have passed.
//
// The value of draw n is computed from n alone (a counter run through a 64-bit mixer), so that
// any number of draws can be skipped at the cost of one: an idle game makes no draws at all, and
// a Start after any rest still takes exactly the draw that a tick every period would have left.
class Sampler {
  public:
    Sampler() = default;
    // Starts at draw `first` of the same sequence; lets a test choose where it is.
    explicit Sampler(std::uint64_t first) : counter_(first) {}

    float next() { return toUnit(bitsOfDraw(counter_++)); }
    // The same as n calls of next() whose results are thrown away.
    void discard(std::uint64_t n) { counter_ += n; }

    // SplitMix64's output function applied to the draw's number.
    static constexpr std::uint32_t bitsOfDraw(std::uint64_t n) {
        std::uint64_t z = (n + 1) * 0x9E3779B97F4A7C15ULL;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return static_cast<std::uint32_t>((z ^ (z >> 31)) >> 32);
    }

    // Keeps the top 24 bits, which a float holds exactly, so the result is at most 1 - 2^-24 and
    // never rounds up to 1.0, as a plain division of the 32-bit value by 2^32 could.
    static constexpr float toUnit(std::uint32_t bits) {
        return static_cast<float>(bits >> 8) * (1.0f / 16777216.0f);
    }

    static constexpr std::uint32_t kLargestOutput = 0xFFFFFFFFu;

  private:
    std::uint64_t counter_ = 0;
};

}  // namespace sormio
