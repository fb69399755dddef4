#pragma once
// Smoothed random signal of a NOISE filter: straight lines between random
// targets in [-1, 1], a new target every `period` time units, scaled by
// `amplitude`. All of its arithmetic is single precision, so a given seed
// yields the same sequence on every build.
#include <cstdint>
#include <random>

namespace rez {

class NoiseLayer {
public:
    // Time units that one evaluation advances (one evaluation every 2 ms).
    static constexpr float kStep = 2.0f;

    NoiseLayer(float amplitude, float period, float seedParam);

    // The contribution for one evaluation; advances the layer.
    float step() noexcept;

    // The generator's seed for a seed parameter: truncated toward zero to a
    // 64-bit integer, low 32 bits kept.
    static std::uint32_t seedFromParam(float seedParam) noexcept;

    float amplitude;
    float period;
    float phase = 0.0f;
    float previousTarget = 0.0f;
    float nextTarget = 0.0f;
    std::mt19937 generator;
    float low = -1.0f;
    float high = 1.0f;

private:
    float draw() noexcept;
};

}  // namespace rez
