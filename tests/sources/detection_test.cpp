// Detection: the process, mapping and port tests, and the order in which the
// game table is walked when several games are present.
#include <gtest/gtest.h>

#include <cstring>

#include "core/bytes.h"
#include "platform/shared_memory.h"
#include "platform/udp_socket.h"
#include "sources/detection_tests.h"
#include "sources/game_source_set.h"
#include "tests/support/child_game.h"
#include "tests/support/test_reader.h"
#include "sim/udp_sender.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

// A game's shared memory as the game would publish it.
platform::SharedMemory publishMapping(const std::string& name, std::size_t size) {
    platform::SharedMemory::removeName(name);
    platform::SharedMemory mapping;
    EXPECT_TRUE(mapping.createOrOpen(name, size));
    EXPECT_TRUE(mapping.map(platform::MapAccess::ReadWrite, size));
    return mapping;
}

TEST(ProcessTest, MatchesExactNameOnly) {
    test::ChildGame game("DCS.exe");
    ASSERT_TRUE(game.started());
    EXPECT_TRUE(processTest({"DCS.exe"}));
    EXPECT_TRUE(processTest({"DCS64.exe", "DCS.exe"}));
    EXPECT_FALSE(processTest({"dcs.exe"}));
    EXPECT_FALSE(processTest({"DCS.ex"}));
    EXPECT_FALSE(processTest({"DCS.exe2"}));
}

TEST(ProcessTest, CaseDifferentProcessIsNotTheGame) {
    test::ChildGame game("rrre64.exe");
    ASSERT_TRUE(game.started());
    EXPECT_FALSE(processTest({"RRRE64.exe", "RRRE.exe"}));
}

TEST(MappingTest, ExistingMappingNeedsTheGamesBlock) {
    const std::string name = "rez_test_existing_mapping";
    platform::SharedMemory::removeName(name);
    EXPECT_FALSE(existingMappingTest(name));
    {
        auto mapping = publishMapping(name, 64);
        EXPECT_TRUE(existingMappingTest(name));
        EXPECT_TRUE(existingMappingTest(name)) << "the test must release what it opened";
    }
    EXPECT_FALSE(existingMappingTest(name)) << "the block is gone once the game closes it";
}

TEST(MappingTest, CreateOrOpenChecksTheStatusAndLeavesNothingBehind) {
    const std::string name = "Local\\acpmf_graphics";
    auto statusTwo = [](const unsigned char* view, std::size_t size) {
        return load_le_checked<std::int32_t>(view, size, 4) == 2;
    };
    platform::SharedMemory::removeName(name);
    EXPECT_FALSE(createOrOpenMappingTest(name, 1320, statusTwo)) << "a block made by the test reads 0";
    EXPECT_FALSE(existingMappingTest(name)) << "a miss must not leave the block behind";

    auto mapping = publishMapping(name, 1320);
    struct Case { std::int32_t status; bool found; };
    for (Case c : {Case{0, false}, Case{1, false}, Case{2, true}, Case{3, false}}) {
        store_le<std::int32_t>(mapping.data() + 4, c.status);
        EXPECT_EQ(createOrOpenMappingTest(name, 1320, statusTwo), c.found) << "status " << c.status;
    }
    EXPECT_TRUE(existingMappingTest(name)) << "the game's own block stays";
}

TEST(UdpProbe, FindsAStreamAndNothingElse) {
    const std::uint16_t port = 47213;
    EXPECT_EQ(probeUdpPort(port), 0) << "nothing sent";
    {
        sim::UdpSender sender(port, {1, 2, 3});
        int found = 0;
        for (int i = 0; i < 5 && !found; ++i) found = probeUdpPort(port);
        EXPECT_EQ(found, 1);
    }
}

