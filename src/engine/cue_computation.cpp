#include <cmath>

#include "engine/channel_bindings.h"
#include "engine/channel_run.h"
#include "engine/gamesource_engine.h"

namespace rez {

double GamesourceEngine::evaluateChannel(MotionProfile& profile, const ChannelBinding& binding, double weight) {
    const auto c = static_cast<std::size_t>(binding.channel);
    if (profile.enableFlags[c].load(std::memory_order_relaxed) == 0) return 0.0;
    double x = sources.record.slots[binding.slot];
    if (std::isfinite(x))
        profile.lastFiniteInput[c] = x;
    else
        x = profile.lastFiniteInput[c];
    // The tick reaches its chain without the slot's lock; the chain stays
    // alive until the tick's next look at this slot.
    FilterSys& head = profile.filterSlots[c].tickHead();
    if (binding.limit == 1) {
        if (!head.valid.load()) return 0.0 * weight;
        x = limitInput(x, inputLimits[c].minimum.load(std::memory_order_relaxed),
                       inputLimits[c].maximum.load(std::memory_order_relaxed));
    }
    return runChain(head, x) * weight;
}

void GamesourceEngine::computeCues() {
    MotionProfile& air = profiles[0];
    MotionProfile& ground = profiles[1];
    auto mix = [&air](int index) { return air.beltMix[static_cast<std::size_t>(index)].load(std::memory_order_relaxed); };

    double beltSum = 0.0;
    for (const auto& binding : kBeltBindings) {
        const auto c = static_cast<std::size_t>(binding.channel);
        if (binding.channel == 10) sources.record.slots[kBeltSum] = beltSum;
        airCues[c] = evaluateChannel(air, binding, 1.0);
        switch (binding.channel) {
            case 11: beltSum += mix(1) * airCues[c]; break;
            case 12: beltSum += mix(2) * airCues[c]; break;
            case 13: beltSum += mix(4) * airCues[c]; break;
            case 14: beltSum += mix(5) * airCues[c]; break;
            default: break;
        }
    }

    airCues[21] = evaluateChannel(air, kWindBinding, 1.0);
    for (const auto& binding : kEffectBindings)
        airCues[static_cast<std::size_t>(binding.channel)] = evaluateChannel(air, binding, 1.0);

    const double wa = airWeight.load();
    const double wg = groundWeight.load();
    for (const auto& binding : kMotionBindings)
        airCues[static_cast<std::size_t>(binding.channel)] = evaluateChannel(air, binding, wa);
    for (const auto& binding : kMotionBindings)
        groundCues[static_cast<std::size_t>(binding.channel)] = evaluateChannel(ground, binding, wg);

    const CueArray& a = airCues;
    const CueArray& g = groundCues;
    CueArray& out = outputCues;
    out[0] = a[0] + a[15] + g[0];
    out[1] = a[1] + a[16] + g[1];
    out[2] = a[2] + a[17] + g[2];
    out[3] = a[3] + a[18] + g[3];
    out[6] = a[6] + g[6];
    out[7] = a[7] + g[7];
    out[8] = a[8] + g[8];
    out[9] = a[9] + g[9];
    out[4] = out[6] + a[4] + out[8] + a[19] + g[4];
    out[5] = out[7] + a[5] + out[9] + a[20] + g[5];
    out[10] = a[10];
    out[22] = a[21];
}

}  // namespace rez
