#pragma once
// One telemetry sample as the readers leave it and the engine reads it.
#include <cmath>
#include <cstddef>
#include <cstdint>

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

// The values of one sample (a datagram, a block, a message), held back until
// the whole sample is read. One that is no finite number (a NaN or infinity
// the game sent, or a value that overflowed in conversion) makes the whole
// sample no sample: the record keeps the last good one rather than a mix, and
// no NaN reaches the cues.
class SlotStores {
public:
    static_assert(kGameSlotCount <= 64, "one bit per slot");
    void set(int slot, double value) {
        values_[slot] = value;
        written_ |= std::uint64_t{1} << slot;
        use(value);
    }
    // A raw field that a stored value is derived from (before a clamp, say):
    // it must be finite too.
    double use(double value) {
        finite_ = finite_ && std::isfinite(value);
        return value;
    }
    double operator[](int slot) const { return values_[slot]; }
    bool finite() const { return finite_; }
    // Stores every value set when all are finite; false, storing nothing,
    // otherwise.
    bool storeInto(GameDataRecord& record) const {
        if (!finite_) return false;
        for (int slot = 0; slot < kGameSlotCount; ++slot)
            if ((written_ >> slot) & 1u) record.slots[slot] = values_[slot];
        return true;
    }

private:
    double values_[kGameSlotCount] = {};
    std::uint64_t written_ = 0;
    bool finite_ = true;
};

}  // namespace rez
