#pragma once
// One telemetry sample as the readers leave it and the engine reads it.
#include <cstddef>

namespace rez {

inline constexpr int kGameSlotCount = 43;
inline constexpr int kNamedSlotCount = 41;  // slots 1..41 carry published names

// Slot numbers of the channel array.
enum GameSlot : int {
    kLateralSpeed = 1, kLateralAccel, kLateralAccelG, kLateralGravi,
    kLongituSpeed, kLongituAccel, kLongituAccelG, kLongituGravi,
    kVerticaSpeed, kVerticaAccel, kVerticaAccelG, kVerticaGravi,
    kYawPosition, kYawSpeed, kYawAccel,
    kRollPosition, kRollSpeed, kRollAccel,
    kPitchPosition, kPitchSpeed, kPitchAccel,
    kFrontLeftSusp, kFrontRightSusp, kRearLeftSusp, kRearRightSusp,
    kEngineTorque, kRpm, kSpeed, kStall, kFlaps, kLandingGearTurb, kLandingGear, kSpeedBrakes,
    kBeltSum = 42,
};

struct GameDataRecord {
    double timeFrame = 0.0;      // ms between the two latest samples
    double reserved = 0.0;
    double gameTimeDelta = 0.0;  // ms of game clock between two samples
    double lastGameTime = 0.0;   // s, last game clock value
    double slots[kGameSlotCount] = {};
};

// Name of slot 1..41, or nullptr for slots 0, 42 and anything else. The texts
// lie back to back in one block, each after the previous one's NUL, so a host
// that only got the first pointer ("lateral_speed") can still walk the list.
const char* gameSlotName(int slot);

}  // namespace rez
