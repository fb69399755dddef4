// The engine's fan port when a host unloads the library or ends the process
// without stopping the game-source thread: with the fan running, and with its
// line stalled by XOFF so that a write hangs with the write lock held. Each
// run is a host program in a child process (lifecycle_host); it must end in
// time and cleanly.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "platform/clock.h"
#include "tests/lifecycle/host_run.h"
#include "sim/game_writers.h"
#include "sim/pty_pair.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

namespace fs = std::filesystem;
constexpr unsigned char kXoff = 0x13;
constexpr unsigned char kXon = 0x11;

class FanAtUnloadAndExit : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(game.ok());
        game.setStatus(2);
        sim::AcPhysics sample;
        sample.packetId = 1;
        game.publish(sample);
    }

    // One child: fan running (and, if asked, the line held by XOFF), then
    // the host unloads or exits.
    void runOnce(sim::PtyPair& line, const std::string& end, bool stall) {
        std::random_device random;
        const fs::path goFile = fs::temp_directory_path() / ("rez-go-" + std::to_string(random()));
        const std::vector<std::string> args = {"fan", end, "1", "20", line.portName(), goFile.string()};
        platform::ProgramEnd result;
        std::atomic<bool> ended{false};
        std::thread child([&] {
            result = test::runLifecycleHost(args);
            ended = true;
        });

        // Running: the 0 of the open and at least one byte of the sending thread.
        std::size_t seen = 0;
        const std::int64_t origin = platform::counterNow();
        while (seen < 2 && !ended && sim::elapsedMs(origin, platform::counterNow()) < 20000) {
            unsigned char buffer[64];
            const int n = line.read(buffer, sizeof buffer, 100);
            if (n > 0) seen += static_cast<std::size_t>(n);
        }
        EXPECT_GE(seen, 2u) << "the fan port never ran";
        if (stall) {
            ASSERT_TRUE(line.write({kXoff}));
            platform::sleepMs(100);  // lets the sending thread get stuck in a write
        }
        std::ofstream(goFile).put('1');
        child.join();
        std::error_code error;
        fs::remove(goFile, error);
        if (stall) line.write({kXon});
        EXPECT_TRUE(result.started && !result.timedOut && result.exitCode == 0) << test::describe(args, result);
    }

    sim::AssettoCorsaWriter game;
};

TEST_F(FanAtUnloadAndExit, RunningFanNeverHoldsTheHost) {
    for (const char* end : {"unload", "exit", "unload", "exit"}) {
        sim::PtyPair line;
        std::string whyNot;
        if (!line.open(whyNot)) GTEST_SKIP() << whyNot;
        runOnce(line, end, false);
    }
}

TEST_F(FanAtUnloadAndExit, StalledFanLineNeverHoldsTheHost) {
    sim::PtyPair line;
    std::string whyNot;
    if (!line.open(whyNot)) GTEST_SKIP() << whyNot;
    if (line.inProcess())
        GTEST_SKIP() << "the library opens a pseudo-terminal raw, without XON/XOFF, so nothing holds the line here";
    // The fan port keeps the flow control it finds: switch XON/XOFF on for it.
    {
        platform::SerialHandle port = platform::serialOpen(line.portName());
        ASSERT_NE(port, platform::invalidSerialHandle);
        platform::SerialSettings settings;
        ASSERT_TRUE(platform::serialGetSettings(port, settings));
        settings.xonXoffOutput = true;
        ASSERT_TRUE(platform::serialSetSettings(port, settings));
        platform::serialClose(port);
    }
    for (const char* end : {"unload", "exit", "unload", "exit", "exit"}) runOnce(line, end, true);
    // The last XON went out after the host had gone and may still be on its
    // way through the relay. Switched off too soon, the port would keep it as
    // data for the next test to read, so wait for a byte sent behind it:
    // once that is here, the XON has been taken as flow control.
    platform::SerialHandle port = platform::serialOpen(line.portName());
    ASSERT_NE(port, platform::invalidSerialHandle);
    platform::SerialTimeouts timeouts;
    timeouts.readTotalConstant = 100;
    ASSERT_TRUE(platform::serialSetTimeouts(port, timeouts));
    constexpr unsigned char kBehindXon = 0x5A;
    ASSERT_TRUE(line.write({kBehindXon}));
    bool through = false;
    const auto start = platform::counterNow();
    while (!through && platform::counterNow() - start < platform::counterFrequency() * 20) {
        unsigned char byte = 0;
        through = platform::serialRead(port, &byte, 1) == 1 && byte == kBehindXon;
    }
    EXPECT_TRUE(through) << "the byte sent behind the last XON never arrived";
    platform::SerialSettings settings;
    if (platform::serialGetSettings(port, settings)) {
        settings.xonXoffOutput = false;
        platform::serialSetSettings(port, settings);
    }
    platform::serialPurge(port, true, true);
    platform::serialClose(port);
}

}  // namespace
}  // namespace rez
