// The shared-memory games through the shipped game table and the engine's
// game-source thread: which game wins when several publish, and a game that
// drives the engine from detection to being dropped.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/gamesource_engine.h"
#include "platform/clock.h"
#include "sources/game_source_set.h"
#include "tests/shm_sources/shm_test_util.h"
#include "tests/support/child_game.h"
#include "sim/game_writers.h"
#include "tests/support/test_reader.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

const int kSharedMemoryGames[] = {kAssettoCorsa, kAssettoCorsaEvo, kRaceRoom, kProjectCars2, kIRacing, kRFactor2, kTruckSim};

bool isSharedMemoryGame(int id) { return std::find(std::begin(kSharedMemoryGames), std::end(kSharedMemoryGames), id) != std::end(kSharedMemoryGames); }

// Keeps the shipped readers of the shared-memory games and puts absent
// readers in place of the others, whose port probes and connections would
// only slow the pass down.
void keepOnlySharedMemoryGames(GameSourceSet& set) {
    set.detectPauseMs = 0;
    for (int id = 0; id < kGameCount; ++id)
        if (!isSharedMemoryGame(id)) set.setReader(id, std::make_unique<test::AbsentReader>());
}

// One running game: its process (where detection asks for one) and its
// writer with a first sample published.
struct RunningGame {
    std::unique_ptr<test::ChildGame> process;
    std::shared_ptr<void> writer;
};

RunningGame startGame(int id) {
    RunningGame g;
    auto withProcess = [&](const char* exe) {
        g.process = std::make_unique<test::ChildGame>(exe);
        EXPECT_TRUE(g.process->started()) << exe;
    };
    switch (id) {
        case kAssettoCorsa: {
            auto w = std::make_shared<sim::AssettoCorsaWriter>();
            w->setStatus(2);
            w->publish(sim::AcPhysics{.packetId = 1});
            g.writer = w;
            break;
        }
        case kAssettoCorsaEvo: {
            withProcess("AssettoCorsaEVO.exe");
            auto w = std::make_shared<sim::AssettoCorsaWriter>(sim::AssettoCorsaWriter::Pages::Evo);
            w->publish(sim::AcPhysics{.packetId = 1});
            g.writer = w;
            break;
        }
        case kRaceRoom: {
            withProcess("RRRE64.exe");
            auto w = std::make_shared<sim::RaceRoomWriter>();
            w->publish(sim::R3eSample{});
            g.writer = w;
            break;
        }
        case kProjectCars2: {
            auto w = std::make_shared<sim::ProjectCars2Writer>();
            w->publish(sim::Pcars2Sample{});
            g.writer = w;
            break;
        }
        case kIRacing: {
            withProcess("iRacingSim64DX11.exe");
            auto w = std::make_shared<sim::IRacingWriter>(std::vector<std::string>{"YawRate"});
            w->setConnected(true);
            w->publish(1, {{"YawRate", 0.5f}});
            g.writer = w;
            break;
        }
        case kRFactor2: {
            withProcess("rFactor2.exe");
            auto w = std::make_shared<sim::RFactor2Writer>();
            w->publish(sim::Rf2Sample{.elapsedTime = 1.0});
            g.writer = w;
            break;
        }
        case kTruckSim: {
            withProcess("eurotrucks2.exe");
            auto w = std::make_shared<sim::TruckSimWriter>();
            w->publish(sim::TruckSample{});
            g.writer = w;
            break;
        }
        default: break;
    }
    return g;
}

class SharedMemoryGames : public test::ShmReaderTest {};

TEST_F(SharedMemoryGames, EarlierGameInTheTableWinsAndGoesOnline) {
    struct Case {
        std::vector<int> running;
        int expected;
    };
    const Case cases[] = {
        {{kProjectCars2, kAssettoCorsa}, kAssettoCorsa},
        {{kRaceRoom, kAssettoCorsaEvo}, kAssettoCorsaEvo},
        {{kProjectCars2, kRaceRoom}, kRaceRoom},
        {{kTruckSim, kProjectCars2}, kProjectCars2},
        {{kRFactor2, kIRacing}, kIRacing},
        {{kTruckSim, kRFactor2}, kRFactor2},
        {{kTruckSim}, kTruckSim},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(gameName(c.expected));
        std::vector<RunningGame> games;
        for (int id : c.running) games.push_back(startGame(id));
        GameSourceSet set;
        keepOnlySharedMemoryGames(set);
        testing::internal::CaptureStdout();
        EXPECT_EQ(set.detectGame(), 1);
        EXPECT_EQ(set.presentGame(), c.expected);
        EXPECT_EQ(set.openGameSource(), 1);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(set.readGameSample(), 1);
        EXPECT_EQ(set.closeGameSource(), 1);
        EXPECT_EQ(set.presentGame(), -1);
        games.clear();
        test::removeGameNames();
    }
}

