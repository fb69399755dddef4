// Getters that read a single value while the game-source thread writes it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/relaxed.h"
#include "engine/gamesource_engine.h"
#include "rezadedudid.h"

namespace rez {
namespace {

// The readers stamp timeFrame with relaxed stores on every sample; the getter
// must read it atomically too (a thread sanitizer build reports the race).
TEST(HostGetters, GameTimeFrameIsReadWhileTheReaderWritesIt) {
    double& timeFrame = theEngine().sources.record.timeFrame;
    const double saved = relaxedLoad(timeFrame);
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        for (long i = 0; !stop.load(std::memory_order_relaxed); ++i) relaxedStore(timeFrame, (i % 2 == 0) ? 2.0 : 2.5);
    });
    // Reads until a good many of them fell while the writer ran.
    int seen = 0;
    double stray = saved;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (seen < 10000 && stray == saved && std::chrono::steady_clock::now() < deadline) {
        const double value = getGameTimeFrame();
        if (value == 2.0 || value == 2.5)
            ++seen;
        else
            stray = value;
    }
    stop = true;
    reader.join();
    relaxedStore(timeFrame, saved);
    EXPECT_EQ(stray, saved) << "only whole written values";
    EXPECT_EQ(seen, 10000);
}

}  // namespace
}  // namespace rez
