#include "sources/game_data_record.h"

namespace rez {

namespace {
constexpr char kNameBlock[] =
    "lateral_speed\0lateral_accel\0lateral_accel_g\0lateral_gravi\0"
    "longitu_speed\0longitu_accel\0longitu_accel_g\0longitu_gravi\0"
    "vertica_speed\0vertica_accel\0vertica_accel_g\0vertica_gravi\0"
    "yaw_position\0yaw_speed\0yaw_accel\0"
    "roll_position\0roll_speed\0roll_accel\0"
    "pitch_position\0pitch_speed\0pitch_accel\0"
    "fr_lft_susp_pos\0fr_rgt_susp_pos\0re_lft_susp_pos\0re_rgt_susp_pos\0"
    "engine_torque\0rpm\0speed\0stall\0flaps\0ldg_gear_turb\0ldg_gear\0spd_brakes\0"
    "simtools_axis1a\0simtools_axis2a\0simtools_axis3a\0simtools_axis4a\0"
    "simtools_axis1b\0simtools_axis2b\0simtools_axis3b\0simtools_axis4b";

struct NameTable {
    const char* names[kNamedSlotCount];
    constexpr NameTable() : names{} {
        const char* p = kNameBlock;
        for (int i = 0; i < kNamedSlotCount; ++i) {
            names[i] = p;
            while (*p != '\0') ++p;
            ++p;
        }
    }
};
constexpr NameTable kTable;
}  // namespace

const char* gameSlotName(int slot) {
    if (slot < 1 || slot > kNamedSlotCount) return nullptr;
    return kTable.names[slot - 1];
}

}  // namespace rez
