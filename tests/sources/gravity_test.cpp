// The post-step every reader runs: gravity parts from roll and pitch, and the
// missing half of each acceleration pair.
#include <gtest/gtest.h>

#include <cmath>

#include "sources/gravity.h"

namespace rez {
namespace {

TEST(GravityParts, FromRollAndPitch) {
    struct Case { double roll, pitch, lateral, longitudinal, vertical; };
    const double g = 9.80665;
    const Case cases[] = {
        {0, 0, 0, 0, g},
        {90, 0, g, 0, 0},
        {0, 90, 0, g, 0},
        {-30, 0, -g * 0.5, 0, g * std::sqrt(3.0) / 2},
        {0, -30, 0, -g * 0.5, g * std::sqrt(3.0) / 2},
        {30, 60, g * 0.5 * 0.5, g * std::sqrt(3.0) / 2, g * 0.5 * std::sqrt(3.0) / 2},
    };
    for (const auto& c : cases) {
        GameDataRecord r;
        r.slots[kRollPosition] = c.roll;
        r.slots[kPitchPosition] = c.pitch;
        applyGravityParts(r, AccelMode::Add);
        EXPECT_NEAR(r.slots[kLateralGravi], c.lateral, 1e-9) << c.roll << "/" << c.pitch;
        EXPECT_NEAR(r.slots[kLongituGravi], c.longitudinal, 1e-9);
        EXPECT_NEAR(r.slots[kVerticaGravi], c.vertical, 1e-9);
    }
}

TEST(GravityParts, AddAndSubtractModes) {
    GameDataRecord add;
    add.slots[kRollPosition] = 10;
    add.slots[kPitchPosition] = -5;
    add.slots[kLateralAccel] = 1.5;
    add.slots[kLongituAccel] = -2.0;
    add.slots[kVerticaAccel] = 0.25;
    GameDataRecord sub = add;
    sub.slots[kLateralAccelG] = 1.5;
    sub.slots[kLongituAccelG] = -2.0;
    sub.slots[kVerticaAccelG] = 0.25;

    applyGravityParts(add, AccelMode::Add);
    applyGravityParts(sub, AccelMode::Subtract);
    const int triples[3][3] = {{kLateralAccel, kLateralAccelG, kLateralGravi},
                               {kLongituAccel, kLongituAccelG, kLongituGravi},
                               {kVerticaAccel, kVerticaAccelG, kVerticaGravi}};
    for (const auto& t : triples) {
        EXPECT_EQ(add.slots[t[1]], add.slots[t[0]] + add.slots[t[2]]);
        EXPECT_EQ(sub.slots[t[0]], sub.slots[t[1]] - sub.slots[t[2]]);
        EXPECT_EQ(sub.slots[t[1]], add.slots[t[0]]) << "subtract leaves the game's value alone";
    }
}

TEST(GravityParts, ReversedLongitudinalAndFullPrecisionPi) {
    GameDataRecord a, b;
    a.slots[kPitchPosition] = b.slots[kPitchPosition] = 20;
    applyGravityParts(a, AccelMode::Add);
    applyGravityParts(b, AccelMode::Add, 3.14159265358979323846, -1.0);
    EXPECT_NEAR(a.slots[kLongituGravi], -b.slots[kLongituGravi], 1e-12);
    EXPECT_NE(a.slots[kLongituGravi], -b.slots[kLongituGravi]) << "the short pi must show in the last bits";
}

}  // namespace
}  // namespace rez
