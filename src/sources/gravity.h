#pragma once
// The step every reader (but NoLimits 2) runs after storing its raw values:
// gravity parts from roll and pitch, then the missing half of each
// acceleration pair.
#include "sources/game_data_record.h"

namespace rez {

inline constexpr double kStandardGravity = 9.80665;
inline constexpr double kPiShort = 3.14159265358979;  // as most readers write it

enum class AccelMode {
    Add,       // the game gave accelerations without gravity: accel_g = accel + gravi
    Subtract,  // the game gave accelerations with gravity: accel = accel_g - gravi
};

// longitudinalSign is -1 for the one source whose pitch sense is reversed;
// lateralSign is -1 for a source whose roll grows with the right side going
// down, so that its lateral part is still what an accelerometer at rest reads.
void applyGravityParts(GameDataRecord& record, AccelMode mode, double pi = kPiShort, double longitudinalSign = 1.0,
                       double lateralSign = 1.0);

}  // namespace rez
