// The host's side of the profiles: filter strings, enable flags, belt mix,
// input limits and the blend getters.
#include <cmath>

#include "engine/gamesource_engine.h"
#include "filters/filter_parser.h"

namespace rez {

namespace {
bool validProfile(int profile) { return profile == kProfileAir || profile == kProfileGround; }
bool validChannel(int channel) { return channel >= 0 && channel < kProfileChannels; }

double wholePercent(double weight) {
    const double v = std::trunc(weight * 100.0);
    if (v > 100.0) return 100.0;
    if (v < 0.0) return 0.0;
    return v;
}
}  // namespace

FilterSlot* GamesourceEngine::channelFilterSlot(int profile, int channel) {
    if (!validProfile(profile) || !validChannel(channel)) return nullptr;
    return &profiles[static_cast<std::size_t>(profile)].filterSlots[static_cast<std::size_t>(channel)];
}

bool GamesourceEngine::installChannelFilter(int profile, int channel, const char* text) {
    beginOutputFade();
    outputsSuppressed.store(true);
    if (text == nullptr) return false;
    std::shared_ptr<FilterSys> head = parseFilterString(text);
    FilterSlot* slot = channelFilterSlot(profile, channel);
    if (!head->valid.load() || slot == nullptr) return false;
    slot->store(std::move(head));
    outputsSuppressed.store(false);
    return true;
}

void GamesourceEngine::setActiveAxis(int profile, int channel, int enable) {
    if (validProfile(profile) && validChannel(channel))
        profiles[static_cast<std::size_t>(profile)].enableFlags[static_cast<std::size_t>(channel)].store(
            static_cast<std::uint8_t>(enable & 0xFF));
    beginOutputFade();
}

void GamesourceEngine::setBeltMix(int profile, int index, double weight) {
    if (validProfile(profile) && index >= 0 && index < kGameSlotCount)
        profiles[static_cast<std::size_t>(profile)].beltMix[static_cast<std::size_t>(index)].store(weight);
}

void GamesourceEngine::setInputDofLimit(int channel, double minimum, double maximum) {
    if (!validChannel(channel)) return;
    inputLimits[static_cast<std::size_t>(channel)].minimum.store(minimum);
    inputLimits[static_cast<std::size_t>(channel)].maximum.store(maximum);
}

double GamesourceEngine::airTransitionStatus() const { return wholePercent(airWeight.load()); }
double GamesourceEngine::groundTransitionStatus() const { return wholePercent(groundWeight.load()); }

}  // namespace rez
