// Assetto Corsa, Competizione and EVO: the physics page, the live status on
// the graphics page, the packet-number rule and EVO's own page name.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "sources/detection_tests.h"
#include "sources/game_table.h"
#include "tests/shm_sources/shm_test_util.h"
#include "tests/support/child_game.h"
#include "sim/game_writers.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

using sim::AcPhysics;
using sim::AssettoCorsaWriter;
using Pages = AssettoCorsaWriter::Pages;

class AssettoCorsaTest : public test::ShmReaderTest {};

AcPhysics referenceSample(std::int32_t packet) {
    AcPhysics p;
    p.packetId = packet;
    p.accG[0] = 0.5f;
    p.accG[1] = -1.0f;
    p.accG[2] = 0.25f;
    p.heading = 0.5f;
    p.pitch = 0.1f;
    p.roll = -0.2f;
    p.localAngularVel[0] = 0.3f;
    p.localAngularVel[1] = -0.4f;
    p.localAngularVel[2] = 0.6f;
    p.localVelocity[0] = 1.5f;
    p.localVelocity[1] = -2.5f;
    p.localVelocity[2] = 30.0f;
    return p;
}

TEST_F(AssettoCorsaTest, SampleGivesChannelsInUnitsAndSigns) {
    struct Case {
        const char* what;
        Pages pages;
        int game;
    };
    const Case cases[] = {
        {"classic pages, Assetto Corsa reader", Pages::Classic, kAssettoCorsa},
        {"classic page, EVO reader", Pages::Classic, kAssettoCorsaEvo},
        {"EVO's own page, EVO reader", Pages::Evo, kAssettoCorsaEvo},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AssettoCorsaWriter game(c.pages);
        ASSERT_TRUE(game.ok());
        game.setStatus(2);
        game.publish(referenceSample(7));
        auto reader = test::shippedReader(c.game);
        ASSERT_TRUE(reader->attach());
        GameDataRecord record = test::markedRecord();
        ASSERT_TRUE(reader->read(record));
        test::expectSlots(record, {
                                      {kLateralAccel, 0.5 * 9.81},
                                      {kLongituAccel, 0.25 * 9.81},
                                      {kVerticaAccel, 9.81},
                                      {kLateralSpeed, 1.5},
                                      {kVerticaSpeed, -2.5},
                                      {kLongituSpeed, 30.0},
                                      {kPitchSpeed, 17.188733853924695},
                                      {kYawSpeed, -22.918311805232928},
                                      {kRollSpeed, 34.37746770784939},
                                      {kYawPosition, -28.64788975654116},
                                      {kPitchPosition, 5.729577951308232},
                                      {kRollPosition, 11.459155902616464},
                                  });
        test::expectGravity(record, 0.2, 0.1);
        test::expectAdded(record);
        EXPECT_EQ(record.slots[kSpeed], test::kUntouched) << "slots the game does not give stay as they were";
        EXPECT_EQ(record.slots[kYawAccel], test::kUntouched);
        EXPECT_EQ(record.slots[0], test::kUntouched);
        EXPECT_EQ(reader->groundState.load(), 0);
        reader->close();
    }
}

TEST_F(AssettoCorsaTest, UnchangedPacketNumberLeavesEverythingAsItWas) {
    AssettoCorsaWriter game;
    game.setStatus(2);
    game.publish(referenceSample(41));
    auto reader = test::shippedReader(kAssettoCorsa);
    ASSERT_TRUE(reader->attach());
    GameDataRecord record = test::markedRecord();
    ASSERT_TRUE(reader->read(record));

    // The game changes its values but not the packet number: not a new sample.
    AcPhysics changed = referenceSample(41);
    changed.localVelocity[2] = 55.0f;
    changed.roll = 0.4f;
    game.publish(changed);
    const GameDataRecord before = record;
    EXPECT_FALSE(reader->read(record));
    EXPECT_TRUE(test::sameRecord(record, before)) << "no channel and no interval may change";

    changed.packetId = 42;
    game.publish(changed);
    ASSERT_TRUE(reader->read(record));
    EXPECT_NEAR(record.slots[kLongituSpeed], 55.0, 1e-6);
    // A packet number that goes back is still a different one.
    changed.packetId = 3;
    changed.localVelocity[2] = 12.0f;
    game.publish(changed);
    ASSERT_TRUE(reader->read(record));
    EXPECT_NEAR(record.slots[kLongituSpeed], 12.0, 1e-6);
}

TEST_F(AssettoCorsaTest, IntervalIsTakenOnlyWhenASampleIsStored) {
    AssettoCorsaWriter game;
    game.setStatus(2);
    game.publish(referenceSample(1));
    auto reader = test::shippedReader(kAssettoCorsa);
    ASSERT_TRUE(reader->attach());
    GameDataRecord record;
    ASSERT_TRUE(reader->read(record));
    platform::sleepMs(40);
    EXPECT_FALSE(reader->read(record));
    platform::sleepMs(40);
    game.publish(referenceSample(2));
    ASSERT_TRUE(reader->read(record));
    EXPECT_GE(record.timeFrame, 75.0) << "the interval spans both waits: the empty read took no stamp";
    EXPECT_LT(record.timeFrame, 5000.0);
}

