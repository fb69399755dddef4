// The game-source thread: start and stop, the states it passes through, the
// lost and frozen rules, the output fade and the tick pacing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <system_error>

#include "engine/gamesource_engine.h"
#include "platform/clock.h"
#include "platform/shared_memory.h"
#include "sources/detection_tests.h"
#include "tests/support/test_reader.h"

namespace rez {
namespace {

using test::TestReader;

// Waits up to `ms` of wall time for a condition, polling every millisecond.
template <class F>
bool eventually(F condition, int ms = 10000) {
    const std::int64_t deadline = platform::counterNow() + platform::counterFrequency() * ms / 1000;
    while (platform::counterNow() < deadline) {
        if (condition()) return true;
        platform::sleepMs(1);
    }
    return condition();
}

double msSince(std::int64_t from) {
    return static_cast<double>(platform::counterNow() - from) * 1000.0 / static_cast<double>(platform::counterFrequency());
}

class EngineTest : public testing::Test {
protected:
    void SetUp() override {
        engine = std::make_unique<GamesourceEngine>();
        engine->sources.detectPauseMs = 0;
        for (int id = 0; id < kGameCount; ++id) engine->sources.setReader(id, std::make_unique<test::AbsentReader>());
        auto r = std::make_unique<TestReader>();
        reader = r.get();
        engine->sources.setReader(kAssettoCorsa, std::move(r));
        reader->present = false;
    }
    void TearDown() override { engine->stopThread(); }

    // Brings the engine online synchronously, as the thread's first passes would.
    void connect() {
        reader->present = true;
        engine->resetGameSource();
        ASSERT_EQ(engine->sources.detectGame(), 1);
        ASSERT_EQ(engine->sources.openGameSource(), 1);
        engine->gameConnected = true;
        engine->outputsSuppressed = false;
        engine->motionSystemReady = true;
        engine->tickClock.restart();
    }

    std::unique_ptr<GamesourceEngine> engine;
    TestReader* reader = nullptr;
};

TEST_F(EngineTest, StopReturnsWhetherTheThreadWasAlreadyStopped) {
    EXPECT_TRUE(engine->stopThread()) << "stop before any start";
    EXPECT_TRUE(engine->stopThread());
    engine->startThread();
    ASSERT_TRUE(eventually([&] { return reader->detects.load() > 0; }));
    engine->startThread();
    EXPECT_TRUE(engine->running.load());
    EXPECT_FALSE(engine->stopThread());
    EXPECT_FALSE(engine->thread.joinable());
    EXPECT_TRUE(engine->stopThread()) << "second stop";
    engine->startThread();
    EXPECT_FALSE(engine->stopThread()) << "a restart after a stop runs again";
}

TEST_F(EngineTest, StopEndsADetectionPassWithinOneTest) {
    // A full pass with these pauses lasts 17 x 300 ms.
    engine->sources.detectPauseMs = 300;
    engine->startThread();
    ASSERT_TRUE(eventually([&] { return engine->sources.detectPauses.load() > 0; }));
    const std::int64_t before = platform::counterNow();
    EXPECT_FALSE(engine->stopThread());
    const double ms = static_cast<double>(platform::counterNow() - before) * 1000.0 /
                      static_cast<double>(platform::counterFrequency());
    EXPECT_LT(ms, 1500.0) << "the stop waited for the rest of the pass";
}

TEST_F(EngineTest, ThreadThatCannotStartLeavesTheEngineStartable) {
    // No system gives a thread a stack of a quarter of the address space.
    engine->threadStackBytes = std::size_t{1} << 62;
    testing::internal::CaptureStdout();
    EXPECT_THROW(engine->startThread(), std::system_error);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed.rfind("Gamesource thread could not be started: ", 0), 0u) << printed;
    EXPECT_FALSE(engine->running.load());
    EXPECT_FALSE(engine->thread.joinable());
    EXPECT_TRUE(engine->stopThread()) << "nothing ran";

