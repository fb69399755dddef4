#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#if !defined(_WIN32)
#include <unistd.h>
#endif

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

// Only a timer that woke too early for the spin cap may end a pass short.
TEST(TickPacing, PreciseWaitEndsNoEarlierThanItsTarget) {
    SampleClock clock;
    clock.restart();
    for (int i = 0; i < 20; ++i) {
        waitPrecise(clock);
        if (clock.preciseWait->lastSpinUs == PreciseWait::kSpinCapUs) continue;
        EXPECT_GE(clock.lastTickUs, clock.lastTargetUs) << i;
        EXPECT_GE(clock.intervalMs() * 1000.0, clock.lastTargetUs) << i;
    }
}

// Signals during a transport's wait run the work at once, mid-pass, but
// never end the pass before its target; work that asks to stop ends the wait
// without a restart.
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
        ASSERT_TRUE(waitPass(clock, wake, [&] { return ++runs, true; }));
        EXPECT_GE(clock.intervalMs() * 1000.0, clock.lastTargetUs) << "pass " << i;
    }
    flooding = false;
    signaller.join();
    EXPECT_GT(runs, kPasses + 10) << "once at the start of each wait, and again for signals during it";

    const std::int64_t start = clock.start;
    int stopRuns = 0;
    EXPECT_FALSE(waitPass(clock, wake, [&] { return ++stopRuns, false; }));
    EXPECT_EQ(stopRuns, 1);
    EXPECT_EQ(clock.start, start);
}

#if !defined(_WIN32)
// Data on the watched port is taken during the pass, not at its end;
// a port that stays "readable" without giving anything (the far end gone) is
// looked at once and then left alone, rather than waking the wait for the
// rest of the pass.
TEST(TickPacing, APassReadsTheWatchedPortWhenDataArrives) {
    struct Watch final : WakeWork {
        int fd = -1;
        int reads = 0;
        bool run() override { return true; }
        std::intptr_t watched() override { return fd; }
        bool readable() override {
            ++reads;
            char byte = 0;
            return ::read(fd, &byte, 1) == 1;
        }
    };
    for (bool farEndGone : {false, true}) {
        SCOPED_TRACE(farEndGone ? "far end gone" : "one byte mid-pass");
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        Watch watch;
        watch.fd = fds[0];
        platform::WakeSignal wake;
        SampleClock clock;
        std::thread writer([&] {
            if (farEndGone) {
                ::close(fds[1]);
            } else {
                const char byte = 'x';
                EXPECT_EQ(::write(fds[1], &byte, 1), 1);
            }
        });
        writer.join();
        clock.restart();
        ASSERT_TRUE(waitPass(clock, wake, watch));
        EXPECT_EQ(watch.reads, 1);
        ::close(fds[0]);
        if (!farEndGone) ::close(fds[1]);
    }
}
#endif

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
