// The host's getter reads the sample interval from its own thread while the
// game-source thread stores it; the race detector build checks that both
// sides use atomic access.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

#include "core/relaxed.h"
#include "platform/clock.h"
#include "sources/game_table.h"
#include "tests/shm_sources/shm_test_util.h"
#include "sim/game_writers.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

class IntervalRaceTest : public test::ShmReaderTest {};

TEST_F(IntervalRaceTest, IntervalIsStoredWhileAGetterReadsIt) {
    sim::TruckSimWriter game;
    ASSERT_TRUE(game.ok());
    game.publish(sim::TruckSample{});
    auto reader = test::shippedReader(kTruckSim);
    ASSERT_TRUE(reader->attach());
    GameDataRecord record;
    // A few rounds, since the race detector can miss a pair of accesses now
    // and then.
    for (int round = 0; round < 4; ++round) {
        std::atomic<int> samples{0};
        std::atomic<bool> stop{false};
        std::thread gameSource([&] {
            while (!stop.load())
                if (reader->read(record)) samples.fetch_add(1, std::memory_order_relaxed);
        });
        // Read as the host's getter does, for as long as samples keep coming in.
        const std::int64_t deadline = platform::counterNow() + 20 * platform::counterFrequency();
        for (int loads = 0;
             (loads < 100000 || samples.load(std::memory_order_relaxed) < 2000) && platform::counterNow() < deadline; ++loads)
            relaxedLoad(record.timeFrame);
        stop.store(true);
        gameSource.join();
        EXPECT_GE(samples.load(), 2000) << "every read while the running byte is set is a sample";
    }
}

}  // namespace
}  // namespace rez
