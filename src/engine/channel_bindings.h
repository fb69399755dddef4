#pragma once
// Which game slot feeds which channel, and whether the host's input limits
// clamp it first. The four groups are evaluated in this order each tick.
#include <array>

#include "sources/game_data_record.h"

namespace rez {

struct ChannelBinding {
    int channel;
    int slot;
    int limit;  // 1: clamp the slot value to the channel's input limits
};

// AIR profile, weight 1. Channel 10 filters the belt sum the engine writes
// into slot 42 just before it.
inline constexpr std::array<ChannelBinding, 5> kBeltBindings = {{
    {11, kLongituAccelG, 0},
    {12, kVerticaAccelG, 0},
    {13, kRollSpeed, 0},
    {14, kPitchSpeed, 0},
    {10, kBeltSum, 0},
}};

// AIR profile, weight 1: the fan.
inline constexpr ChannelBinding kWindBinding = {21, kSpeed, 0};

// AIR profile, weight 1. Slot 0 is never written, so these channels only
// show what their filters generate themselves.
inline constexpr std::array<ChannelBinding, 6> kEffectBindings = {{
    {15, 0, 0}, {16, 0, 0}, {17, 0, 0}, {18, 0, 0}, {19, 0, 0}, {20, 0, 0},
}};

// AIR with airWeight, then GROUND with groundWeight.
inline constexpr std::array<ChannelBinding, 10> kMotionBindings = {{
    {0, kLateralAccelG, 1},
    {1, kLongituAccelG, 1},
    {2, kVerticaAccelG, 1},
    {3, kYawSpeed, 1},
    {4, kRollSpeed, 1},
    {5, kPitchSpeed, 1},
    {6, kLateralAccelG, 1},
    {7, kLongituAccelG, 1},
    {8, kRollPosition, 0},
    {9, kPitchPosition, 0},
}};

}  // namespace rez
