// The scripted drives: each rate is the rate of change of what it belongs to
// (a derivative with a wrong sign or factor would drive the rig the wrong
// way), the gravity parts follow roll and pitch, and the step lands on the
// slot it is named for.
#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>
#include <numbers>
#include <string>

#include "sim/drives.h"
#include "sources/game_data_record.h"

namespace rez {
namespace {

constexpr double kG = 9.80665;

TEST(Drives, RatesAreTheChangeOfWhatTheyBelongTo) {
    struct Pair {
        int value, rate;
        double perSecond;  // rate units per value unit per second
    };
    const Pair pairs[] = {
        {kYawPosition, kYawSpeed, 1},    {kYawSpeed, kYawAccel, 1},     {kRollPosition, kRollSpeed, 1},
        {kRollSpeed, kRollAccel, 1},     {kPitchPosition, kPitchSpeed, 1}, {kPitchSpeed, kPitchAccel, 1},
        {kLongituSpeed, kLongituAccel, 1}, {kSpeed, kLongituAccel, 1},
    };
    struct Case {
        const char* drive;
        double lap;
    };
    for (const Case& c : {Case{"drive", 20}, Case{"flight", 180}, Case{"ride", 60}}) {
        std::string error;
        auto drive = sim::makeDrive(c.drive, "", error);
        ASSERT_TRUE(drive) << error;
        sim::SimState s;
        // Over each tenth of a second the change of a value must be the
        // integral of its rate (trapezoids of 0.5 ms); yaw may wrap. Where a
        // rate jumps (an acceleration as a pulse sets in) a trapezoid is off
        // by up to the jump times 0.25 ms, so the bound grows with the rate.
        for (const Pair& p : pairs) {
            double worst = 0, largestRate = 0;
            for (double t0 = 0; t0 < c.lap; t0 += 0.1) {
                drive->at(t0, s);
                const double start = s.slots[p.value];
                double integral = 0, previousRate = s.slots[p.rate];
                for (int k = 1; k <= 200; ++k) {
                    drive->at(t0 + k * 0.0005, s);
                    integral += (previousRate + s.slots[p.rate]) / 2 * 0.0005;
                    previousRate = s.slots[p.rate];
                    largestRate = std::max(largestRate, std::fabs(previousRate));
                }
                double change = s.slots[p.value] - start;
                if (p.value == kYawPosition) change = std::remainder(change, 360.0);
                worst = std::max(worst, std::fabs(change - integral * p.perSecond));
            }
            EXPECT_LT(worst, 1e-3 * (1 + largestRate)) << c.drive << ": slot " << gameSlotName(p.rate) << " against " << gameSlotName(p.value);
        }
        // And every state is consistent with the library's gravity parts.
        for (double t = 0; t < c.lap; t += 0.5) {
            drive->at(t, s);
            const double phi = s.slots[kRollPosition] * std::numbers::pi / 180, theta = s.slots[kPitchPosition] * std::numbers::pi / 180;
            EXPECT_NEAR(s.slots[kVerticaGravi], kG * std::cos(theta) * std::cos(phi), 1e-9) << c.drive << " at " << t;
            EXPECT_NEAR(s.slots[kLateralAccelG], s.slots[kLateralAccel] + s.slots[kLateralGravi], 1e-9) << c.drive << " at " << t;
        }
        // Never the same sample twice in a row, even on a steady stretch: the
        // engine takes half a second of unchanged slots 0..22 for a pause.
        for (double t = 0; t < c.lap; t += 0.05) {
            sim::SimState next;
            drive->at(t, s);
            drive->at(t + 0.004, next);
            EXPECT_FALSE(std::equal(s.slots, s.slots + 23, next.slots)) << c.drive << " at " << t;
        }
    }
}

TEST(Drives, StepRisesOnTheNamedSlotAtOneSecond) {
    struct Case {
        const char* slot;
        int index;
    };
    for (const Case& c : {Case{"lateral_speed", kLateralSpeed}, Case{"roll_speed", kRollSpeed}, Case{"speed", kSpeed},
                          Case{"simtools_axis4b", 41}, Case{"slot_42", 42}}) {
        std::string error;
        auto drive = sim::makeDrive("step", "assetto_corsa", error, c.slot);
        ASSERT_TRUE(drive) << c.slot << ": " << error;
        sim::SimState s;
        drive->at(0.999, s);
        EXPECT_EQ(s.slots[c.index], 0.0) << c.slot;
        drive->at(1.0, s);
        EXPECT_EQ(s.slots[c.index], 1.0) << c.slot;
    }
    // A step on an acceleration with gravity keeps that value as it is.
    std::string error;
    auto drive = sim::makeDrive("step", "assetto_corsa", error, "vertica_accel_g");
    sim::SimState s;
    drive->at(2.0, s);
    EXPECT_EQ(s.slots[kVerticaAccelG], 1.0);
    EXPECT_NEAR(s.slots[kVerticaAccel], 1.0 - kG, 1e-12);
    // Two samples after the step still differ somewhere in slots 0..22, or
    // the engine would take the game for paused and hold its outputs.
    sim::SimState later;
    drive->at(2.01, later);
    EXPECT_FALSE(std::equal(s.slots, s.slots + 23, later.slots));
    EXPECT_FALSE(sim::makeDrive("step", "assetto_corsa", error, "lateral_sped"));
    EXPECT_FALSE(sim::makeDrive("step", "assetto_corsa", error, "slot_43"));
}

}  // namespace
}  // namespace rez