TEST(UdpProbe, PortHeldByAnotherProgramIsNotFound) {
    const std::uint16_t port = 47214;
    platform::netStartup();
    platform::UdpSocket holder;
    ASSERT_TRUE(holder.open());
    ASSERT_TRUE(holder.bindAny(port));
    sim::UdpSender sender(port, {9});
    testing::internal::CaptureStdout();
    int found = probeUdpPort(port);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(found, 0);
    EXPECT_EQ(printed.rfind("bind socket failed with error: ", 0), 0u) << printed;
    holder.close();
    platform::netCleanup();
}

TEST(GameTable, NamesAndWalkOrder) {
    const char* expected[kGameCount] = {"Xplane", "DCS", "MSFS2020", "AssettoCorsa/Comp.", "RaceRoom", "DirtRally2",
                                        "Condor2", "F1-2023-24", "NoLimits2", "PCAR2/Automobilista2", "iRacing",
                                        "WRC23", "BeamNG", "LFS", "rFactor2", "MSFS2024", "AssettoCorsaEvo", "ETSM2/AMT"};
    for (int id = 0; id < kGameCount; ++id) {
        EXPECT_STREQ(gameName(id), expected[id]);
        EXPECT_LE(std::strlen(gameName(id)), 20u);
    }
    EXPECT_STREQ(gameName(-1), "No Game online");
    EXPECT_STREQ(gameName(18), "No Game online");

    // With every game present, the walk order decides what is reported.
    GameSourceSet set;
    for (int id = 0; id < kGameCount; ++id) set.gamePresent[static_cast<std::size_t>(id)] = 1;
    for (int expectedId : kGameWalkOrder) {
        EXPECT_EQ(set.presentGame(), expectedId);
        set.gamePresent[static_cast<std::size_t>(expectedId)] = 0;
    }
    EXPECT_EQ(set.presentGame(), -1);
}

// Every game replaced by a scripted reader: the pass stops at the first
// present game in walk order and clears the flags of those it passed.
TEST(DetectGame, FirstPresentGameInWalkOrderWins) {
    struct Case { std::vector<int> present; int expected; };
    const Case cases[] = {
        {{}, -1}, {{17}, 17}, {{3, 2}, 2}, {{15, 3}, 15}, {{16, 4}, 16}, {{14, 13, 12}, 12}, {{0, 1}, 0}, {{5, 16}, 16},
    };
    for (const auto& c : cases) {
        GameSourceSet set;
        set.detectPauseMs = 0;
        std::vector<test::TestReader*> readers;
        for (int id = 0; id < kGameCount; ++id) {
            auto reader = std::make_unique<test::TestReader>();
            reader->present = std::find(c.present.begin(), c.present.end(), id) != c.present.end();
            readers.push_back(reader.get());
            set.gamePresent[static_cast<std::size_t>(id)] = 1;  // stale flags from an earlier pass
            set.setReader(id, std::move(reader));
        }
        EXPECT_EQ(set.detectGame(), c.expected >= 0 ? 1 : 0);
        EXPECT_EQ(set.presentGame(), c.expected);
        // A flag left from an earlier pass (a game whose attach was refused)
        // would name that game once the one found now closes.
        int flagged = 0;
        for (const auto& flag : set.gamePresent) flagged += flag.load() != 0 ? 1 : 0;
        EXPECT_EQ(flagged, c.expected >= 0 ? 1 : 0);
        // One pause between two tests, none after the last.
        const auto tested = c.expected >= 0 ? std::find(std::begin(kGameWalkOrder), std::end(kGameWalkOrder), c.expected) -
                                                  std::begin(kGameWalkOrder) + 1
                                            : kGameCount;
        EXPECT_EQ(set.detectPauses.load(), tested - 1);
        if (c.expected < 0) {
            for (int id = 0; id < kGameCount; ++id) EXPECT_EQ(set.gamePresent[static_cast<std::size_t>(id)], 0);
        }
        // Games after the winner were not tested in this pass.
        bool passedWinner = false;
        for (int id : kGameWalkOrder) {
            EXPECT_EQ(readers[static_cast<std::size_t>(id)]->detects.load(), passedWinner ? 0 : 1) << "game " << id;
            if (id == c.expected) passedWinner = true;
        }
    }
}

