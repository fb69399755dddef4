#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "core/bytes.h"
#include "core/sample_clock.h"
#include "platform/clock.h"

namespace rez {
namespace {

TEST(SampleClock, RestartMeasuresTheIntervalAndKeepsARunningMean) {
    SampleClock clock;
    EXPECT_EQ(clock.start, 0) << "the first restart measures from counter value 0";
    clock.restart();
    EXPECT_GT(clock.interval.load(), 0);
    EXPECT_DOUBLE_EQ(clock.meanInterval, static_cast<double>(clock.interval.load()) / 200.0);
    platform::sleepMs(3);
    double before = clock.meanInterval;
    clock.restart();
    EXPECT_GE(clock.intervalMs(), 2.9);
    EXPECT_DOUBLE_EQ(clock.meanInterval, before + (static_cast<double>(clock.interval.load()) - before) / 200.0);
}

TEST(TickPacing, PreciseWaitEndsAfter2000Microseconds) {
    SampleClock clock;
    clock.restart();
    for (int i = 0; i < 20; ++i) {
        waitPrecise(clock);
        EXPECT_GT(clock.lastTickUs, 2000.0);
        EXPECT_GE(clock.intervalMs(), 2.0);
    }
}

// Signals during the wait run the work at once, mid-pass, but never end the
// pass early; work that asks to stop ends the wait without a restart.
TEST(TickPacing, WakesRunTheWorkMidPassWithoutShorteningIt) {
    platform::WakeSignal wake;
    std::atomic<bool> flooding{true};
    std::thread signaller([&] {
        while (flooding.load()) {
            wake.signal();
            platform::sleepNs(100'000);
        }
    });
    SampleClock clock;
    clock.restart();
    constexpr int kPasses = 50;
    int runs = 0;
    for (int i = 0; i < kPasses; ++i) {
        ASSERT_TRUE(waitPrecise(clock, wake, [&] { return ++runs, true; }));
        EXPECT_GE(clock.intervalMs(), 2.0) << "pass " << i;
    }
    flooding = false;
    signaller.join();
    EXPECT_GT(runs, kPasses + 10) << "once at the start of each wait, and again for signals during it";

    const std::int64_t start = clock.start;
    int stopRuns = 0;
    EXPECT_FALSE(waitPrecise(clock, wake, [&] { return ++stopRuns, false; }));
    EXPECT_EQ(stopRuns, 1);
    EXPECT_EQ(clock.start, start);
}

// The coarse wait sleeps 2 ms, 1 ms or not at all depending on how far the
// pass is (plus the carried error), and carries the new error forward.
TEST(TickPacing, CoarseWaitChoosesItsSleepFromTheCarry) {
    struct Case { double carry; double minSleepMs; };
    for (Case c : {Case{-10'000.0, 2.0}, Case{700.0, 1.0}, Case{5'000.0, 0.0}}) {
        SampleClock clock;
        clock.restart();
        clock.carry = c.carry;
        std::int64_t before = platform::counterNow();
        waitCoarse(clock);
        double tookMs = static_cast<double>(platform::counterNow() - before) / clock.ticksPerMs;
        EXPECT_GE(tookMs, c.minSleepMs * 0.95) << "carry " << c.carry;
        EXPECT_NEAR(clock.carry, c.carry + tookMs * 1000.0 - 2000.0, 200.0) << "carry " << c.carry;
        EXPECT_EQ(clock.lastTickUs, std::trunc(clock.lastTickUs));
    }
}

TEST(Bytes, EndianHelpers) {
    unsigned char b[8] = {};
    store_be<std::uint32_t>(b, 0x00000102u);
    EXPECT_EQ(b[0], 0);
    EXPECT_EQ(b[2], 1);
    EXPECT_EQ(b[3], 2);
    EXPECT_EQ(load_be<std::uint32_t>(b), 0x102u);
    store_le<std::uint16_t>(b, 0xBB3D);
    EXPECT_EQ(b[0], 0x3D);
    EXPECT_EQ(load_le<std::uint16_t>(b), 0xBB3D);
    EXPECT_EQ(load_le_checked<std::int32_t>(b, 8, 5, -7), -7) << "would read past the end";
    EXPECT_EQ(load_le_checked<std::int32_t>(b, 8, 9, -7), -7);
    EXPECT_EQ(load_le_checked<std::uint16_t>(b, 8, 0, 0), 0xBB3D);
}

}  // namespace
}  // namespace rez
