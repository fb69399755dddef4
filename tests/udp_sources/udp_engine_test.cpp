// The UDP games through the shipped game table and the engine's thread: each
// found by its port probe (and its process where the game needs one),
// attached, sampled, and let go after more than 1000 empty ticks once it
// stops sending.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

#include "engine/gamesource_engine.h"
#include "platform/clock.h"
#include "sources/game_source_set.h"
#include "tests/support/child_game.h"
#include "tests/support/test_reader.h"
#include "sim/udp_game_senders.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

const int kUdpGames[] = {kXplane, kDcs, kDirtRally2, kCondor2, kF1, kWrc23, kBeamNg, kLfs};

// Other games get absent readers: their tests would only slow the pass down.
void keepOnlyUdpGames(GameSourceSet& set) {
    set.detectPauseMs = 0;
    for (int id = 0; id < kGameCount; ++id)
        if (std::find(std::begin(kUdpGames), std::end(kUdpGames), id) == std::end(kUdpGames))
            set.setReader(id, std::make_unique<test::AbsentReader>());
}

double msSince(std::int64_t from) {
    return static_cast<double>(platform::counterNow() - from) * 1000.0 / static_cast<double>(platform::counterFrequency());
}

// Polls until the condition holds or `ms` of wall time have passed.
template <class F>
bool eventually(F condition, int ms) {
    const std::int64_t start = platform::counterNow();
    while (msSince(start) < ms) {
        if (condition()) return true;
        platform::sleepMs(5);
    }
    return condition();
}

TEST(UdpGamesThroughTheEngine, FoundSampledAndDroppedOnceTheyStop) {
    struct Case {
        int id;
        const char* process;  // nullptr: the stream alone is the test
    };
    const Case cases[] = {
        {kXplane, nullptr}, {kDcs, "DCS64.exe"}, {kDirtRally2, nullptr}, {kCondor2, nullptr},
        {kF1, "F1_23.exe"}, {kWrc23, nullptr},   {kBeamNg, nullptr},     {kLfs, "LFS.exe"},
    };
    sim::Motion motion;
    motion.yaw = 33;
    motion.pitch = 4;
    motion.roll = -7;
    motion.onGround = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(gameName(c.id));
        std::unique_ptr<test::ChildGame> process;
        if (c.process != nullptr) {
            process = std::make_unique<test::ChildGame>(c.process);
            ASSERT_TRUE(process->started());
        }
        sim::GameStream stream(c.id, motion);
        ASSERT_TRUE(stream.waitUntilSending());

        auto engine = std::make_unique<GamesourceEngine>();
        keepOnlyUdpGames(engine->sources);
        engine->startThread();
        engine->setMotionSystemReady(1);
        ASSERT_TRUE(eventually([&] { return engine->gameConnected.load(); }, 20000));
        EXPECT_EQ(engine->sources.presentGame(), c.id);
        const bool sampled = eventually(
            [&] {
                for (const AccelerationSnapshot& s : engine->takeAccelerationHistory())
                    if (std::fabs(s.values[kYawPosition] - 33) < 1e-3 && std::fabs(s.values[kPitchPosition] - 4) < 1e-3 &&
                        std::fabs(s.values[kRollPosition] + 7) < 1e-3)
                        return true;
                return false;
            },
            10000);
        EXPECT_TRUE(sampled);
        if (c.id == kXplane) {
            EXPECT_TRUE(eventually([&] { return engine->activeGroundState.load() == 1; }, 10000)) << "gear on the ground";
        }

        stream.stop();
        const std::int64_t stopped = platform::counterNow();
        ASSERT_TRUE(eventually([&] { return !engine->gameConnected.load(); }, 30000));
        EXPECT_GT(msSince(stopped), 1500.0) << "more than 1000 misses at 2 ms each";
        engine->stopThread();
        EXPECT_EQ(engine->sources.presentGame(), -1);
    }
}

}  // namespace
}  // namespace rez
