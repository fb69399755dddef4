#pragma once
// Shared bits of the shared-memory reader tests.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "platform/named_event.h"
#include "platform/shared_memory.h"
#include "sources/game_data_record.h"
#include "sources/game_reader.h"
#include "sources/shm/shared_memory_readers.h"

namespace rez::test {

inline constexpr double kG = 9.80665;
inline constexpr double kUntouched = 1234.5;

// Removes every block and event a game of this family could have left.
inline void removeGameNames() {
    for (const char* name : {"Local\\acpmf_physics", "Local\\acpmf_graphics", "Local\\acevo_pmf_physics", "$R3E", "$pcars2$",
                             "Local\\IRSDKMemMapFileName", "Local\\Rovandelix_rf2_data", "SCSTelemetryExample"})
        platform::SharedMemory::removeName(name);
    platform::NamedEvent::removeName("Local\\IRSDKDataValidEvent");
}

// A record whose every slot holds a marker value, so writes show.
inline GameDataRecord markedRecord() {
    GameDataRecord r;
    for (double& v : r.slots) v = kUntouched;
    return r;
}

inline bool sameRecord(const GameDataRecord& a, const GameDataRecord& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct SlotValue {
    int slot;
    double value;
};

inline void expectSlots(const GameDataRecord& r, std::initializer_list<SlotValue> expected, double tolerance = 1e-4) {
    for (const SlotValue& e : expected)
        EXPECT_NEAR(r.slots[e.slot], e.value, tolerance) << "slot " << e.slot << " (" << gameSlotName(e.slot) << ")";
}

// Gravity parts of a roll and pitch given in radians.
inline void expectGravity(const GameDataRecord& r, double rollRad, double pitchRad, double tolerance = 1e-4) {
    expectSlots(r,
                {{kLongituGravi, kG * std::sin(pitchRad)},
                 {kLateralGravi, kG * std::cos(pitchRad) * std::sin(rollRad)},
                 {kVerticaGravi, kG * std::cos(pitchRad) * std::cos(rollRad)}},
                tolerance);
}

// The games give accelerations without gravity: the with-gravity values are
// the sums.
inline void expectAdded(const GameDataRecord& r) {
    EXPECT_DOUBLE_EQ(r.slots[kLateralAccelG], r.slots[kLateralAccel] + r.slots[kLateralGravi]);
    EXPECT_DOUBLE_EQ(r.slots[kLongituAccelG], r.slots[kLongituAccel] + r.slots[kLongituGravi]);
    EXPECT_DOUBLE_EQ(r.slots[kVerticaAccelG], r.slots[kVerticaAccel] + r.slots[kVerticaGravi]);
}

inline std::unique_ptr<GameReader> shippedReader(int id) { return makeSharedMemoryReader(id); }

class ShmReaderTest : public testing::Test {
protected:
    void SetUp() override { removeGameNames(); }
    void TearDown() override { removeGameNames(); }
};

}  // namespace rez::test
