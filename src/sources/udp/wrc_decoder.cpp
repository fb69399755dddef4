#include <algorithm>
#include <cmath>

#include "sources/udp/datagram.h"
#include "sources/udp/udp_decoders.h"

namespace rez {

namespace {

struct Vector {
    double x, y, z;
    double length() const { return std::sqrt(x * x + y * y + z * z); }
};

Vector vectorAt(const Datagram& d, std::size_t offset) { return {d.f32(offset), d.f32(offset + 4), d.f32(offset + 8)}; }

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
    // A vector without length gives no direction (and NaN angles).
    for (std::size_t offset : {85u, 97u, 109u})
        if (!(vectorAt(d, offset).length() > 0.0)) return false;
    return true;
}

bool decodeWrc(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record, WrcPrevious& previous) {
    if (!wrcDatagramUsable(bytes, length)) return false;
    const Datagram d(bytes, length);
    double* s = record.slots;
    s[kLateralSpeed] = d.f32(61);
    s[kLongituSpeed] = d.f32(65);
    s[kVerticaSpeed] = d.f32(69);
    s[kLongituAccel] = d.f32(73);
    s[kLateralAccel] = d.f32(77);
    s[kVerticaAccel] = d.f32(81);

    const Vector a = vectorAt(d, 85), b = vectorAt(d, 97), c = vectorAt(d, 109);
    const double la = a.length(), lb = b.length(), lc = c.length();
    const double p = std::asin(std::clamp(-c.x / lc, -1.0, 1.0));
    const bool level = std::cos(p) != 0.0;
    const double u = level ? c.z / lc : a.y / la;
    const double v = level ? c.y / lc : a.z / la;
    const double roll = std::atan2(v, u);
    const double yaw = level ? std::atan2(a.x / la, b.x / lb) : 0.0;
    s[kRollPosition] = asFloat(degrees(roll) - 90.0);
    s[kPitchPosition] = asFloat(degrees(p));
    s[kYawPosition] = asFloat(-degrees(yaw));

    const double dt = record.timeFrame / 1000.0;
    const double divisor = dt > kLongestStepS ? kUsualStepS : dt;
    if (divisor > 0.0) {
        s[kYawSpeed] = wrapDegrees(s[kYawPosition] - previous.yaw) / divisor;
        s[kRollSpeed] = wrapDegrees(s[kRollPosition] - previous.roll) / divisor;
        s[kPitchSpeed] = wrapDegrees(s[kPitchPosition] - previous.pitch) / divisor;
    }
    previous = {s[kYawPosition], s[kRollPosition], s[kPitchPosition]};
    return true;
}

}  // namespace rez