    engine->threadStackBytes = 0;
    engine->startThread();
    EXPECT_TRUE(eventually([&] { return reader->detects.load() > 0; })) << "a later start runs the thread";
    EXPECT_FALSE(engine->stopThread());
}

TEST_F(EngineTest, SearchesConnectsAndTicksOnlyWhenReady) {
    reader->setSample([](GameDataRecord& r, long i) {
        r.slots[kSpeed] = static_cast<double>(i);
        return true;
    });
    engine->startThread();
    platform::sleepMs(100);
    EXPECT_FALSE(engine->gameConnected.load()) << "no game: still searching";
    EXPECT_EQ(engine->sources.presentGame(), -1);

    reader->present = true;
    // The thread marks the game connected just before it lifts the
    // suppression, so wait for both.
    ASSERT_TRUE(eventually([&] { return engine->gameConnected.load() && !engine->outputsSuppressed.load(); }));
    platform::sleepMs(100);
    EXPECT_EQ(reader->reads.load(), 0) << "connected but not ready: nothing is read";

    // A loaded machine may hand the thread fewer ticks, never more: wait for
    // a number of ticks, then check that they were paced.
    const auto ready = platform::counterNow();
    engine->setMotionSystemReady(1);
    ASSERT_TRUE(eventually([&] { return reader->reads.load() >= 100; }, 30000)) << "ticks run once ready";
    const long reads = reader->reads.load();
    EXPECT_GT(msSince(ready), 1.0 * reads) << "paced at 2 ms per tick, not running free";
    EXPECT_GT(engine->tickPeriodMs(), 1.0);

    EXPECT_FALSE(engine->stopThread());
    EXPECT_FALSE(engine->gameConnected.load());
    EXPECT_EQ(engine->sources.presentGame(), kAssettoCorsa) << "the game stays named after the stop";
    EXPECT_EQ(reader->closes.load(), 0);
}

TEST_F(EngineTest, GameWithoutSamplesIsDroppedAfterMoreThan1000Misses) {
    connect();
    reader->setSample([](GameDataRecord& r, long i) {
        r.slots[kSpeed] = static_cast<double>(i);
        return i < 10;
    });
    int ticks = 0;
    while (engine->gameConnected.load() && ticks < 1100) {
        engine->processingTick();
        ++ticks;
    }
    EXPECT_FALSE(engine->gameConnected.load());
    EXPECT_EQ(ticks, 10 + 1001) << "reset on the 1001st tick in a row without a sample";
    EXPECT_EQ(reader->closes.load(), 1);
    EXPECT_EQ(engine->sources.presentGame(), -1);
    EXPECT_TRUE(engine->outputsSuppressed.load());
    EXPECT_EQ(engine->readFailCount, 0);
    EXPECT_EQ(engine->transitionStatus(), 0.0);
}

TEST_F(EngineTest, FrozenGameHoldsTheOutputsUntilItMovesAgain) {
    connect();
    std::atomic<double> value{5.0};
    reader->setSample([&](GameDataRecord& r, long) {
        r.slots[kLateralAccelG] = value.load();
        return true;
    });
    // Each tick advances the fade by the tick period measured before it; on
    // a loaded machine that is not always 2 ms, so follow the same sum.
    double fade = 1.0;
    auto tick = [&](bool restarts) {
        const double period = engine->tickPeriodMs();
        engine->processingTick();
        fade = std::min(1.0, (restarts ? 0.0 : fade) + period * (1.0 / 4000.0));
    };
    engine->outputFade = 1.0;
    for (int i = 0; i < 252; ++i) tick(false);
    // The first tick sees a change (0 -> 5); 251 equal ones follow.
    EXPECT_EQ(engine->frozenCount, 251);
    EXPECT_EQ(engine->outputFade.load(), 1.0) << "the fade restarts only once the count is above 250";
    for (int i = 0; i < 21; ++i) {
        tick(true);
        ASSERT_NEAR(engine->outputFade.load(), fade, 1e-12) << "held while frozen, tick " << i;
    }

    value = 6.0;
    tick(true);  // the count was still above 250 when this tick began
    EXPECT_EQ(engine->frozenCount, 0);
    for (int i = 0; i < 100; ++i) tick(false);
    EXPECT_GT(engine->outputFade.load(), 0.0) << "fading back in once the game moves";
    EXPECT_NEAR(engine->outputFade.load(), fade, 1e-9);
}

TEST_F(EngineTest, NanSlotsNeverCountAsFrozen) {
    connect();
    reader->setSample([](GameDataRecord& r, long) {
        r.slots[kYawSpeed] = std::nan("");
        return true;
    });
    for (int i = 0; i < 300; ++i) engine->processingTick();
    EXPECT_EQ(engine->frozenCount, 0);
}

TEST_F(EngineTest, OutputFadeIsLinearOver4000MsOfTickTime) {
    CueArray start{}, live{};
    for (int i = 0; i < kChannelCount; ++i) {
        start[static_cast<std::size_t>(i)] = i - 11.0;
        live[static_cast<std::size_t>(i)] = 3.0 * i;
    }
    engine->outputCues = start;
    engine->beginOutputFade();
    EXPECT_EQ(engine->transitionStatus(), 0.0);
    EXPECT_EQ(engine->fadeStart, start);
    // 2 ms per tick: 2000 ticks make the 4000 ms.
    engine->tickClock.interval = static_cast<std::int64_t>(std::llround(engine->tickClock.ticksPerMs * 2.0));
    const double step = engine->tickClock.intervalMs() / 4000.0;
    double fade = 0.0;
    for (int tick = 1; tick <= 2001; ++tick) {
        engine->outputCues = live;
        engine->applyOutputFade();
        for (std::size_t i = 0; i < live.size(); i += 7)
            ASSERT_DOUBLE_EQ(engine->outputCues[i], (live[i] - start[i]) * fade + start[i]) << "tick " << tick;
        fade = std::min(1.0, fade + step);
    }
    EXPECT_EQ(engine->outputFade.load(), 1.0);
    EXPECT_EQ(engine->transitionStatus(), 100.0);
    engine->outputCues = live;
    engine->applyOutputFade();
    EXPECT_EQ(engine->outputCues, live) << "a finished fade leaves the live values alone";
}

TEST_F(EngineTest, ReadyChangesRestartTheFade) {
    EXPECT_EQ(engine->transitionStatus(), 100.0) << "the fade starts complete";
    struct Step { int ready; bool restarts; };
    for (Step s : {Step{1, true}, Step{1, false}, Step{2, false}, Step{-1, false}, Step{0, true}, Step{0, false}, Step{1, true}}) {
        engine->outputFade = 1.0;
        engine->setMotionSystemReady(s.ready);
        EXPECT_EQ(engine->transitionStatus(), s.restarts ? 0.0 : 100.0) << "ready " << s.ready;
    }
}

TEST_F(EngineTest, ResetOpensThePoseBlock) {
    platform::SharedMemory::removeName("Local\\motionRigPose");
    engine->resetGameSource();
    EXPECT_TRUE(engine->poseBlock.isMapped());
    EXPECT_EQ(engine->poseBlock.viewSize(), 512u);
    EXPECT_TRUE(existingMappingTest("Local\\motionRigPose"));
    engine->poseBlock.data()[0] = 0x5A;
    engine->resetGameSource();
    EXPECT_EQ(engine->poseBlock.data()[0], 0x5A) << "a second reset keeps the open block";
}

TEST_F(EngineTest, ThreadStartForcesPreciseWaitAndCoarseWaitTakesOverAfter) {
    reader->present = true;
    reader->setSample([](GameDataRecord& r, long i) {
        r.slots[kSpeed] = static_cast<double>(i);
        return true;
    });
    engine->setMotionSystemReady(1);
    engine->tickClock.precise = 0;
    engine->startThread();
    ASSERT_TRUE(eventually([&] { return engine->tickClock.precise.load() == 1; }));
    // The coarse wait carries its error from here on: however the thread is
    // scheduled, n ticks take at least 2 ms each less one tick's carry.
    const auto coarseFrom = platform::counterNow();
    const long before = reader->reads.load();
    engine->tickClock.precise = 0;
    ASSERT_TRUE(eventually([&] { return reader->reads.load() >= before + 100; }, 30000))
        << "the coarse wait still ticks";
    const long ticks = reader->reads.load() - before;
    EXPECT_GT(msSince(coarseFrom), 1.0 * ticks) << "paced at about 2 ms per tick, not running free";
    EXPECT_EQ(engine->tickClock.precise.load(), 0);
    EXPECT_FALSE(engine->stopThread());
}

}  // namespace
}  // namespace rez
