#include "filters/noise_layer.h"

#include <cmath>

namespace rez {

NoiseLayer::NoiseLayer(float amplitude_, float period_, float seedParam)
    : amplitude(amplitude_), period(period_), generator(seedFromParam(seedParam)) {
    nextTarget = draw();
}

std::uint32_t NoiseLayer::seedFromParam(float seedParam) noexcept {
    // Outside the 64-bit range (or NaN) the x86 truncation gives the
    // "integer indefinite" value 0x8000000000000000, whose low word is 0; we
    // give the same seed without the undefined conversion.
    constexpr float two63 = 9223372036854775808.0f;
    if (!(seedParam > -two63 && seedParam < two63)) return 0u;
    const auto whole = static_cast<std::int64_t>(seedParam);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(whole) & 0xFFFFFFFFu);
}

float NoiseLayer::draw() noexcept {
    constexpr float twoPowMinus32 = 1.0f / 4294967296.0f;
    const std::uint32_t u = static_cast<std::uint32_t>(generator());
    const float t = static_cast<float>(u) * twoPowMinus32;
    return low + (high - low) * t;
}

float NoiseLayer::step() noexcept {
    // The target moves at most once per evaluation, so a period shorter than
    // one evaluation's step would push t past 1 and let the signal run away
    // (and 0, negative or NaN periods mean nothing at all). Such periods run
    // as the shortest one that works: a new target on every evaluation.
    const float p = period >= kStep ? period : kStep;
    phase = phase + kStep;
    if (!(phase < p)) {
        phase = phase - p;
        previousTarget = nextTarget;
        nextTarget = draw();
    }
    const float t = phase / p;
    return ((1.0f - t) * previousTarget + t * nextTarget) * amplitude;
}

}  // namespace rez
