// The shipped UDP readers on their games' ports (loopback): how many
// datagrams a read takes, the clock stamp, the post-step mode of each game,
// and what is left queued for the next tick.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "sources/game_table.h"
#include "sources/udp/udp_game_reader.h"
#include "tests/shm_sources/shm_test_util.h"
#include "sim/udp_game_senders.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

using test::kG;
using test::kUntouched;
using test::markedRecord;
using sim::Motion;

const int kUdpGames[] = {kXplane, kDcs, kDirtRally2, kCondor2, kF1, kWrc23, kBeamNg, kLfs};

// The shipped reader of a game, attached to its port.
std::unique_ptr<GameReader> attachedReader(int id) {
    auto reader = makeGameReader(id);
    EXPECT_TRUE(reader->attach()) << gameName(id);
    return reader;
}

Motion sampleMotion(double yaw) {
    Motion m;
    m.yaw = yaw;
    m.pitch = 4.0;
    m.roll = -7.0;
    m.lateralAccel = 1.25;
    m.longitudinalAccel = -2.5;
    m.verticalAccel = 0.75;
    m.onGround = true;
    return m;
}

TEST(UdpReaders, DatagramsPerReadAndTheGravityModeOfEachGame) {
    struct Case {
        int id;
        bool takesAllQueued;
        double longitudinalSign;
    };
    const Case cases[] = {
        {kXplane, false, 1}, {kDcs, false, 1},   {kDirtRally2, false, -1}, {kCondor2, false, 1},
        {kF1, true, 1},      {kWrc23, false, 1}, {kBeamNg, true, 1},       {kLfs, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(gameName(c.id));
        auto reader = attachedReader(c.id);
        sim::GameSender game(c.id);
        for (double yaw : {10.0, 20.0, 30.0}) ASSERT_TRUE(game.send(sampleMotion(yaw)));

        GameDataRecord r = markedRecord();
        ASSERT_TRUE(reader->read(r));
        EXPECT_NEAR(r.slots[kYawPosition], c.takesAllQueued ? 30.0 : 10.0, 1e-3);
        EXPECT_NEAR(r.slots[kPitchPosition], 4.0, 1e-3);
        EXPECT_NEAR(r.slots[kRollPosition], -7.0, 1e-3);
        const double phi = -7.0 * std::numbers::pi / 180, theta = 4.0 * std::numbers::pi / 180;
        const int given = c.id == kF1 || c.id == kBeamNg ? 1 : 0;  // published without gravity, kept as with it
        test::expectSlots(r, {{kLateralAccel + given, 1.25}, {kLongituAccel + given, -2.5}, {kVerticaAccel + given, 0.75},
                              {kLongituGravi, c.longitudinalSign * kG * std::sin(theta)},
                              {kLateralGravi, kG * std::cos(theta) * std::sin(phi)},
                              {kVerticaGravi, kG * std::cos(theta) * std::cos(phi)}},
                          2e-3);
        // Whichever half the game sent, the other half completes the triple.
        for (auto [accel, withGravity, gravity] : {std::array{kLateralAccel, kLateralAccelG, kLateralGravi},
                                                   std::array{kLongituAccel, kLongituAccelG, kLongituGravi},
                                                   std::array{kVerticaAccel, kVerticaAccelG, kVerticaGravi}})
            EXPECT_NEAR(r.slots[withGravity], r.slots[accel] + r.slots[gravity], 1e-12);
        EXPECT_EQ(reader->groundState.load(), c.id == kXplane ? 1 : 0) << "only X-Plane knows the ground";
        if (!c.takesAllQueued) {
            ASSERT_TRUE(reader->read(r));
            EXPECT_NEAR(r.slots[kYawPosition], 20.0, 1e-3) << "the next tick takes the next datagram";
        }
        reader->close();
    }
}

TEST(UdpReaders, NothingQueuedOrATooShortFirstDatagramIsNoSample) {
    for (int id : kUdpGames) {
        SCOPED_TRACE(gameName(id));
        // These three stamp the clock on every call, sample or not.
        const bool stampsEveryCall = id == kF1 || id == kBeamNg || id == kLfs;
        const std::size_t tooShort = id == kXplane || id == kCondor2 ? 41 : 1;
        auto reader = attachedReader(id);
        sim::GameSender game(id);
        GameDataRecord r = markedRecord();
        r.timeFrame = -1;
        EXPECT_FALSE(reader->read(r));
        EXPECT_EQ(r.timeFrame >= 0, stampsEveryCall);
        ASSERT_TRUE(game.sendBytes(std::vector<unsigned char>(tooShort, 'L')));
        ASSERT_TRUE(game.send(sampleMotion(10)));
        EXPECT_FALSE(reader->read(r));
        for (int slot = 0; slot < kGameSlotCount; ++slot) EXPECT_EQ(r.slots[slot], kUntouched) << slot;
        EXPECT_TRUE(reader->read(r)) << "the game's datagram is still queued";
    }
}

TEST(UdpReaders, BeamNgSkipsAForeignDatagramAndLfsStopsAtAShortOne) {
    struct Case {
        int id;
        std::vector<unsigned char> intruder;
        bool secondReadFindsTheLast;
    };
    const Case cases[] = {
        {kBeamNg, std::vector<unsigned char>(88, 'X'), false},
        {kLfs, std::vector<unsigned char>(100, 'L'), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(gameName(c.id));
        auto reader = attachedReader(c.id);
        sim::GameSender game(c.id);
        ASSERT_TRUE(game.send(sampleMotion(10)));
        ASSERT_TRUE(game.sendBytes(c.intruder));
        ASSERT_TRUE(game.send(sampleMotion(30)));
        GameDataRecord r;
        ASSERT_TRUE(reader->read(r));
        EXPECT_NEAR(r.slots[kYawPosition], c.secondReadFindsTheLast ? 10.0 : 30.0, 1e-3);
        EXPECT_EQ(reader->read(r), c.secondReadFindsTheLast);
        EXPECT_NEAR(r.slots[kYawPosition], 30.0, 1e-3);
    }
}

// A flood must not hold the tick: one read takes a bounded number of
// datagrams and leaves the rest, in order, for the next ticks.
TEST(UdpReaders, AFloodIsTakenInBoundedBites) {
    auto reader = attachedReader(kBeamNg);
    sim::GameSender game(kBeamNg);
    const int sent = 2 * kMostDatagramsPerRead;
    for (int i = 0; i < sent; ++i) ASSERT_TRUE(game.send(sampleMotion(i)));
    GameDataRecord r;
    ASSERT_TRUE(reader->read(r));
    EXPECT_LE(r.slots[kYawPosition], kMostDatagramsPerRead - 1 + 1e-3);
    int reads = 1;
    while (reader->read(r)) ++reads;
    EXPECT_GE(reads, 2);
    EXPECT_NEAR(r.slots[kYawPosition], sent - 1, 1e-3) << "nothing was lost on the way";
}

}  // namespace
}  // namespace rez