TEST_F(AssettoCorsaTest, DetectionAndAttachNeedTheLiveStatus) {
    {
        auto reader = test::shippedReader(kAssettoCorsa);
        EXPECT_FALSE(reader->detect()) << "no game";
        EXPECT_FALSE(reader->attach());
        EXPECT_FALSE(existingMappingTest("Local\\acpmf_graphics")) << "a miss leaves no page behind";
        EXPECT_FALSE(existingMappingTest("Local\\acpmf_physics"));
    }
    AssettoCorsaWriter game;
    game.publish(referenceSample(5));
    auto reader = test::shippedReader(kAssettoCorsa);
    struct Case {
        std::int32_t status;
        bool live;
    };
    for (Case c : {Case{0, false}, Case{1, false}, Case{3, false}, Case{2, true}}) {
        game.setStatus(c.status);
        EXPECT_EQ(reader->detect(), c.live) << "status " << c.status;
        EXPECT_EQ(reader->attach(), c.live) << "status " << c.status;
        GameDataRecord record;
        EXPECT_EQ(reader->read(record), c.live) << "a failed attach holds no page to read";
        reader->close();
    }
}

// A game's pages may be shorter than the layout; the reader reads what the
// pages hold, zero beyond, and never grows or writes them.
TEST_F(AssettoCorsaTest, ShortPagesAreReadButNeverGrown) {
    for (int game : {kAssettoCorsa, kAssettoCorsaEvo}) {
        SCOPED_TRACE(gameName(game));
        sim::GameBlock physics("Local\\acpmf_physics", 100);
        sim::GameBlock graphics("Local\\acpmf_graphics", 100);
        ASSERT_TRUE(physics.ok() && graphics.ok());
        physics.putI32(0, 9);
        physics.putF32(44, 0.5f);
        graphics.putI32(4, 2);
        const std::size_t physicsSize = physics.objectSize();
        const std::size_t graphicsSize = graphics.objectSize();

        auto reader = test::shippedReader(game);
        if (game == kAssettoCorsa) {
            EXPECT_TRUE(reader->detect());
        }
        ASSERT_TRUE(reader->attach());
        GameDataRecord record = test::markedRecord();
        ASSERT_TRUE(reader->read(record));
        EXPECT_NEAR(record.slots[kLateralAccel], 0.5 * 9.81, 1e-6);
        EXPECT_EQ(record.slots[kLongituSpeed], 0.0) << "past the page's end reads zero";
        EXPECT_EQ(physics.objectSize(), physicsSize);
        EXPECT_EQ(graphics.objectSize(), graphicsSize);
        reader->close();
    }
}

TEST_F(AssettoCorsaTest, EvoPrefersItsOwnPageOverTheClassicOne) {
    AssettoCorsaWriter classic(Pages::Classic);
    AssettoCorsaWriter evo(Pages::Evo);
    AcPhysics a = referenceSample(10);
    a.localVelocity[2] = 11.0f;
    classic.publish(a);
    AcPhysics b = referenceSample(20);
    b.localVelocity[2] = 22.0f;
    evo.publish(b);

    auto reader = test::shippedReader(kAssettoCorsaEvo);
    ASSERT_TRUE(reader->attach());
    GameDataRecord record;
    ASSERT_TRUE(reader->read(record));
    EXPECT_NEAR(record.slots[kLongituSpeed], 22.0, 1e-6);
    reader->close();

    evo.close();
    ASSERT_TRUE(reader->attach()) << "without EVO's page the classic one is used";
    ASSERT_TRUE(reader->read(record));
    EXPECT_NEAR(record.slots[kLongituSpeed], 11.0, 1e-6);
}

TEST_F(AssettoCorsaTest, EvoDetectionNeedsTheProcessAndCreatesNothingBesideItsOwnPage) {
    auto reader = test::shippedReader(kAssettoCorsaEvo);
    AssettoCorsaWriter evo(Pages::Evo);
    EXPECT_FALSE(reader->detect()) << "a page without the game's process";
    test::ChildGame process("AssettoCorsaEVO.exe");
    ASSERT_TRUE(process.started());
    EXPECT_TRUE(reader->detect());
    EXPECT_FALSE(existingMappingTest("Local\\acpmf_physics")) << "EVO's own page spares the classic one";
    evo.close();
    EXPECT_TRUE(reader->detect()) << "the classic page test passes by making the page";
    EXPECT_FALSE(existingMappingTest("Local\\acpmf_physics")) << "and releases it again";
}

}  // namespace
}  // namespace rez
