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
    double x, y, z, w;
    const double t = m[0][0] + m[1][1] + m[2][2] + 1.0;
    if (t > 0.0625) {
        const double s = std::sqrt(t);
        w = s / 2.0;
        x = (m[2][1] - m[1][2]) * 0.5 / s;
        y = (m[0][2] - m[2][0]) * 0.5 / s;
        z = (m[1][0] - m[0][1]) * 0.5 / s;
    } else if (m[0][0] > m[1][1] && m[0][0] > m[2][2]) {
        const double s = std::sqrt(m[0][0] + 1.0 - m[1][1] - m[2][2]);
        x = s / 2.0;
        y = (m[1][0] + m[0][1]) * 0.5 / s;
        z = (m[2][0] + m[0][2]) * 0.5 / s;
        w = (m[2][1] - m[1][2]) * 0.5 / s;
    } else if (m[1][1] > m[2][2]) {
        const double s = std::sqrt(m[1][1] + 1.0 - m[0][0] - m[2][2]);
        y = s / 2.0;
        x = (m[1][0] + m[0][1]) * 0.5 / s;
        z = (m[2][1] + m[1][2]) * 0.5 / s;
        w = (m[0][2] - m[2][0]) * 0.5 / s;
    } else {
        const double s = std::sqrt(m[2][2] + 1.0 - m[0][0] - m[1][1]);
        z = s / 2.0;
        x = (m[0][2] + m[2][0]) * 0.5 / s;
        y = (m[2][1] + m[1][2]) * 0.5 / s;
        w = (m[1][0] - m[0][1]) * 0.5 / s;
    }
    // Rounding can push the sine a hair past 1, which would make the roll NaN.
    const double rollSine = std::clamp(2.0 * (x * y + w * z), -1.0, 1.0);
    return {
        -toDegrees(std::atan2(2.0 * (y * w - x * z), 1.0 - 2.0 * (y * y + z * z)), kFullPi),
        toDegrees(std::asin(rollSine), kFullPi),
        toDegrees(std::atan2(2.0 * (w * x - y * z), 1.0 - 2.0 * (x * x + z * z)), kFullPi),
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

    double* s = record.slots;
    s[kLateralAccel] = view.f64(208) * -1.0;
    s[kLongituAccel] = view.f64(224) * -1.0;
    s[kVerticaAccel] = view.f64(216);
    s[kLateralSpeed] = view.f64(184) * -1.0;
    s[kLongituSpeed] = view.f64(200) * -1.0;
    s[kVerticaSpeed] = view.f64(192);
    s[kYawSpeed] = toDegrees(view.f64(312)) * -1.0;
    s[kRollSpeed] = toDegrees(view.f64(320));
    s[kPitchSpeed] = toDegrees(view.f64(304));
    s[kYawAccel] = toDegrees(view.f64(336)) * -1.0;
    s[kRollAccel] = toDegrees(view.f64(344));
    s[kPitchAccel] = toDegrees(view.f64(328));

    double m[3][3];
    for (std::size_t r = 0; r < 3; ++r)
        for (std::size_t c = 0; c < 3; ++c) m[r][c] = view.f64(232 + (r * 3 + c) * 8);
    const OrientationAngles angles = rf2OrientationAngles(m);
    s[kYawPosition] = angles.yaw;
    s[kRollPosition] = angles.roll;
    s[kPitchPosition] = angles.pitch;
    finishSample(*this, record, AccelMode::Add);
    return true;
}

}  // namespace rez
