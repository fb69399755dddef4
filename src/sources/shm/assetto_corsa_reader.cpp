#include "sources/shm/assetto_corsa_reader.h"

#include "sources/detection_tests.h"
#include "sources/shm/shared_memory_readers.h"

namespace rez {

namespace {

// The game reports accelerations in g; this family's factor is 9.81.
constexpr double kAcGravity = 9.81;

bool graphicsLive(const unsigned char* view, std::size_t size) {
    return ViewBytes(view, size).i32(4) == kAcStatusLive;
}

}  // namespace

bool AcPhysicsReader::read(GameDataRecord& record) {
    if (!physics_.isMapped()) return false;
    const ViewBytes page(physics_);
    const std::int32_t packet = page.i32(0);
    if (packet == lastPacket_) return false;
    lastPacket_ = packet;

    SlotStores s;
    s.set(kLateralAccel, page.f32(44) * kAcGravity);
    s.set(kLongituAccel, page.f32(52) * kAcGravity);
    s.set(kVerticaAccel, page.f32(48) * kAcGravity * -1.0);
    s.set(kLateralSpeed, page.f32(568));
    s.set(kLongituSpeed, page.f32(576));
    s.set(kVerticaSpeed, page.f32(572));
    s.set(kYawSpeed, toDegrees(page.f32(300)));
    s.set(kRollSpeed, toDegrees(page.f32(304)));
    s.set(kPitchSpeed, toDegrees(page.f32(296)));
    s.set(kYawPosition, toDegrees(page.f32(208)) * -1.0);
    s.set(kRollPosition, toDegrees(page.f32(216)) * -1.0);
    s.set(kPitchPosition, toDegrees(page.f32(212)));
    if (!s.storeInto(record)) return false;
    finishSample(*this, record, AccelMode::Add);
    return true;
}

bool AssettoCorsaReader::detect() { return createOrOpenMappingTest(kAcGraphicsName, kAcGraphicsSize, graphicsLive); }

bool AssettoCorsaReader::attach() {
    if (createOrOpenGameBlock(physics_, kAcPhysicsName, kAcPhysicsSize) &&
        createOrOpenGameBlock(graphics_, kAcGraphicsName, kAcGraphicsSize) &&
        graphicsLive(graphics_.data(), graphics_.viewSize()))
        return true;
    close();
    return false;
}

void AssettoCorsaReader::close() {
    physics_.close();
    graphics_.close();
}

bool AssettoCorsaEvoReader::detect() {
    // Creating the classic page is only needed (and only done) when EVO's
    // own page is not there.
    if (!existingMappingTest(kAcEvoPhysicsName) && !createOrOpenMappingTest(kAcPhysicsName, kAcPhysicsSize)) return false;
    return processTest({"AssettoCorsaEVO.exe"});
}

bool AssettoCorsaEvoReader::attach() {
    if (physics_.openExisting(kAcEvoPhysicsName, platform::MapAccess::Read) &&
        physics_.map(platform::MapAccess::Read, kAcEvoPhysicsSize))
        return true;
    if (createOrOpenGameBlock(physics_, kAcPhysicsName, kAcPhysicsSize)) return true;
    physics_.close();
    return false;
}

void AssettoCorsaEvoReader::close() { physics_.close(); }

}  // namespace rez
