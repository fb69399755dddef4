// RaceRoom and Project CARS 2 / Automobilista 2: open-existing blocks read on
// every tick while the game is driving.
#include <gtest/gtest.h>

#include <string>

#include "sources/game_table.h"
#include "sources/shm/pcars2_reader.h"
#include "sources/shm/raceroom_reader.h"
#include "tests/shm_sources/shm_test_util.h"
#include "tests/support/child_game.h"
#include "sim/game_writers.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

using sim::Pcars2Sample;
using sim::R3eSample;

class RaceRoomTest : public test::ShmReaderTest {};
class ProjectCars2Test : public test::ShmReaderTest {};

R3eSample r3eSample() {
    R3eSample s;
    s.localVelocity[0] = 1.25;
    s.localVelocity[1] = -0.5;
    s.localVelocity[2] = -40.0;
    s.localAcceleration[0] = 2.0;
    s.localAcceleration[1] = -1.5;
    s.localAcceleration[2] = 3.0;
    s.orientation[0] = 0.1;   // pitch
    s.orientation[1] = 0.5;   // yaw
    s.orientation[2] = -0.2;  // roll
    s.localRotationAccel[0] = 0.25;
    s.localRotationAccel[1] = -0.75;
    s.localRotationAccel[2] = 1.0;
    s.localAngularVel[0] = 0.3;
    s.localAngularVel[1] = -0.4;
    s.localAngularVel[2] = 0.6;
    return s;
}

TEST_F(RaceRoomTest, AttachNeedsTheProcessAndTheBlockAndSaysSo) {
    sim::RaceRoomWriter game;
    RaceRoomReader reader;
    EXPECT_FALSE(reader.attach()) << "block without the game's process";
    test::ChildGame process("RRRE.exe");
    ASSERT_TRUE(process.started());

    testing::internal::CaptureStdout();
    EXPECT_TRUE(reader.detect());
    EXPECT_TRUE(reader.attach());
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed,
              "Found RRRE.exe, mapping shared memory...\n"
              "Found RRRE.exe, mapping shared memory...\n"
              "Memory mapped successfully\n");
    EXPECT_TRUE(reader.attached());
    EXPECT_FALSE(reader.failed());
    EXPECT_FALSE(reader.attach()) << "attach runs only when not attached";
    reader.close();
    EXPECT_FALSE(reader.attached());
    EXPECT_TRUE(reader.attach()) << "close clears the attached marker";
}

TEST_F(RaceRoomTest, BlockShorterThanItsLayoutIsNotMapped) {
    sim::GameBlock shortBlock("$R3E", 4096);
    ASSERT_TRUE(shortBlock.ok());
    test::ChildGame process("RRRE64.exe");
    ASSERT_TRUE(process.started());
    RaceRoomReader reader;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(reader.attach());
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Failed to map buffer"), std::string::npos) << printed;
    EXPECT_TRUE(reader.failed());
    GameDataRecord record;
    EXPECT_FALSE(reader.read(record));
}

// The version in the block decides where the reader looks; every layout the
// game has published must give the same channels.
struct R3eVersion {
    sim::RaceRoomWriter::Layout layout;
    std::int32_t major, minor;
};
using R3eLayout = sim::RaceRoomWriter::Layout;
constexpr R3eVersion kR3eVersions[] = {
    {R3eLayout::V3_2, 2, 11}, {R3eLayout::V3_2, 3, 2}, {R3eLayout::V3_3, 3, 3},
    {R3eLayout::V3_4, 3, 4},  {R3eLayout::V3_4, 3, 5},
};

