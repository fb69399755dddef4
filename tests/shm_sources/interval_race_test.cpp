// The host's getter reads the sample interval from its own thread while the
// game-source thread stores it; the race detector build checks that both
// sides use atomic access.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/relaxed.h"
#include "sources/game_table.h"
#include "tests/shm_sources/shm_test_util.h"
#include "tests/support/game_writers.h"

namespace rez {
namespace {

class IntervalRaceTest : public test::ShmReaderTest {};

TEST_F(IntervalRaceTest, IntervalIsStoredWhileAGetterReadsIt) {
    test::TruckSimWriter game;
    ASSERT_TRUE(game.ok());
    game.publish(test::TruckSample{});
    auto reader = test::shippedReader(kTruckSim);
    ASSERT_TRUE(reader->attach());
    GameDataRecord record;
    std::atomic<bool> done{false};
    int samples = 0;
    std::thread gameSource([&] {
        for (int i = 0; i < 2000; ++i) samples += reader->read(record) ? 1 : 0;
        done.store(true);
    });
    while (!done.load()) relaxedLoad(record.timeFrame);  // as getGameTimeFrame does
    gameSource.join();
    EXPECT_EQ(samples, 2000) << "every read while the running byte is set is a sample";
}

}  // namespace
}  // namespace rez
