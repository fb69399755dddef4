// The platform services as the rest of the library relies on them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <future>
#include <thread>

#include "platform/clock.h"
#include "platform/process.h"
#include "platform/shared_memory.h"
#include "platform/thread_name.h"
#include "tests/support/child_game.h"

namespace rez::platform {
namespace {

TEST(SharedMemory, CreateOpenMapAndRelease) {
    const std::string name = "Local\\rez_platform_test";
    SharedMemory::removeName(name);
    SharedMemory missing;
    EXPECT_FALSE(missing.openExisting(name, MapAccess::Read));
    EXPECT_FALSE(missing.map(MapAccess::Read, 16)) << "nothing to map";

    SharedMemory writer;
    ASSERT_TRUE(writer.createOrOpen(name, 1000));
    EXPECT_TRUE(writer.created());
    ASSERT_TRUE(writer.map(MapAccess::ReadWrite, 1000));
    std::memcpy(writer.data(), "rig", 4);

    SharedMemory reader;
    ASSERT_TRUE(reader.openExisting(name, MapAccess::Read));
    EXPECT_FALSE(reader.map(MapAccess::ReadWrite, 1000)) << "a read-only handle gives no writable view";
    ASSERT_TRUE(reader.map(MapAccess::Read, 1000));
    EXPECT_STREQ(reinterpret_cast<const char*>(reader.data()), "rig");
    EXPECT_GE(reader.objectSize(), 1000u);

    SharedMemory second;
    ASSERT_TRUE(second.createOrOpen(name, 100));
    EXPECT_FALSE(second.created()) << "the existing block is opened, not made anew";
    EXPECT_GE(second.objectSize(), 1000u) << "create-or-open never shrinks";
    ASSERT_TRUE(second.map(MapAccess::ReadWrite, 1000));
    EXPECT_STREQ(reinterpret_cast<const char*>(second.data()), "rig");

    second.close();
    reader.close();
    EXPECT_FALSE(reader.isMapped());
    writer.close();
    SharedMemory after;
    EXPECT_FALSE(after.openExisting(name, MapAccess::Read)) << "gone once its maker closed it";
}

TEST(SharedMemory, ViewLargerThanTheBlockIsRefused) {
    const std::string name = "rez_platform_small";
    SharedMemory::removeName(name);
    SharedMemory maker;
    ASSERT_TRUE(maker.createOrOpen(name, 64 * 1024));
    SharedMemory reader;
    ASSERT_TRUE(reader.openExisting(name, MapAccess::Read));
    EXPECT_FALSE(reader.map(MapAccess::Read, 1024 * 1024));
    EXPECT_TRUE(reader.map(MapAccess::Read, 0)) << "0 maps the whole block";
    EXPECT_GE(reader.viewSize(), 64u * 1024);
}

// Windows maps whole pages: a view may run past the maker's size to the end
// of its last page, where it reads zero, and no further. Linux must judge the
// same way, or a game whose block ends just short of a reader's view stays
// offline there.
TEST(SharedMemory, ViewsAreJudgedByWholePages) {
    const std::string name = "rez_platform_pages";
    SharedMemory::removeName(name);
    const std::size_t page = SharedMemory::pageSize();
    const std::size_t made = 5 * page + 96;  // ends inside its sixth page
    SharedMemory maker;
    ASSERT_TRUE(maker.createOrOpen(name, made));
    ASSERT_TRUE(maker.map(MapAccess::ReadWrite, made));
    std::memset(maker.data(), 0x5A, made);

    SharedMemory reader;
    ASSERT_TRUE(reader.openExisting(name, MapAccess::Read));
    struct Case {
        std::size_t view;
        bool maps;
    };
    for (Case c : {Case{made, true}, Case{made + 28, true}, Case{6 * page, true}, Case{6 * page + 1, false}}) {
        const bool mapped = reader.map(MapAccess::Read, c.view);
        EXPECT_EQ(mapped, c.maps) << c.view;
        if (!mapped) continue;
        EXPECT_EQ(reader.viewSize(), c.view);
        EXPECT_EQ(reader.data()[made - 1], 0x5A);
        if (c.view > made) {
            EXPECT_EQ(reader.data()[c.view - 1], 0) << "the rest of the last page reads zero";
        }
    }
}

// A game's block is opened read-only and keeps its size; only a missing one
// is made, and that one goes again with the handle that made it.
TEST(SharedMemory, GameBlockIsOpenedReadOnlyOrMadeWhenMissing) {
    const std::string name = "rez_platform_game_block";
    SharedMemory::removeName(name);
    {
        SharedMemory placeholder;
        ASSERT_TRUE(placeholder.openReadOnlyOrCreate(name, 712));
        EXPECT_TRUE(placeholder.created());
        EXPECT_FALSE(placeholder.map(MapAccess::ReadWrite, 712)) << "read-only views only";
        ASSERT_TRUE(placeholder.map(MapAccess::Read, 712));
        EXPECT_EQ(placeholder.data()[711], 0);
    }
    SharedMemory absent;
    EXPECT_FALSE(absent.openExisting(name, MapAccess::Read)) << "the block made in the game's place is gone";
#if !defined(_WIN32)
    {
        // The game starts while our stand-in block is open and makes its own
        // under the name: letting ours go must leave the game's in place.
        SharedMemory placeholder;
        ASSERT_TRUE(placeholder.openReadOnlyOrCreate(name, 712));
        SharedMemory::removeName(name);
        SharedMemory starting;
        ASSERT_TRUE(starting.createOrOpen(name, 712));
        placeholder.close();
        SharedMemory found;
        EXPECT_TRUE(found.openExisting(name, MapAccess::Read)) << "the game's own block lost its name";
        SharedMemory::removeName(name);
    }
#endif

    SharedMemory game;
    ASSERT_TRUE(game.createOrOpen(name, 100));
    ASSERT_TRUE(game.map(MapAccess::ReadWrite, 100));
    game.data()[99] = 7;
    const std::size_t gameSize = game.objectSize();
    SharedMemory reader;
    ASSERT_TRUE(reader.openReadOnlyOrCreate(name, 712));
    EXPECT_FALSE(reader.created());
    EXPECT_FALSE(reader.map(MapAccess::ReadWrite, 712));
    ASSERT_TRUE(reader.map(MapAccess::Read, 712));
    EXPECT_EQ(reader.data()[99], 7);
    EXPECT_EQ(game.objectSize(), gameSize) << "the game's block is never resized";
    EXPECT_EQ(reader.objectSize(), gameSize);
}

// An elevated host makes the pose block that headset software, started
// without elevation, must read; nobody else may write it.
TEST(SharedMemory, OwnBlockIsReadableButNotWritableByAnyUser) {
    const std::string name = "Local\\rez_platform_pose";
    SharedMemory::removeName(name);
    SharedMemory block;
    ASSERT_TRUE(block.createOrOpen(name, 512));
    EXPECT_TRUE(block.openToAnyUser(MapAccess::Read));
    EXPECT_FALSE(block.openToAnyUser(MapAccess::ReadWrite));
}

TEST(ProcessList, SeesAChildByItsExecutableName) {
    const std::string name = "RezProbeGame.exe";
    EXPECT_FALSE(isProcessRunning(name));
    {
        test::ChildGame game(name);
        ASSERT_TRUE(game.started());
        auto names = processNames();
        ASSERT_TRUE(names.has_value());
        EXPECT_NE(std::find(names->begin(), names->end(), name), names->end());
        EXPECT_FALSE(isProcessRunning("rezprobegame.exe"));
    }
    EXPECT_TRUE(test::waitForProcess(name, false));
}

TEST(Clock, SleepsAtLeastWhatIsAskedAndTheCounterMoves) {
    EXPECT_GT(counterFrequency(), 1'000'000);
    for (std::int64_t ns : {std::int64_t{1'000'000}, std::int64_t{2'000'000}, std::int64_t{5'000'000}}) {
        std::int64_t before = counterNow();
        sleepNs(ns);
        double elapsedNs = static_cast<double>(counterNow() - before) * 1e9 / static_cast<double>(counterFrequency());
        EXPECT_GE(elapsedNs, static_cast<double>(ns) * 0.95) << ns;
        // Far below a mistaken unit (a thousand times the ask), far above any
        // stall of a busy machine.
        EXPECT_LT(elapsedNs, static_cast<double>(ns) * 200 + 1e9) << ns;
    }
}

// A thread's own name is what the CPU figures list it by, and a loop on a
// lent thread gives the thread its name back.
TEST(ThreadName, NamedThreadIsListedWithItsCpuAndALentNameIsGivenBack) {
    std::promise<std::pair<std::string, std::string>> named;  // (inside the lent scope, after it)
    std::promise<void> release;
    std::thread probe([&] {
        nameThisThread("rez-probe");
        std::string lent;
        {
            const LentThreadName scope("rez-lent");
            lent = thisThreadName();
        }
        for (const std::int64_t until = counterNow() + counterFrequency() / 50; counterNow() < until;) {
        }
        named.set_value({lent, thisThreadName()});
        release.get_future().wait();
    });
    auto namedFuture = named.get_future();
    const bool ready = namedFuture.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    const std::vector<ThreadCpu> threads = libraryThreadsCpu();
    release.set_value();
    probe.join();
    ASSERT_TRUE(ready);
    const auto [lent, after] = namedFuture.get();
#if defined(_WIN32)
    if (after.empty())
        GTEST_SKIP() << "this Windows (or Wine) has no SetThreadDescription/GetThreadDescription in kernel32: "
                        "threads stay unnamed and no thread's CPU is listed";
#endif
    EXPECT_EQ(lent, "rez-lent");
    EXPECT_EQ(after, "rez-probe") << "the lent name outlived its scope";
    const auto probeCpu = std::find_if(threads.begin(), threads.end(), [](const ThreadCpu& t) { return t.name == "rez-probe"; });
    ASSERT_NE(probeCpu, threads.end());
    EXPECT_GT(probeCpu->cpuNs, 0);
}

}  // namespace
}  // namespace rez::platform
