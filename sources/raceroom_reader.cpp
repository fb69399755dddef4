#include "sources/raceroom_reader.h"

#include "core/console.h"
#include "sources/detection_tests.h"
#include "sources/shared_memory_readers.h"

namespace rez {

namespace {

bool gameAndBlockPresent() { return processTest({"RRRE64.exe", "RRRE.exe"}) && existingMappingTest(kR3eName); }

}  // namespace

bool RaceRoomReader::detect() {
    if (!gameAndBlockPresent()) return false;
    consolePrint("Found RRRE.exe, mapping shared memory...\n");
    return true;
}

bool RaceRoomReader::attach() {
    if (attached_ || !gameAndBlockPresent()) return false;
    consolePrint("Found RRRE.exe, mapping shared memory...\n");
    return attachBlock(kR3eName, kR3eSize);
}

bool RaceRoomReader::read(GameDataRecord& record) {
    if (!attached_) return false;
    const ViewBytes view(block_);
    if (view.i32(16) == 1 || view.i32(20) == 1 || view.i32(24) == 1) return false;  // paused, menus, replay
    // Asked again on every read, so a game that has closed its block stops
    // the source at once.
    if (!existingMappingTest(kR3eName)) return false;

    double* s = record.slots;
    s[kLateralSpeed] = view.f64(96) * -1.0;
    s[kVerticaSpeed] = view.f64(104);
    s[kLongituSpeed] = view.f64(112) * -1.0;
    s[kLateralAccel] = view.f64(144) * -1.0;
    s[kVerticaAccel] = view.f64(152);
    s[kLongituAccel] = view.f64(160) * -1.0;
    s[kPitchPosition] = toDegrees(view.f64(168));
    s[kYawPosition] = toDegrees(view.f64(176)) * -1.0;
    s[kRollPosition] = toDegrees(view.f64(184));
    s[kPitchAccel] = toDegrees(view.f64(216));
    s[kYawAccel] = toDegrees(view.f64(224)) * -1.0;
    s[kRollAccel] = toDegrees(view.f64(232));
    s[kPitchSpeed] = toDegrees(view.f64(240));
    s[kYawSpeed] = toDegrees(view.f64(248)) * -1.0;
    s[kRollSpeed] = toDegrees(view.f64(256));
    finishSample(*this, record, AccelMode::Add);
    return true;
}

}  // namespace rez
