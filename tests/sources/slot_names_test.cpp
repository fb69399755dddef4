#include <gtest/gtest.h>

#include <cstring>

#include "sources/game_data_record.h"

namespace rez {
namespace {

TEST(SlotNames, PublishedNamesLieBackToBack) {
    const char* expected[] = {"lateral_speed", "lateral_accel", "lateral_accel_g", "lateral_gravi", "longitu_speed",
                              "longitu_accel", "longitu_accel_g", "longitu_gravi", "vertica_speed", "vertica_accel",
                              "vertica_accel_g", "vertica_gravi", "yaw_position", "yaw_speed", "yaw_accel",
                              "roll_position", "roll_speed", "roll_accel", "pitch_position", "pitch_speed",
                              "pitch_accel", "fr_lft_susp_pos", "fr_rgt_susp_pos", "re_lft_susp_pos",
                              "re_rgt_susp_pos", "engine_torque", "rpm", "speed", "stall", "flaps", "ldg_gear_turb",
                              "ldg_gear", "spd_brakes", "simtools_axis1a", "simtools_axis2a", "simtools_axis3a",
                              "simtools_axis4a", "simtools_axis1b", "simtools_axis2b", "simtools_axis3b",
                              "simtools_axis4b"};
    static_assert(sizeof expected / sizeof *expected == kNamedSlotCount);
    const char* walk = gameSlotName(1);
    for (int slot = 1; slot <= kNamedSlotCount; ++slot) {
        EXPECT_STREQ(gameSlotName(slot), expected[slot - 1]);
        EXPECT_EQ(walk, gameSlotName(slot)) << "a host walking from the first name reaches slot " << slot;
        walk += std::strlen(walk) + 1;
    }
    EXPECT_EQ(gameSlotName(0), nullptr);
    EXPECT_EQ(gameSlotName(42), nullptr);
    EXPECT_EQ(kSpeed, 28);
    EXPECT_EQ(kPitchSpeed, 20);
}

}  // namespace
}  // namespace rez