TEST(DetectGame, DispatchAndCloseFollowThePresentGame) {
    GameSourceSet set;
    set.detectPauseMs = 0;
    auto reader = std::make_unique<test::TestReader>();
    auto* r = reader.get();
    r->setSample([](GameDataRecord& record, long i) {
        record.slots[kSpeed] = static_cast<double>(i);
        return true;
    });
    for (int id = 0; id < kGameCount; ++id) set.setReader(id, std::make_unique<test::AbsentReader>());
    set.setReader(kRaceRoom, std::move(reader));

    EXPECT_EQ(set.openGameSource(), 0) << "nothing detected yet";
    EXPECT_EQ(set.readGameSample(), 0);
    EXPECT_EQ(set.closeGameSource(), 0);
    ASSERT_EQ(set.detectGame(), 1);
    EXPECT_EQ(set.openGameSource(), 1);
    EXPECT_EQ(set.readGameSample(), 1);
    EXPECT_EQ(set.readGameSample(), 1);
    EXPECT_EQ(set.record.slots[kSpeed], 1.0);
    EXPECT_EQ(set.closeGameSource(), 1);
    EXPECT_EQ(r->closes.load(), 1);
    EXPECT_EQ(set.presentGame(), -1);
}

// The shipped table: real processes, mappings and datagrams.
class ShippedDetection : public testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"$R3E", "$pcars2$", "Local\\IRSDKMemMapFileName", "Local\\Rovandelix_rf2_data",
                                 "Local\\acpmf_graphics", "Local\\acpmf_physics", "SCSTelemetryExample"})
            platform::SharedMemory::removeName(name);
        set.detectPauseMs = 0;
    }
    GameSourceSet set;
};

TEST_F(ShippedDetection, EarlierGameInTheTableWins) {
    test::ChildGame raceroom("RRRE64.exe");
    ASSERT_TRUE(raceroom.started());
    auto r3e = publishMapping("$R3E", 4096);
    auto pcars = publishMapping("$pcars2$", 4096);

    testing::internal::CaptureStdout();
    EXPECT_EQ(set.detectGame(), 1);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(set.presentGame(), kRaceRoom);
    EXPECT_NE(printed.find("Found RRRE.exe, mapping shared memory...\n"), std::string::npos);

    r3e.close();
    EXPECT_EQ(set.detectGame(), 1);
    EXPECT_EQ(set.presentGame(), kProjectCars2) << "without its block RaceRoom is not online";
}

TEST_F(ShippedDetection, ProcessAndPortMustBothBeThere) {
    sim::UdpSender dcsStream(4124, {0x44});
    ASSERT_TRUE(dcsStream.waitUntilSending());
    EXPECT_EQ(set.detectGame(), 0) << "a stream without the process is not DCS";
    test::ChildGame dcs("DCS.exe");
    ASSERT_TRUE(dcs.started());
    int found = 0;
    for (int i = 0; i < 3 && !found; ++i) found = set.detectGame();
    EXPECT_EQ(found, 1);
    EXPECT_EQ(set.presentGame(), kDcs);
}

TEST_F(ShippedDetection, XplaneStreamBeatsDcs) {
    test::ChildGame dcs("DCS.exe");
    ASSERT_TRUE(dcs.started());
    sim::UdpSender dcsStream(4124, {0x44});
    sim::UdpSender xplaneStream(4321, {0x58});
    ASSERT_TRUE(dcsStream.waitUntilSending());
    ASSERT_TRUE(xplaneStream.waitUntilSending());
    // A probe only sees a datagram sent during its 20 ms wait; on a loaded
    // machine the X-Plane sender can miss one pass, and DCS is then rightly
    // found. X-Plane must win a pass where both streams were heard.
    bool xplaneWon = false;
    for (int i = 0; i < 10 && !xplaneWon; ++i)
        xplaneWon = set.detectGame() == 1 && set.presentGame() == kXplane;
    EXPECT_TRUE(xplaneWon);
}

}  // namespace
}  // namespace rez
