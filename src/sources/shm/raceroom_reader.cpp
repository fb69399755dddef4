#include "sources/shm/raceroom_reader.h"

#include <cstdint>

#include "core/console.h"
#include "sources/detection_tests.h"
#include "sources/shm/shared_memory_readers.h"

namespace rez {

namespace {

bool gameAndBlockPresent() { return processTest({"RRRE64.exe", "RRRE.exe"}) && existingMappingTest(kR3eName); }

// Where a version of the block keeps what the reader needs: the paused flag
// (menus and replay follow it, four bytes apart), and how far the player
// values lie past their places in the layouts up to 3.2.
struct R3eLayout {
    std::size_t flagsAt;
    std::size_t playerShift;
};

R3eLayout r3eLayout(std::int32_t versionMajor, std::int32_t versionMinor) {
    // 3.3 put the game mode in front of the state flags; 3.4 put the user id
    // at the head of the player block. The block is packed, so each moves
    // everything after it by four bytes.
    if (versionMajor > 3 || (versionMajor == 3 && versionMinor >= 4)) return {20, 8};
    if (versionMajor == 3 && versionMinor == 3) return {20, 4};
    return {16, 0};
}

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
    // Asked on every sample: the game can be updated while the source stays
    // attached, and the version says where the fields are.
    const R3eLayout layout = r3eLayout(view.i32(0), view.i32(4));
    const std::size_t flags = layout.flagsAt;
    if (view.i32(flags) == 1 || view.i32(flags + 4) == 1 || view.i32(flags + 8) == 1) return false;  // paused, menus, replay
    // Asked again on every read, so a game that has closed its block stops
    // the source at once.
    if (!existingMappingTest(kR3eName)) return false;

    const auto at = [&](std::size_t offset) { return view.f64(offset + layout.playerShift); };
    SlotStores s;
    s.set(kLateralSpeed, at(96) * -1.0);
    s.set(kVerticaSpeed, at(104));
    s.set(kLongituSpeed, at(112) * -1.0);
    s.set(kLateralAccel, at(144) * -1.0);
    s.set(kVerticaAccel, at(152));
    s.set(kLongituAccel, at(160) * -1.0);
    s.set(kPitchPosition, toDegrees(at(168)));
    s.set(kYawPosition, toDegrees(at(176)) * -1.0);
    s.set(kRollPosition, toDegrees(at(184)));
    s.set(kPitchAccel, toDegrees(at(216)));
    s.set(kYawAccel, toDegrees(at(224)) * -1.0);
    s.set(kRollAccel, toDegrees(at(232)));
    s.set(kPitchSpeed, toDegrees(at(240)));
    s.set(kYawSpeed, toDegrees(at(248)) * -1.0);
    s.set(kRollSpeed, toDegrees(at(256)));
    if (!s.storeInto(record)) return false;
    finishSample(*this, record, AccelMode::Add);
    return true;
}

}  // namespace rez
