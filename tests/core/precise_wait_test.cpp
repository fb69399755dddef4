#include <gtest/gtest.h>

#include <vector>

#include "core/sample_clock.h"
#include "core/wake_margin.h"
#include "platform/clock.h"
#include "platform/precise_wait.h"

namespace rez {
namespace {

// The margin covers all but the latest 0.5 % of the remembered wake-ups,
// plus a guard, within 50 us and 1000 us; old wake-ups leave the window, and
// a few wake-ups too late for any margin are left out.
TEST(WakeMargin, FollowsTheLateWakeUpsOfTheLastThousand) {
    struct Run {
        double latenessUs;
        int count;
    };
    struct Case {
        const char* what;
        std::vector<Run> runs;
        double lowUs;
        double highUs;
    };
    const std::vector<Case> cases = {
        {"nothing seen yet", {}, 1000, 1000},
        {"punctual timer", {{2, 1000}}, 50, 50},
        {"typical Linux wake-ups", {{40, 1000}}, 60, 80},
        {"five outliers are ignored", {{40, 995}, {800, 5}}, 60, 80},
        {"ten are not", {{40, 990}, {300, 10}}, 340, 380},
        {"a millisecond grid", {{640, 1000}}, 700, 800},
        {"a bad spell passes", {{700, 1000}, {40, 1000}}, 60, 80},
        {"early wake-ups count as on time", {{-30, 1000}}, 50, 50},
        {"off the scale", {{1e9, 1000}}, 1000, 1000},
        {"a thread not run now and then", {{40, 985}, {5000, 15}}, 60, 80},
        {"a timer often a millisecond late", {{40, 950}, {5000, 50}}, 1000, 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WakeMargin margin;
        for (const Run& r : c.runs)
            for (int i = 0; i < r.count; ++i) margin.record(r.latenessUs);
        EXPECT_GE(margin.marginUs(), c.lowUs);
        EXPECT_LE(margin.marginUs(), c.highUs);
    }
}

TEST(PreciseTimer, SleepsToItsDeadlineAndNotForAPastOne) {
    platform::PreciseTimer timer;
    if (!timer.available()) GTEST_SKIP() << "no high-resolution timer on this system";
    const std::int64_t perMs = platform::counterFrequency() / 1000;
    for (int i = 0; i < 20; ++i) {
        const std::int64_t deadline = platform::counterNow() + perMs * 3 / 2;
        timer.sleepUntil(deadline);
        // Windows timers and the counter are separate clocks; allow them a
        // sliver of disagreement.
        EXPECT_GE(platform::counterNow(), deadline - perMs / 20) << i;
    }
    const std::int64_t before = platform::counterNow();
    timer.sleepUntil(before - perMs * 5);
    EXPECT_LT(platform::counterNow() - before, perMs * 100) << "a deadline in the past does not wait";
}

// With the timer, a pass sleeps until shortly before its end and spins only
// the margin: most of the 2 ms is spent asleep, yet every pass still ends
// just past 2000 us.
TEST(TickPacing, PreciseWaitSleepsMostOfThePass) {
    SampleClock clock;
    clock.restart();
    waitPrecise(clock);
    ASSERT_TRUE(clock.preciseWait);
    if (!clock.preciseWait->timer.available()) GTEST_SKIP() << "no high-resolution timer on this system";
    clock.preciseWait->fixedMarginUs = 200.0;
    constexpr int kPasses = 100;
    const std::int64_t cpuBefore = platform::threadCpuTimeNs();
    for (int i = 0; i < kPasses; ++i) {
        waitPrecise(clock);
        EXPECT_GT(clock.lastTickUs, 2000.0);
        EXPECT_GE(clock.intervalMs(), 2.0);
        EXPECT_GE(clock.preciseWait->lastWakeUs, 1700.0) << "the sleep ends close to the pass's end";
    }
    // Spinning from 1 ms, as the millisecond sleep does, would cost up to
    // 1000 us a pass; sleeping to 1800 us leaves at most the margin.
    const double cpuUsPerPass = static_cast<double>(platform::threadCpuTimeNs() - cpuBefore) / 1000.0 / kPasses;
    EXPECT_LT(cpuUsPerPass, 500.0);
}

}  // namespace
}  // namespace rez
