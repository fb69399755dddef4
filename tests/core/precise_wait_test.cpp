#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/sample_clock.h"
#include "core/wake_margin.h"
#include "platform/clock.h"
#include "platform/precise_wait.h"

namespace rez {
namespace {

// The margin covers all but the latest 0.5 % of the remembered wake-ups,
// plus a guard, within 50 us and 1000 us; old wake-ups leave the window, and
// a few wake-ups too late for any margin are left out. Where that would make
// a pass spin more than it may (200 us here), the margin keeps to the median
// lateness plus that.
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
        {"nothing seen yet: the spin cap", {}, 200, 200},
        {"punctual timer", {{2, 1000}}, 50, 50},
        {"typical Linux wake-ups", {{40, 1000}}, 60, 80},
        {"five outliers are ignored", {{40, 995}, {800, 5}}, 60, 80},
        {"ten late ones would cost more spin than the cap", {{40, 990}, {300, 10}}, 230, 250},
        {"a millisecond grid: near the typical lateness", {{150, 250}, {400, 250}, {650, 250}, {900, 250}}, 590, 610},
        {"a bad spell passes", {{700, 1000}, {40, 1000}}, 60, 80},
        {"early wake-ups count as on time", {{-30, 1000}}, 50, 50},
        {"off the scale", {{1e9, 1000}}, 1000, 1000},
        {"a thread not run now and then", {{40, 985}, {5000, 15}}, 60, 80},
        {"a timer often a millisecond late", {{40, 950}, {5000, 50}}, 230, 250},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WakeMargin margin(200.0);
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

// However early the timer ends its sleep, a pass spins at most its cap: a
// margin of 1500 us (a timer that once looked that late) must not turn into
// 1500 us of spinning on every pass.
TEST(TickPacing, APassNeverSpinsMoreThanTheCap) {
    SampleClock clock;
    clock.restart();
    waitPrecise(clock);
    ASSERT_TRUE(clock.preciseWait);
    if (!clock.preciseWait->timer.available()) GTEST_SKIP() << "no high-resolution timer on this system";
    clock.preciseWait->fixedMarginUs = 1500.0;
    constexpr int kPasses = 100;
    const std::int64_t cpuBefore = platform::threadCpuTimeNs();
    for (int i = 0; i < kPasses; ++i) {
        waitPrecise(clock);
        EXPECT_LE(clock.preciseWait->lastSpinUs, PreciseWait::kSpinCapUs) << i;
    }
    const double cpuUsPerPass = static_cast<double>(platform::threadCpuTimeNs() - cpuBefore) / 1000.0 / kPasses;
    EXPECT_LT(cpuUsPerPass, 1000.0) << "far below the 1500 us an uncapped spin would cost";
}

// Late passes are made up by later ones and early ones given back, so the
// average pass is 2 ms: the engine's precise tick 20 us a pass while the debt
// is small (one late wake-up must not cost a second pass its precision) and
// at once when it is large, down to a 1 ms pass; the coarse and transport
// waits all at once. A stall is remembered up to 20 ms, never made up by a
// burst of empty passes beyond that.
TEST(TickPacing, TheCarryMakesUpForThePassesBefore) {
    struct Case {
        const char* what;
        double carryUs;
        double preciseTargetUs;
        double wholeTargetUs;  // coarse and transport waits
    };
    const Case cases[] = {
        {"on time", 0.0, 2000.0, 2000.0},
        {"300 us late", 300.0, 1980.0, 1700.0},
        {"200 us early", -200.0, 2020.0, 2200.0},
        {"900 us behind", 900.0, 1580.0, 1100.0},
        {"a 10 ms stall", 8000.0, 1000.0, 0.0},
        {"far ahead", -8000.0, 3000.0, 4000.0},
    };
    using Wait = void (*)(SampleClock&);
    const std::pair<Wait, bool> waits[] = {
        {&waitPrecise, true}, {&waitCoarse, false}, {static_cast<Wait>(&waitPass), false}};
    for (const auto& [wait, precise] : waits) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            SampleClock clock;
            clock.restart();
            clock.carry = c.carryUs;
            wait(clock);
            const double target = precise ? c.preciseTargetUs : c.wholeTargetUs;
            EXPECT_DOUBLE_EQ(clock.lastTargetUs, target);
            EXPECT_GE(static_cast<double>(clock.interval.load()) / clock.ticksPerUs, target - 1.0);
        }
    }
    SampleClock stalled;
    stalled.restart();
    stalled.carry = 1e6;  // a second behind
    waitCoarse(stalled);
    EXPECT_LE(stalled.carry, 20000.0) << "at most 20 ms are remembered";
}

}  // namespace
}  // namespace rez
