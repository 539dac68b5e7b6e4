#pragma once

#include <cstdint>
#include <random>

namespace sormio {

// Uniform values in [0, 1) from a generator with a fixed starting state. The game never seeds
// it: what a turn draws depends only on how many sampler ticks have passed.
class Sampler {
  public:
    Sampler() = default;
    explicit Sampler(std::uint32_t seed) : engine_(seed) {}

    float next() { return toUnit(engine_()); }

    // Keeps the top 24 bits, which a float holds exactly, so the result is at most 1 - 2^-24 and
    // never rounds up to 1.0, as a plain division of the 32-bit value by 2^32 could.
    static constexpr float toUnit(std::uint32_t bits) {
        return static_cast<float>(bits >> 8) * (1.0f / 16777216.0f);
    }

    static constexpr std::uint32_t kLargestOutput = std::mt19937::max();

  private:
    std::mt19937 engine_;
};

}  // namespace sormio
