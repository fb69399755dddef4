#include "sources/shm/rfactor2_reader.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "core/console.h"
#include "sources/detection_tests.h"
#include "sources/shm/shared_memory_readers.h"

namespace rez {

namespace {

constexpr double kFullPi = std::numbers::pi;

bool gameAndBlockPresent() { return processTest({"rFactor2.exe"}) && existingMappingTest(kRf2Name); }

}  // namespace

OrientationAngles rf2OrientationAngles(const double (&m)[3][3]) {
    // The matrix's columns are the car's left, up and back axes in world
    // axes (world y up). The angles are taken in the order the gravity parts
    // assume (heading, then pitch, then roll): pitch from the forward axis's
    // height, roll from how far the left axis leans up against the up axis,
    // heading from the forward axis's horizontal part. Taken the other way
    // round (roll before pitch), a car both pitched and rolled reads angles
    // whose gravity parts are not those it feels.
    const double forward[3] = {-m[0][2], -m[1][2], -m[2][2]};
    // Rounding can push the sine a hair past 1, which would make the pitch NaN.
    const double pitchSine = std::clamp(forward[1], -1.0, 1.0);
    return {
        toDegrees(std::atan2(forward[0], -forward[2]), kFullPi),
        toDegrees(std::atan2(m[1][0], m[1][1]), kFullPi),
        toDegrees(std::asin(pitchSine), kFullPi),
    };
}

bool RFactor2Reader::detect() { return gameAndBlockPresent(); }

void RFactor2Reader::release() {
    block_.close();
    attached_ = false;
}

bool RFactor2Reader::attach() {
    if (attached_ || !gameAndBlockPresent()) {
        release();
        return false;
    }
    if (!openGameBlock(block_, kRf2Name, kRf2Size)) {
        error_ = true;
        return false;
    }
    if (static_cast<std::uint32_t>(ViewBytes(block_).i32(0)) == kRf2NotReady) {
        error_ = true;
        block_.close();
        return false;
    }
    error_ = false;
    consolePrint("Memory mapped successfully\n");
    attached_ = true;
    // A new session starts its clock again; the first sample after attach
    // must not be measured against the last one.
    lastElapsed_ = -std::numeric_limits<double>::infinity();
    return true;
}

bool RFactor2Reader::read(GameDataRecord& record) {
    if (!attached_) return false;
    const ViewBytes view(block_);
    const double elapsed = view.f64(12);
    if (!(elapsed > lastElapsed_)) return false;
    lastElapsed_ = elapsed;

    SlotStores s;
    s.set(kLateralAccel, view.f64(208) * -1.0);
    s.set(kLongituAccel, view.f64(224) * -1.0);
    s.set(kVerticaAccel, view.f64(216));
    s.set(kLateralSpeed, view.f64(184) * -1.0);
    s.set(kLongituSpeed, view.f64(200) * -1.0);
    s.set(kVerticaSpeed, view.f64(192));
    s.set(kYawSpeed, toDegrees(view.f64(312)) * -1.0);
    s.set(kRollSpeed, toDegrees(view.f64(320)));
    s.set(kPitchSpeed, toDegrees(view.f64(304)));
    s.set(kYawAccel, toDegrees(view.f64(336)) * -1.0);
    s.set(kRollAccel, toDegrees(view.f64(344)));
    s.set(kPitchAccel, toDegrees(view.f64(328)));

    double m[3][3];
    for (std::size_t r = 0; r < 3; ++r)
        for (std::size_t c = 0; c < 3; ++c) m[r][c] = s.use(view.f64(232 + (r * 3 + c) * 8));
    const OrientationAngles angles = rf2OrientationAngles(m);
    s.set(kYawPosition, angles.yaw);
    s.set(kRollPosition, angles.roll);
    s.set(kPitchPosition, angles.pitch);
    if (!s.storeInto(record)) return false;
    finishSample(*this, record, AccelMode::Add);
    return true;
}

}  // namespace rez
