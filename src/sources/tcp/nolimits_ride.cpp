#include "sources/tcp/nolimits_ride.h"

#include <algorithm>
#include <cmath>

#include "sources/gravity.h"

namespace rez {

namespace {

constexpr double kDegreesPerRadian = 57.29577951308232;
constexpr double kLargestTurn = 0.7853981633974483;  // a quarter of pi between two frames
constexpr double kSmallestTurn = 0.00001;
// Frames closer than this cannot both be rendered ones, and frames further
// apart were held up (a stall, a load): neither interval is a step to take
// a rate or a speed over. Both bounds also keep the rates and speeds finite
// whatever the clock says.
constexpr double kShortestGapS = 0.0001;
constexpr double kLongestGapS = 1.0;
constexpr double kStillAccel = 0.2;
constexpr int kStillSamples = 50;
constexpr double kStillSpeed = 0.1;
constexpr double kLeak = 0.999;

struct Quat {
    double x, y, z, w;
};

Quat multiply(const Quat& a, const Quat& b) {
    return {a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
            a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
            a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w,
            a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}

Quat conjugate(const Quat& q) { return {-q.x, -q.y, -q.z, q.w}; }

double length(const Quat& q) { return std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w); }

bool finite(const NoLimitsTelemetry& t) {
    auto ok = [](float v) { return std::isfinite(v); };
    return ok(t.speed) && std::all_of(t.rotation.begin(), t.rotation.end(), ok) &&
           std::all_of(t.gForce.begin(), t.gForce.end(), ok);
}

// The turn from the previous orientation to q, taken in the car's own axes
// (P^-1 Q, so the rates are about the car's x, y, z whatever its heading):
// its angle on the shorter way round goes to the record (radians), and the
// smoothed rates move toward the turn over `dt`. A turn too small to give an
// axis is no turn, and the rates settle toward 0; one too large to be a
// single step of a ride leaves them as they were.
void updateRates(const Quat& q, double dt, NoLimitsRide& ride, double* s) {
    const Quat p{ride.previous[0], ride.previous[1], ride.previous[2], ride.previous[3]};
    Quat r = multiply(conjugate(p), q);
    // q and -q are one orientation: a sign flip between frames is no turn.
    if (r.w < 0.0) r = {-r.x, -r.y, -r.z, -r.w};
    const double sine = std::sqrt(r.x * r.x + r.y * r.y + r.z * r.z);
    const double theta = 2.0 * std::atan2(sine, r.w);
    s[kFrontLeftSusp] = theta;
    if (theta > kLargestTurn) return;
    const double perAxis = theta < kSmallestTurn ? 0.0 : theta / sine / dt;
    const double target[3] = {r.x * perAxis, r.y * perAxis, r.z * perAxis};
    for (std::size_t i = 0; i < 3; ++i) {
        double& rate = ride.rate[i];
        rate = ((target[i] - rate) * 0.99 + rate) * 0.98;
    }
}

}  // namespace

NoLimitsRide& noLimitsRide() {
    static NoLimitsRide ride;
    return ride;
}

bool applyNoLimitsTelemetry(const NoLimitsTelemetry& t, double receivedAtS, GameDataRecord& record, NoLimitsRide& ride) {
    if (t.state == 0) return false;
    if (!finite(t)) return false;
    Quat q{t.rotation[0], t.rotation[1], t.rotation[2], t.rotation[3]};
    const double qLength = length(q);
    if (!(qLength > 0.0)) return false;
    if (t.frame == ride.lastFrame) return false;
    ride.lastFrame = t.frame;
    q = {q.x / qLength, q.y / qLength, q.z / qLength, q.w / qLength};

    double* s = record.slots;
    s[kLandingGear] = t.frame;
    s[kSpeed] = t.speed;

    // Normalised, and the sine kept in range, so a quaternion a rounding
    // off unit length gives no NaN at the poles.
    s[kRollPosition] = std::asin(std::clamp(2.0 * (q.w * q.z + q.y * q.x), -1.0, 1.0)) * kDegreesPerRadian;
    s[kPitchPosition] = std::atan2(2.0 * (q.x * q.w - q.y * q.z), 1.0 - 2.0 * (q.x * q.x + q.z * q.z)) * kDegreesPerRadian;
    s[kYawPosition] = std::atan2(2.0 * (q.y * q.w - q.z * q.x), 1.0 - 2.0 * (q.y * q.y + q.z * q.z)) * kDegreesPerRadian;

    const double gap = receivedAtS - ride.previousAt;
    const double dt = ride.hasPrevious && gap >= kShortestGapS && gap <= kLongestGapS ? gap : 0.0;
    s[kFrontLeftSusp] = 0.0;
    if (dt > 0.0) updateRates(q, dt, ride, s);
    s[kPitchSpeed] = ride.rate[0] * kDegreesPerRadian;
    s[kYawSpeed] = ride.rate[1] * kDegreesPerRadian;
    s[kRollSpeed] = ride.rate[2] * kDegreesPerRadian;
    ride.previous = {q.x, q.y, q.z, q.w};
    ride.previousAt = receivedAtS;
    ride.hasPrevious = true;

    // The g-force is along (left, up, forward); the slots are along (right,
    // up, forward).
    const double g = kStandardGravity;
    s[kLateralAccelG] = t.gForce[0] * g * -1.0;
    s[kLongituAccelG] = t.gForce[2] * g;
    s[kVerticaAccelG] = t.gForce[1] * g;

    // The world's up (y) in car axes: what a car at rest feels along each of
    // its axes. Forward is the car's -z.
    const Quat up = multiply(multiply(conjugate(q), Quat{0.0, g, 0.0, 0.0}), q);
    s[kLateralGravi] = up.x;
    s[kVerticaGravi] = up.y;
    s[kLongituGravi] = -up.z;

    constexpr int axes[3][4] = {
        {kLateralAccel, kLateralAccelG, kLateralGravi, kLateralSpeed},
        {kLongituAccel, kLongituAccelG, kLongituGravi, kLongituSpeed},
        {kVerticaAccel, kVerticaAccelG, kVerticaGravi, kVerticaSpeed},
    };
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& a = axes[i];
        s[a[0]] = s[a[1]] - s[a[2]];
        double& m = ride.accel[i];
        m += (s[a[0]] - m) * 0.1;
        const double speed = m * dt + ride.leak[i];
        s[a[3]] = speed;
        ride.leak[i] = speed * kLeak;
        // Counted only as far as the test needs, so a ride at rest for months does
        // not overflow it.
        ride.still[i] = std::abs(m) < kStillAccel ? std::min(ride.still[i] + 1, kStillSamples + 1) : 0;
        if (ride.still[i] > kStillSamples && std::abs(ride.leak[i]) < kStillSpeed) {
            ride.leak[i] = 0.0;
            s[a[3]] = 0.0;
        }
    }
    return true;
}

}  // namespace rez