TEST_F(RaceRoomTest, SampleGivesChannelsInUnitsAndSignsInEveryLayout) {
    test::ChildGame process("RRRE64.exe");
    ASSERT_TRUE(process.started());
    for (const R3eVersion& v : kR3eVersions) {
        SCOPED_TRACE(testing::Message() << "version " << v.major << "." << v.minor);
        sim::RaceRoomWriter game(v.layout);
        ASSERT_TRUE(game.ok());
        game.setVersion(v.major, v.minor);
        R3eSample sample = r3eSample();
        sample.gameMode = 1;  // a mode value that must not read as "paused"
        game.publish(sample);
        auto reader = test::shippedReader(kRaceRoom);
        testing::internal::CaptureStdout();
        ASSERT_TRUE(reader->attach());
        testing::internal::GetCapturedStdout();
        GameDataRecord record = test::markedRecord();
        ASSERT_TRUE(reader->read(record));
        test::expectSlots(record, {
                                      {kLateralSpeed, -1.25},
                                      {kVerticaSpeed, -0.5},
                                      {kLongituSpeed, 40.0},
                                      {kLateralAccel, -2.0},
                                      {kVerticaAccel, -1.5},
                                      {kLongituAccel, -3.0},
                                      {kPitchPosition, 5.729577951308232},
                                      {kYawPosition, -28.64788975654116},
                                      {kRollPosition, -11.459155902616464},
                                      {kPitchAccel, 14.32394487827058},
                                      {kYawAccel, 42.97183463481174},
                                      {kRollAccel, 57.29577951308232},
                                      {kPitchSpeed, 17.188733853924695},
                                      {kYawSpeed, 22.918311805232928},
                                      {kRollSpeed, 34.37746770784939},
                                  },
                          1e-9);
        test::expectGravity(record, -0.2, 0.1, 1e-9);
        test::expectAdded(record);
        EXPECT_EQ(record.slots[kSpeed], test::kUntouched);
        EXPECT_TRUE(reader->read(record)) << "every read while driving is a sample";
        reader->close();
        game.close();
    }
}

TEST_F(RaceRoomTest, PausedMenuOrReplayGivesNoSampleInEveryLayout) {
    test::ChildGame process("RRRE64.exe");
    ASSERT_TRUE(process.started());
    struct Case {
        std::int32_t paused, menus, replay;
        bool driving;
    };
    for (const R3eVersion& v : kR3eVersions) {
        SCOPED_TRACE(testing::Message() << "version " << v.major << "." << v.minor);
        sim::RaceRoomWriter game(v.layout);
        game.setVersion(v.major, v.minor);
        RaceRoomReader reader;
        testing::internal::CaptureStdout();
        ASSERT_TRUE(reader.attach());
        testing::internal::GetCapturedStdout();
        for (Case c : {Case{1, 0, 0, false}, Case{0, 1, 0, false}, Case{0, 0, 1, false}, Case{1, 1, 1, false},
                       Case{2, 0, 0, true}, Case{0, 0, 0, true}}) {
            R3eSample s = r3eSample();
            s.gameMode = 1;
            s.gamePaused = c.paused;
            s.gameInMenus = c.menus;
            s.gameInReplay = c.replay;
            s.localVelocity[2] = -(c.paused * 100.0 + c.menus * 10.0 + c.replay);
            game.publish(s);
            GameDataRecord record = test::markedRecord();
            const GameDataRecord before = record;
            EXPECT_EQ(reader.read(record), c.driving) << c.paused << c.menus << c.replay;
            if (c.driving) {
                EXPECT_EQ(record.slots[kLongituSpeed], -s.localVelocity[2]);
            } else {
                EXPECT_TRUE(test::sameRecord(record, before));
            }
        }
        reader.close();
        game.close();
    }
}

Pcars2Sample pcars2Sample(std::int32_t state) {
    Pcars2Sample s;
    s.gameState = state;
    s.orientation[0] = 0.5f;
    s.orientation[1] = -0.2f;
    s.orientation[2] = 0.1f;
    s.localVelocity[0] = 1.5f;
    s.localVelocity[1] = 33.0f;
    s.localVelocity[2] = -0.25f;
    s.angularVelocity[0] = -0.4f;
    s.angularVelocity[1] = 0.6f;
    s.angularVelocity[2] = 0.3f;
    s.localAcceleration[0] = 2.5f;
    s.localAcceleration[1] = -4.0f;
    s.localAcceleration[2] = 0.75f;
    return s;
}

TEST_F(ProjectCars2Test, AttachOpensTheGamesBlockOnce) {
    ProjectCars2Reader reader;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(reader.detect());
    EXPECT_FALSE(reader.attach()) << "no block, nothing to open";
    sim::ProjectCars2Writer game;
    EXPECT_TRUE(reader.detect());
    EXPECT_TRUE(reader.attach());
    EXPECT_FALSE(reader.attach()) << "already attached";
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "Memory mapped successfully\n");
    reader.close();
    EXPECT_FALSE(reader.attached());
}

