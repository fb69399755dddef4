// The ride's arithmetic on replies received at known times, through the
// stand-in's encoding, which is held to the simulator's recorded frames.
#include <gtest/gtest.h>

#include <cmath>

#include "sim/nolimits_motion.h"
#include "sources/tcp/nolimits_ride.h"
#include "tests/shm_sources/shm_test_util.h"

namespace rez {
namespace {

using test::kG;
constexpr double kDeg = 57.29577951308232;

// A state whose accelerations are gravity's alone (angles in degrees).
sim::SimState feelingGravity(double yaw, double pitch, double roll) {
    sim::SimState st;
    double* s = st.slots;
    s[kYawPosition] = yaw, s[kPitchPosition] = pitch, s[kRollPosition] = roll;
    pitch /= kDeg, roll /= kDeg;
    s[kLongituAccelG] = kG * std::sin(pitch), s[kLateralAccelG] = kG * std::cos(pitch) * std::sin(roll);
    s[kVerticaAccelG] = kG * std::cos(pitch) * std::cos(roll);
    return st;
}

// On a recorded lift hill the world's up in car axes was (0, 0.883, -0.470)
// and the g-force (0, 0.883, 0.470): a nose-up turn about the car's x.
TEST(NoLimitsRide, StandInEncodesTheRecordedLiftHill) {
    const double half = std::asin(0.470) / 2;
    const NoLimitsTelemetry t = sim::noLimitsTelemetryFrom(feelingGravity(0, 2 * half * kDeg, 0));
    const double q[4] = {std::sin(half), 0, 0, std::cos(half)}, g[3] = {0, 0.883, 0.470};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(t.rotation[i], q[i], 1e-6) << "quaternion " << i;
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(t.gForce[i], g[i], 1e-3) << "g-force " << i;
}

// Frame by frame at the simulator's frame rate: the attitude, each rate on
// its own axis in degrees per second, and gravity parts that leave no
// acceleration, whatever the heading.
TEST(NoLimitsRide, SteadyMotionAtAnyHeading) {
    struct Case {
        const char* what;
        double start[3], rate[3], fps;  // yaw, pitch, roll: degrees, degrees per second
    };
    const Case cases[] = {
        {"pitched 30 at rest", {0, 30, 0}, {0, 0, 0}, 60},
        {"rolled 10, heading 90", {90, 0, 10}, {0, 0, 0}, 60},
        {"pitched -10, heading 180", {180, -10, 0}, {0, 0, 0}, 60},
        {"turning left, heading 270", {270, 0, 0}, {40, 0, 0}, 60},
        {"nose rising at 30 frames a second, heading 90", {90, 5, 0}, {0, 20, 0}, 30},
        {"rolling right, heading 180", {180, 0, 5}, {0, 0, -25}, 100},
    };
    const int angles[3] = {kYawPosition, kPitchPosition, kRollPosition}, rates[3] = {kYawSpeed, kPitchSpeed, kRollSpeed};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NoLimitsRide ride;
        GameDataRecord r;
        sim::SimState st;
        for (int i = 0; i < 40; ++i) {
            const double t = i / c.fps;
            st = feelingGravity(c.start[0] + c.rate[0] * t, c.start[1] + c.rate[1] * t, c.start[2] + c.rate[2] * t);
            NoLimitsTelemetry sample = sim::noLimitsTelemetryFrom(st);
            sample.state = 1, sample.frame = i + 1;
            ASSERT_TRUE(applyNoLimitsTelemetry(sample, 100.0 + t, r, ride));
        }
        for (int a = 0; a < 3; ++a) {
            EXPECT_NEAR(std::remainder(r.slots[angles[a]] - st.slots[angles[a]], 360.0), 0.0, 1e-3) << "angle " << a;
            EXPECT_NEAR(r.slots[rates[a]], c.rate[a], 0.03 * std::abs(c.rate[a]) + 1e-3) << "rate " << a;
        }
        test::expectSlots(r, {{kLongituGravi, st.slots[kLongituAccelG]}, {kLateralGravi, st.slots[kLateralAccelG]},
                              {kLateralAccel, 0}, {kLongituAccel, 0}, {kVerticaAccel, 0}}, 1e-3);
    }
}

// A turn over a quarter pi between frames keeps the rates; a ride that stops
// turning, or a quaternion that only changes sign, is no turn.
TEST(NoLimitsRide, RatesHoldOnlyOverLargeTurns) {
    const struct {
        const char* what;
        double jump, sign;
        bool held;
    } cases[] = {{"46 degrees", 46, 1, true},  {"170 degrees", 170, 1, true}, {"stopped", 0, 1, false},
                 {"below the smallest turn", 1e-4, 1, false}, {"sign flipped", 0, -1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        NoLimitsRide ride;
        GameDataRecord r;
        auto yawed = [&](std::int32_t frame, double degrees, double sign) {
            NoLimitsTelemetry t;
            t.state = 1, t.frame = frame;
            t.rotation = {0, float(sign * std::sin(degrees / kDeg / 2)), 0, float(sign * std::cos(degrees / kDeg / 2))};
            return applyNoLimitsTelemetry(t, 0.01 * frame, r, ride);
        };
        for (int i = 0; i < 6; ++i) ASSERT_TRUE(yawed(i + 1, 3.0 * i, 1));
        const double turning = r.slots[kYawSpeed];
        EXPECT_GT(turning, 250.0) << "about 300 degrees a second";
        ASSERT_TRUE(yawed(7, 15.0 + c.jump, c.sign));
        EXPECT_NEAR(r.slots[kFrontLeftSusp], c.jump / kDeg, 1e-4);
        if (c.held)
            EXPECT_EQ(r.slots[kYawSpeed], turning);
        else
            EXPECT_LT(std::abs(r.slots[kYawSpeed]), 0.02 * turning);
    }
}

}  // namespace
}  // namespace rez
