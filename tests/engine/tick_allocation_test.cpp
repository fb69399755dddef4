// The processing tick runs every 2 ms on a time-critical thread: it must not
// touch the heap, where it could wait on the allocator's lock or the system.
//
// This binary's global operator new counts allocations while a flag is set
// and otherwise only forwards to malloc, so the other engine tests are not
// affected. Sanitizer runtimes bring their own operator new (the thread
// sanitizer's cannot be replaced at all), so there the test is skipped.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "core/bytes.h"
#include "engine/gamesource_engine.h"
#include "platform/shared_memory.h"
#include "sources/game_table.h"
#include "sim/game_writers.h"
#include "sim/pty_pair.h"
#include "tests/support/test_reader.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define REZ_COUNT_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define REZ_COUNT_ALLOCATIONS 0
#endif
#endif
#ifndef REZ_COUNT_ALLOCATIONS
#define REZ_COUNT_ALLOCATIONS 1
#endif

namespace {
std::atomic<bool> countingAllocations{false};
std::atomic<long> allocationCount{0};

#if REZ_COUNT_ALLOCATIONS
void* allocate(std::size_t size) noexcept {
    if (countingAllocations.load(std::memory_order_relaxed)) allocationCount.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}
void* allocateOrThrow(std::size_t size) {
    if (void* p = allocate(size)) return p;
    throw std::bad_alloc();
}
#endif
}  // namespace

#if REZ_COUNT_ALLOCATIONS
void* operator new(std::size_t size) { return allocateOrThrow(size); }
void* operator new[](std::size_t size) { return allocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#endif

namespace rez {
namespace {

TEST(TickAllocations, TicksWithGameFanAndMotionCancelAllocateNothing) {
    if (!REZ_COUNT_ALLOCATIONS) GTEST_SKIP() << "the sanitizer runtime owns operator new";

    auto engine = std::make_unique<GamesourceEngine>();
    engine->sources.detectPauseMs = 0;
    for (int id = 0; id < kGameCount; ++id)
        if (id != kAssettoCorsa) engine->sources.setReader(id, std::make_unique<test::AbsentReader>());
    for (int c = 0; c < 8; ++c) engine->setInputDofLimit(c, -100, 100);
    for (int i = 0; i < 6; ++i) engine->setRigDofLimit(i, -10, 10);
    engine->activateMotionCancel(true);

    sim::PtyPair fan;
    std::string whyNoFan;
    const bool haveFan = fan.open(whyNoFan);
    if (haveFan) {
        ASSERT_TRUE(engine->wind.init(fan.portName(), 9600, "8N1", 5));
    }

    sim::AssettoCorsaWriter game;
    ASSERT_TRUE(game.ok());
    game.setStatus(2);
    std::int32_t packet = 0;
    auto publish = [&] {
        sim::AcPhysics sample;
        sample.packetId = ++packet;
        sample.accG[0] = 0.5f + 0.001f * static_cast<float>(packet % 100);
        sample.accG[1] = 1.0f;
        sample.localAngularVel[1] = 0.1f;
        game.publish(sample);
    };
    publish();
    ASSERT_EQ(engine->sources.detectGame(), 1);
    ASSERT_EQ(engine->sources.openGameSource(), 1);
    engine->gameConnected = true;
    engine->outputsSuppressed = false;
    engine->motionSystemReady = true;
    // The coarse pacer skips its sleep while it is behind; a carry this large
    // keeps it behind, so the ticks run back to back.
    engine->tickClock.precise = 0;
    engine->tickClock.carry = 1e12;

    // Warm-up: the fan port starts (a thread), the histories and the fan
    // buffer reach their size.
    for (int i = 0; i < 300; ++i) {
        publish();
        engine->processingTick();
    }
    if (haveFan) {
        ASSERT_TRUE(engine->wind.isRunning());
    }

    allocationCount = 0;
    for (int i = 0; i < 10000; ++i) {
        publish();
        countingAllocations = true;
        engine->processingTick();
        countingAllocations = false;
    }
    EXPECT_EQ(allocationCount.load(), 0) << "heap allocations in 10000 ticks";
    EXPECT_EQ(engine->readFailCount, 0) << "every tick read a sample";
    EXPECT_NE(load_le<double>(engine->poseBlock.data()), 0.0) << "motion cancel wrote the pose";

    engine->activateMotionCancel(false);
    if (!haveFan) GTEST_SKIP() << "counted without the fan: " << whyNoFan;
}

}  // namespace
}  // namespace rez
