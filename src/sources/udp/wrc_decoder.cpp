#include <algorithm>
#include <cmath>

#include "sources/udp/datagram.h"
#include "sources/udp/udp_decoders.h"

namespace rez {

namespace {

// WRC sends its car in the world's axes: x to the left, y up, z forward (of
// the world, not of the car), with the car's own left, forward and up
// directions as three vectors.
struct Vector {
    double x, y, z;
    double length() const { return std::sqrt(x * x + y * y + z * z); }
    double dot(const Vector& o) const { return x * o.x + y * o.y + z * o.z; }
    Vector unit() const {
        const double l = length();
        return {x / l, y / l, z / l};
    }
    bool finite() const { return std::isfinite(x) && std::isfinite(y) && std::isfinite(z); }
};

Vector vectorAt(const Datagram& d, std::size_t offset) { return {d.f32(offset), d.f32(offset + 4), d.f32(offset + 8)}; }

constexpr std::size_t kVelocity = 61, kAcceleration = 73, kLeft = 85, kForward = 97, kUp = 109;

// Rates are taken over the time between two samples; a gap longer than this
// (a lost datagram, a pause) is taken as one usual sample step instead.
constexpr double kLongestStepS = 0.03;
constexpr double kUsualStepS = 0.02;

double asFloat(double v) { return static_cast<double>(static_cast<float>(v)); }

}  // namespace

double wrapDegrees(double difference) { return std::remainder(difference, 360.0); }

bool wrcDatagramUsable(const std::uint8_t* bytes, std::size_t length) {
    if (length < kWrcMinimumLength) return false;
    const Datagram d(bytes, length);
    for (std::size_t offset : {kVelocity, kAcceleration})
        if (!vectorAt(d, offset).finite()) return false;
    // A direction without length, or with an infinite part, points nowhere.
    for (std::size_t offset : {kLeft, kForward, kUp}) {
        const Vector v = vectorAt(d, offset);
        if (!v.finite() || !(v.length() > 0.0)) return false;
    }
    return true;
}

bool decodeWrc(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record, WrcPrevious& previous) {
    if (!wrcDatagramUsable(bytes, length)) return false;
    const Datagram d(bytes, length);
    const Vector left = vectorAt(d, kLeft).unit(), forward = vectorAt(d, kForward).unit(), up = vectorAt(d, kUp).unit();

    // Speeds and accelerations in the car's axes: lateral along its left,
    // longitudinal along its front, vertical along its roof.
    const Vector velocity = vectorAt(d, kVelocity), acceleration = vectorAt(d, kAcceleration);
    SlotStores s;
    s.set(kLateralSpeed, velocity.dot(left));
    s.set(kLongituSpeed, velocity.dot(forward));
    s.set(kVerticaSpeed, velocity.dot(up));
    s.set(kLateralAccel, acceleration.dot(left));
    s.set(kLongituAccel, acceleration.dot(forward));
    s.set(kVerticaAccel, acceleration.dot(up));

    // Attitude from the vertical parts of the car's axes, so it is the same
    // at every heading. The senses are the ones this reader has always given:
    // nose up is positive pitch, the roof leaning to the car's left (its left
    // side down) positive roll, and the yaw grows turning left (anticlockwise
    // seen from above) and reads 0 with the car along the world's x axis.
    const double pitch = std::asin(std::clamp(forward.y, -1.0, 1.0));
    const double roll = std::atan2(-left.y, up.y);
    // Pointing straight up or down the front has no horizontal part; the
    // left side still shows the heading then.
    const bool upright = std::hypot(forward.x, forward.z) > 1e-6;
    const double yaw = upright ? -std::atan2(forward.z, forward.x) : -std::atan2(left.x, -left.z);
    s.set(kRollPosition, asFloat(degrees(roll)));
    s.set(kPitchPosition, asFloat(degrees(pitch)));
    s.set(kYawPosition, asFloat(degrees(yaw)));

    // The first sample after attach has nothing to turn from: no rate yet.
    const double dt = record.timeFrame / 1000.0;
    const double divisor = dt > kLongestStepS ? kUsualStepS : dt;
    if (!previous.valid) {
        s.set(kYawSpeed, 0.0);
        s.set(kRollSpeed, 0.0);
        s.set(kPitchSpeed, 0.0);
    } else if (divisor > 0.0) {
        s.set(kYawSpeed, wrapDegrees(s[kYawPosition] - previous.yaw) / divisor);
        s.set(kRollSpeed, wrapDegrees(s[kRollPosition] - previous.roll) / divisor);
        s.set(kPitchSpeed, wrapDegrees(s[kPitchPosition] - previous.pitch) / divisor);
    }
    if (!s.storeInto(record)) return false;
    previous = {s[kYawPosition], s[kRollPosition], s[kPitchPosition], true};
    return true;
}

}  // namespace rez
