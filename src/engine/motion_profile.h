#pragma once
// A motion profile: per channel an enable flag and a filter chain, plus the
// belt-mix weights. The host changes flags, weights and chains from its own
// threads while the tick reads them, so each is an atomic value or slot.
#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "filters/filter_slot.h"
#include "sources/game_data_record.h"

namespace rez {

inline constexpr int kProfileChannels = 23;

struct MotionProfile {
    explicit MotionProfile(std::string profileName);

    std::string name;
    std::array<std::atomic<std::uint8_t>, kProfileChannels> enableFlags;
    std::array<std::atomic<double>, kGameSlotCount> beltMix;
    std::array<FilterSlot, kProfileChannels> filterSlots;  // each starts as its own "VALUE" chain
    // The last finite value each channel was fed (tick thread only): a game
    // value that is NaN or infinite is never fed to a filter, whose state
    // would keep it for good; the channel holds its last good input instead.
    std::array<double, kProfileChannels> lastFiniteInput{};
};

}  // namespace rez