// Polls until the condition holds or `ms` of wall time have passed.
template <class F>
bool eventually(F condition, int ms) {
    const std::int64_t deadline = platform::counterNow() + platform::counterFrequency() * ms / 1000;
    while (platform::counterNow() < deadline) {
        if (condition()) return true;
        platform::sleepMs(5);
    }
    return condition();
}

TEST_F(SharedMemoryGames, AssettoCorsaDrivesTheEngineUntilItsPagesGo) {
    auto engine = std::make_unique<GamesourceEngine>();
    keepOnlySharedMemoryGames(engine->sources);
    sim::AssettoCorsaWriter game;
    ASSERT_TRUE(game.ok());
    game.setStatus(2);
    sim::AcPhysics sample;
    sample.packetId = 1;
    game.publish(sample);

    engine->startThread();
    engine->setMotionSystemReady(1);
    ASSERT_TRUE(eventually([&] { return engine->gameConnected.load(); }, 20000));
    EXPECT_EQ(engine->sources.presentGame(), kAssettoCorsa);
    EXPECT_STREQ(gameName(engine->sources.presentGame()), "AssettoCorsa/Comp.");

    // The game publishes every 20 ms; the engine ticks every 2 ms and takes
    // each new packet once.
    auto publish = [&](int packet) {
        sample.packetId = packet;
        sample.localVelocity[2] = static_cast<float>(packet);
        sample.accG[0] = 0.5f;
        sample.pitch = 0.1f;
        game.publish(sample);
    };
    // Counter value at which the engine's tick history first shows `packet`.
    auto taken = [&](int packet) -> std::optional<std::int64_t> {
        std::optional<std::int64_t> at;
        eventually(
            [&] {
                for (const AccelerationSnapshot& s : engine->takeAccelerationHistory())
                    if (s.values[kLongituSpeed] == packet) at = platform::counterNow();
                return at.has_value();
            },
            10000);
        return at;
    };
    for (int packet = 2; packet <= 28; ++packet) {
        publish(packet);
        platform::sleepMs(20);
    }
    // The last two packets 60 ms apart, each stamp bracketed by what the test
    // saw: the engine read 29 between publishing it and seeing it taken, and
    // the same for 30.
    const auto published29 = platform::counterNow();
    publish(29);
    const auto taken29 = taken(29);
    ASSERT_TRUE(taken29.has_value());
    platform::sleepMs(60);
    const auto published30 = platform::counterNow();
    publish(30);
    const auto taken30 = taken(30);
    ASSERT_TRUE(taken30.has_value());
    EXPECT_TRUE(engine->gameConnected.load()) << "a game that keeps publishing stays online";
    engine->stopThread();
    const GameDataRecord& record = engine->sources.record;
    EXPECT_EQ(record.slots[kLongituSpeed], 30.0);
    EXPECT_NEAR(record.slots[kLateralAccel], 0.5 * 9.81, 1e-6);
    EXPECT_NEAR(record.slots[kPitchPosition], 5.729577951308232, 1e-5);
    EXPECT_NEAR(record.slots[kLongituGravi], test::kG * std::sin(0.1), 1e-5);
    EXPECT_EQ(record.slots[0], 0.0) << "no source writes slot 0";
    auto ms = [](std::int64_t from, std::int64_t to) {
        return static_cast<double>(to - from) * 1000.0 / static_cast<double>(platform::counterFrequency());
    };
    // At least 60 ms, far above a tick: the interval between two of the
    // game's samples, not between ticks.
    EXPECT_GE(record.timeFrame, ms(*taken29, published30) - 1e-6);
    EXPECT_LE(record.timeFrame, ms(published29, *taken30) + 1e-6);

    // Running again, then the game quits: the packet number stops moving and
    // after more than 1000 ticks without a sample the engine lets the game go.
    // The game publishes nothing new after the restart, so the misses count
    // from the restart on, not from the moment this thread saw it connected.
    const auto restarted = platform::counterNow();
    engine->startThread();
    ASSERT_TRUE(eventually([&] { return engine->gameConnected.load(); }, 20000));
    game.close();
    ASSERT_TRUE(eventually([&] { return !engine->gameConnected.load(); }, 30000));
    const double droppedAfterMs = static_cast<double>(platform::counterNow() - restarted) * 1000.0 /
                                  static_cast<double>(platform::counterFrequency());
    EXPECT_GT(droppedAfterMs, 1500.0) << "1000 misses at 2 ms each";
    platform::sleepMs(100);
    EXPECT_FALSE(engine->gameConnected.load()) << "with its pages gone the game is not found again";
    EXPECT_EQ(engine->sources.presentGame(), -1);
    engine->stopThread();
}

}  // namespace
}  // namespace rez