TEST_F(ProjectCars2Test, OnlyThePlayingStateGivesSamples) {
    sim::ProjectCars2Writer game;
    auto reader = test::shippedReader(kProjectCars2);
    testing::internal::CaptureStdout();
    ASSERT_TRUE(reader->attach());
    testing::internal::GetCapturedStdout();
    for (std::int32_t state : {0, 1, 3, 4, 5, -1, 2}) {
        game.publish(pcars2Sample(state));
        GameDataRecord record = test::markedRecord();
        const GameDataRecord before = record;
        const bool playing = state == 2;
        EXPECT_EQ(reader->read(record), playing) << "state " << state;
        if (!playing) {
            EXPECT_TRUE(test::sameRecord(record, before)) << "state " << state;
            continue;
        }
        test::expectSlots(record, {
                                      {kYawPosition, -28.64788975654116},
                                      {kRollPosition, -11.459155902616464},
                                      {kPitchPosition, 5.729577951308232},
                                      {kLateralSpeed, 1.5},
                                      {kLongituSpeed, 33.0},
                                      {kVerticaSpeed, -0.25},
                                      {kYawSpeed, 22.918311805232928},
                                      {kRollSpeed, 34.37746770784939},
                                      {kPitchSpeed, 17.188733853924695},
                                      {kLateralAccel, 2.5},
                                      {kLongituAccel, -4.0},
                                      {kVerticaAccel, 0.75},
                                  });
        test::expectGravity(record, -0.2, 0.1);
        test::expectAdded(record);
    }
}

// The game's own block ends 124 bytes before the reader's view does, inside
// the same page; Windows maps that, so Linux must too. A block short by a
// whole page is refused.
TEST_F(ProjectCars2Test, BlockIsJudgedByWholePages) {
    const std::size_t page = platform::SharedMemory::pageSize();
    struct Case {
        std::size_t size;
        bool attaches;
    };
    for (Case c : {Case{20576, true}, Case{(20700 / page) * page, false}}) {
        SCOPED_TRACE(c.size);
        sim::ProjectCars2Writer game(c.size);
        ASSERT_TRUE(game.ok());
        game.publish(pcars2Sample(2));
        ProjectCars2Reader reader;
        testing::internal::CaptureStdout();
        EXPECT_EQ(reader.attach(), c.attaches);
        const std::string printed = testing::internal::GetCapturedStdout();
        GameDataRecord record = test::markedRecord();
        EXPECT_EQ(reader.read(record), c.attaches);
        if (c.attaches) {
            EXPECT_NEAR(record.slots[kVerticaAccel], 0.75, 1e-6);
        } else {
            EXPECT_NE(printed.find("Failed to map buffer"), std::string::npos) << printed;
        }
        reader.close();
        game.close();
    }
}

// A POSIX block whose name is gone cannot be opened again. On Windows the
// reader's own handle keeps the name alive, so the per-read check cannot see
// a game that has quit there; only the Linux build can show it.
TEST(SharedMemoryBlocks, VanishedBlockStopsRaceRoomAndProjectCars2) {
#if defined(_WIN32)
    GTEST_SKIP() << "the reader's own handle keeps a Windows mapping's name alive";
#else
    test::removeGameNames();
    test::ChildGame process("RRRE64.exe");
    ASSERT_TRUE(process.started());
    auto raceroom = std::make_unique<sim::RaceRoomWriter>();
    raceroom->publish(r3eSample());
    auto pcars = std::make_unique<sim::ProjectCars2Writer>();
    pcars->publish(pcars2Sample(2));
    RaceRoomReader r3eReader;
    ProjectCars2Reader pcarsReader;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(r3eReader.attach());
    ASSERT_TRUE(pcarsReader.attach());
    testing::internal::GetCapturedStdout();
    GameDataRecord record;
    ASSERT_TRUE(r3eReader.read(record));
    ASSERT_TRUE(pcarsReader.read(record));
    raceroom.reset();
    pcars.reset();
    EXPECT_FALSE(r3eReader.read(record));
    EXPECT_FALSE(pcarsReader.read(record));
#endif
}

}  // namespace
}  // namespace rez
