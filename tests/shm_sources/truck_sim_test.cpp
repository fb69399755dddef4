// Truck simulators: the plug-in's packed block, turns to degrees, the three
// angle clamps, and a reader that never makes the block itself.
#include <gtest/gtest.h>

#include <numbers>

#include "sources/detection_tests.h"
#include "sources/game_table.h"
#include "tests/shm_sources/shm_test_util.h"
#include "tests/support/child_game.h"
#include "sim/game_writers.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

using sim::TruckSample;

class TruckSimTest : public test::ShmReaderTest {};

TruckSample truckSample() {
    TruckSample s;
    s.heading = 0.25f;
    s.pitch = 0.0625f;
    s.roll = -0.125f;
    s.speed = 22.5f;
    s.rpm = 1450.0f;
    const float v[3] = {0.5f, -0.25f, 21.0f}, w[3] = {0.01f, -0.02f, 0.03f}, a[3] = {1.5f, -0.75f, 2.5f},
                aa[3] = {0.05f, -0.1f, 0.2f};
    for (int i = 0; i < 3; ++i) {
        s.linearVelocity[i] = v[i];
        s.angularVelocity[i] = w[i];
        s.linearAcceleration[i] = a[i];
        s.angularAcceleration[i] = aa[i];
    }
    return s;
}

TEST_F(TruckSimTest, SampleGivesChannelsInDegreesAndSigns) {
    sim::TruckSimWriter game;
    ASSERT_TRUE(game.ok());
    game.publish(truckSample());
    auto reader = test::shippedReader(kTruckSim);
    ASSERT_TRUE(reader->attach());
    GameDataRecord record = test::markedRecord();
    ASSERT_TRUE(reader->read(record));
    test::expectSlots(record, {
                                  {kSpeed, 22.5},
                                  {kRpm, 1450.0},
                                  {kLateralSpeed, 0.5},
                                  {kVerticaSpeed, -0.25},
                                  {kLongituSpeed, -21.0},
                                  {kPitchSpeed, 3.6},
                                  {kYawSpeed, -7.2},
                                  {kRollSpeed, -10.8},
                                  {kLateralAccel, 1.5},
                                  {kVerticaAccel, -0.75},
                                  {kLongituAccel, -2.5},
                                  {kPitchAccel, 18.0},
                                  {kYawAccel, -36.0},
                                  {kRollAccel, -72.0},
                                  {kYawPosition, 90.0},
                                  {kPitchPosition, 22.5},
                                  {kRollPosition, 45.0},
                              });
    test::expectGravity(record, 45.0 * std::numbers::pi / 180.0, 22.5 * std::numbers::pi / 180.0);
    test::expectAdded(record);
    EXPECT_TRUE(reader->read(record)) << "every read while running is a sample";
}

TEST_F(TruckSimTest, AnglesAreClamped) {
    sim::TruckSimWriter game;
    auto reader = test::shippedReader(kTruckSim);
    ASSERT_TRUE(reader->attach());
    struct Case {
        float heading, pitch, roll;  // turns
        double yaw, pitchDeg, rollDeg;
    };
    const Case cases[] = {
        {1.5f, 0.3f, 0.6f, 360.0, 90.0, -180.0},
        {-0.25f, -0.3f, -0.6f, 0.0, -90.0, 180.0},
        {1.0f, 0.25f, 0.5f, 360.0, 90.0, -180.0},
        {0.999f, -0.25f, -0.5f, 359.64, -90.0, 180.0},
        {0.0f, 0.125f, 0.25f, 0.0, 45.0, -90.0},
    };
    for (const Case& c : cases) {
        TruckSample s = truckSample();
        s.heading = c.heading;
        s.pitch = c.pitch;
        s.roll = c.roll;
        game.publish(s);
        GameDataRecord record;
        ASSERT_TRUE(reader->read(record));
        test::expectSlots(record, {{kYawPosition, c.yaw}, {kPitchPosition, c.pitchDeg}, {kRollPosition, c.rollDeg}});
    }
}

TEST_F(TruckSimTest, StoppedPluginGivesNoSample) {
    sim::TruckSimWriter game;
    TruckSample s = truckSample();
    s.running = 0;
    game.publish(s);
    auto reader = test::shippedReader(kTruckSim);
    ASSERT_TRUE(reader->attach());
    GameDataRecord record = test::markedRecord();
    EXPECT_FALSE(reader->read(record));
    EXPECT_TRUE(test::sameRecord(record, test::markedRecord()));
    s.running = 1;
    game.publish(s);
    EXPECT_TRUE(reader->read(record));
}

// The plug-in refuses to start when its block already exists, so neither
// detection nor attach may make it.
TEST_F(TruckSimTest, ReaderNeverMakesThePluginsBlock) {
    auto reader = test::shippedReader(kTruckSim);
    test::ChildGame process("eurotrucks2.exe");
    ASSERT_TRUE(process.started());
    EXPECT_FALSE(reader->detect());
    EXPECT_FALSE(reader->attach());
    EXPECT_FALSE(existingMappingTest("SCSTelemetryExample")) << "no block may be left for the plug-in to trip over";

    // The plug-in can still make its block afterwards, and only then is the
    // game found.
    sim::GameBlock plugin;
    ASSERT_TRUE(plugin.create("SCSTelemetryExample", 177));
    EXPECT_TRUE(reader->detect());
    EXPECT_TRUE(reader->attach());
}

TEST_F(TruckSimTest, DetectionNeedsTheBlockAndTheProcess) {
    auto reader = test::shippedReader(kTruckSim);
    sim::TruckSimWriter game;
    EXPECT_FALSE(reader->detect()) << "block without the game";
    test::ChildGame process("eurotrucks2.exe");
    ASSERT_TRUE(process.started());
    EXPECT_TRUE(reader->detect());
}

}  // namespace
}  // namespace rez
