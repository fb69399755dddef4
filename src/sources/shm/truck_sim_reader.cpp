#include "sources/shm/truck_sim_reader.h"

#include <algorithm>

#include "sources/detection_tests.h"
#include "sources/shm/shared_memory_readers.h"

namespace rez {

namespace {

// Rotations come in turns.
constexpr double kDegreesPerTurn = 360.0;

bool openPluginBlock(platform::SharedMemory& block) {
    if (block.openExisting(kTruckBlockName, platform::MapAccess::Read) &&
        block.map(platform::MapAccess::Read, kTruckBlockSize))
        return true;
    block.close();
    return false;
}

}  // namespace

bool TruckSimReader::detect() {
    {
        platform::SharedMemory probe;
        if (!openPluginBlock(probe)) return false;
    }
    return processTest({"eurotrucks2.exe"});
}

bool TruckSimReader::attach() { return openPluginBlock(block_); }

bool TruckSimReader::read(GameDataRecord& record) {
    // A game that quit leaves its running byte set in the block held here.
    if (!block_.isMapped() || !block_.stillUnderItsName()) return false;
    const ViewBytes view(block_);
    if (view.u8(0) == 0) return false;

    SlotStores s;
    s.set(kSpeed, view.f32(41));
    s.set(kRpm, view.f32(45));
    s.set(kLateralSpeed, view.f32(69));
    s.set(kVerticaSpeed, view.f32(73));
    s.set(kLongituSpeed, view.f32(77) * -1.0);
    s.set(kPitchSpeed, view.f32(81) * kDegreesPerTurn);
    s.set(kYawSpeed, view.f32(85) * kDegreesPerTurn);
    s.set(kRollSpeed, view.f32(89) * kDegreesPerTurn * -1.0);
    s.set(kLateralAccel, view.f32(93));
    s.set(kVerticaAccel, view.f32(97));
    s.set(kLongituAccel, view.f32(101) * -1.0);
    s.set(kPitchAccel, view.f32(105) * kDegreesPerTurn);
    s.set(kYawAccel, view.f32(109) * kDegreesPerTurn);
    s.set(kRollAccel, view.f32(113) * kDegreesPerTurn * -1.0);
    s.set(kYawPosition, std::clamp(s.use(view.f32(25)) * kDegreesPerTurn, 0.0, 360.0));
    s.set(kPitchPosition, std::clamp(s.use(view.f32(29)) * kDegreesPerTurn, -90.0, 90.0));
    s.set(kRollPosition, std::clamp(s.use(view.f32(33)) * kDegreesPerTurn * -1.0, -180.0, 180.0));
    if (!s.storeInto(record)) return false;
    finishSample(*this, record, AccelMode::Add);
    return true;
}

}  // namespace rez
