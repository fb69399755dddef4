#include "sources/shm/pcars2_reader.h"

#include "core/console.h"
#include "sources/detection_tests.h"
#include "sources/shm/shared_memory_readers.h"

namespace rez {

bool ProjectCars2Reader::detect() { return existingMappingTest(kPcars2Name); }

bool ProjectCars2Reader::attach() {
    if (attached_ || !existingMappingTest(kPcars2Name)) return false;
    return attachBlock(kPcars2Name, kPcars2Size);
}

bool ProjectCars2Reader::read(GameDataRecord& record) {
    if (!attached_) return false;
    const ViewBytes view(block_);
    if (view.i32(8) != kPcars2StatePlaying || !existingMappingTest(kPcars2Name)) return false;

    SlotStores s;
    s.set(kYawPosition, toDegrees(view.f32(6908)) * -1.0);
    s.set(kRollPosition, toDegrees(view.f32(6912)));
    s.set(kPitchPosition, toDegrees(view.f32(6916)));
    s.set(kLateralSpeed, view.f32(6920));
    s.set(kLongituSpeed, view.f32(6924));
    s.set(kVerticaSpeed, view.f32(6928));
    s.set(kYawSpeed, toDegrees(view.f32(6944)) * -1.0);
    s.set(kRollSpeed, toDegrees(view.f32(6948)));
    s.set(kPitchSpeed, toDegrees(view.f32(6952)));
    s.set(kLateralAccel, view.f32(6956));
    s.set(kLongituAccel, view.f32(6960));
    s.set(kVerticaAccel, view.f32(6964));
    if (!s.storeInto(record)) return false;
    finishSample(*this, record, AccelMode::Add);
    return true;
}

}  // namespace rez
