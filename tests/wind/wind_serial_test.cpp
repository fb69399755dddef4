// The fan port against a stand-in fan at the far end of a serial line.
#include <gtest/gtest.h>

#include <cmath>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "controller/wind_serial.h"
#include "platform/clock.h"
#include "platform/serial_port.h"
#include "sim/pty_pair.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

using sim::elapsedMs;
using Bytes = std::vector<unsigned char>;

constexpr const char* missingPort = "COM97";

class WindPort : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!fan_.open(why)) GTEST_SKIP() << why;
    }

    // Starts `wind` on the fan line and takes the 0 byte that opening sends.
    void startOn(WindSerial& wind, const std::string& format = "8N1", unsigned int intervalMs = 15) {
        ASSERT_TRUE(wind.init(fan_.portName(), 250000, format, intervalMs));
        wind.start();
        ASSERT_TRUE(wind.isRunning());
        EXPECT_EQ(waitBytes(1, 2000), Bytes{0}) << "opening tells the fan to stop";
    }

    // Reads until `count` bytes came or `ms` passed; arrival times from `origin`.
    std::vector<sim::TimedByte> waitTimed(std::size_t count, int ms, std::int64_t origin) {
        std::vector<sim::TimedByte> got;
        while (got.size() < count && elapsedMs(origin, platform::counterNow()) < ms) {
            unsigned char buffer[64];
            const int n = fan_.read(buffer, sizeof buffer, 20);
            if (n < 0) break;
            const double at = elapsedMs(origin, platform::counterNow());
            for (int i = 0; i < n; ++i) got.push_back({buffer[i], at});
        }
        return got;
    }
    Bytes waitBytes(std::size_t count, int ms) {
        Bytes out;
        for (const auto& b : waitTimed(count, ms, platform::counterNow())) out.push_back(b.value);
        return out;
    }

    // The device is free again: the port under test closed its handle.
    bool portReleased() {
        platform::SerialHandle probe = platform::serialOpen(fan_.portName());
        const bool opened = probe != platform::invalidSerialHandle;
        platform::serialClose(probe);
        return opened;
    }

    sim::PtyPair fan_;
};

TEST_F(WindPort, SendsPendingBytesOnePerInterval) {
    WindSerial wind;
    startOn(wind);
    const std::int64_t t0 = platform::counterNow();
    wind.updateBuffer({1, 2, 3, 4, 5, 6});
    const auto got = waitTimed(6, 3000, t0);
    ASSERT_EQ(got.size(), 6u);
    for (unsigned char i = 0; i < 6; ++i) EXPECT_EQ(got[i].value, i + 1);
    // Five intervals at the least lie between the first and the sixth byte.
    EXPECT_GE(got.back().ms, 5 * 15 * 0.8);

    wind.stop();
    EXPECT_FALSE(wind.isRunning());
    EXPECT_EQ(waitBytes(2, 300), Bytes{0}) << "stopping tells the fan to stop";
    EXPECT_TRUE(portReleased());
}

TEST_F(WindPort, NewBytesReplaceTheOnesNotYetSent) {
    WindSerial wind;
    startOn(wind);
    const std::int64_t t0 = platform::counterNow();
    wind.updateBuffer({1, 2, 3, 4, 5});
    platform::sleepMs(20);
    wind.updateBuffer({9});
    const double replacedAfter = elapsedMs(t0, platform::counterNow());
    const Bytes got = fan_.readFor(300);
    wind.stop();

    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), 9) << "the replacement is sent, and nothing of the old burst after it";
    const std::size_t oldSent = got.size() - 1;
    for (std::size_t i = 0; i < oldSent; ++i) EXPECT_EQ(got[i], i + 1) << "old bytes go out in order, from the first";
    // One byte can leave at once, then one per interval (a little slack for timers).
    const auto allowed = static_cast<std::size_t>(1 + std::floor(replacedAfter / (15 * 0.8)));
    EXPECT_LE(oldSent, allowed) << "replaced after " << replacedAfter << " ms";
}

TEST_F(WindPort, PauseSendsZeroAndDropsBytesUntilUnpaused) {
    WindSerial wind;
    startOn(wind);
    wind.pause();
    EXPECT_EQ(waitBytes(1, 1000), Bytes{0});
    wind.updateBuffer({7, 8});
    EXPECT_EQ(fan_.readFor(150), Bytes{}) << "paused: bytes are taken but not written";

    wind.unpause();
    wind.updateBuffer({5});
    EXPECT_EQ(fan_.readFor(200), Bytes{5}) << "the bytes given while paused are gone";
    wind.stop();
}

TEST_F(WindPort, ZeroIsTheLastByteAfterStopOrPause) {
    // A byte taken just before pause() or stop() must not land after their 0.
    for (int round = 0; round < 6; ++round) {
        WindSerial wind;
        startOn(wind, "8N1", 1);
        wind.updateBuffer(Bytes(200, 0x33));
        platform::sleepMs(15 + round * 3);
        const bool pauseFirst = round % 2 == 0;
        if (pauseFirst) wind.pause(); else wind.stop();
        const Bytes got = fan_.readFor(150);
        ASSERT_FALSE(got.empty()) << "round " << round;
        EXPECT_EQ(got.back(), 0) << (pauseFirst ? "pause" : "stop") << ", round " << round;
        wind.stop();
        fan_.drain();
    }
}

TEST_F(WindPort, DestroyingARunningPortStopsTheFanAndFreesTheDevice) {
    {
        WindSerial wind;
        startOn(wind, "8N1", 5);
        wind.updateBuffer(Bytes(50, 0x44));
        platform::sleepMs(30);
    }
    const Bytes got = fan_.readFor(150);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), 0);
    EXPECT_TRUE(portReleased());
}

TEST_F(WindPort, LineFormatsReachTheDevice) {
    struct Case {
        const char* format;
        platform::SerialStopBits stopBits;
    };
    // A pseudo-terminal always keeps 8 data bits without parity, so the
    // stop bits and the rate are what the device can show here.
    for (const Case& c : {Case{"8N1", platform::SerialStopBits::One}, Case{"7e2", platform::SerialStopBits::Two},
                          Case{"8o1", platform::SerialStopBits::One}, Case{"8E2", platform::SerialStopBits::Two}}) {
        WindSerial wind;
        startOn(wind, c.format);
        wind.stop();
        fan_.drain();
        platform::SerialSettings device;
        ASSERT_TRUE(fan_.portSettings(device)) << c.format;
        EXPECT_EQ(device.stopBits, c.stopBits) << c.format;
        if (fan_.inProcess()) {
            EXPECT_EQ(device.baudRate, 250000u) << c.format;
        }
    }
}

TEST_F(WindPort, BadFormatsFailStartWithoutTouchingTheFan) {
    for (const char* format : {"8N", "8X1", "8N3", "9N1", "", "8N1 "}) {
        WindSerial wind;
        ASSERT_TRUE(wind.init(fan_.portName(), 250000, format, 15)) << "the device exists";
        wind.start();
        EXPECT_FALSE(wind.isRunning()) << '"' << format << '"';
        EXPECT_EQ(fan_.readFor(60), Bytes{}) << '"' << format << '"';
        EXPECT_TRUE(portReleased()) << "a failed start closes the port";
    }
}

TEST_F(WindPort, ThreeFailedStartsBlockUntilStopOrInit) {
    if (!fan_.inProcess()) GTEST_SKIP() << "needs a device that can vanish and come back";
    WindSerial wind;
    ASSERT_TRUE(wind.init(fan_.portName(), 250000, "8N1", 15));

    enum class Reset { Stop, Init };
    for (Reset reset : {Reset::Stop, Reset::Init}) {
        ASSERT_TRUE(fan_.unplug());
        for (int i = 0; i < 3; ++i) {
            wind.start();
            EXPECT_FALSE(wind.isRunning());
        }
        ASSERT_TRUE(fan_.plugBack());
        wind.start();
        EXPECT_FALSE(wind.isRunning()) << "a fourth start does nothing, though the port is back";
        EXPECT_EQ(fan_.readFor(60), Bytes{});

        if (reset == Reset::Stop)
            wind.stop();
        else
            ASSERT_TRUE(wind.init(fan_.portName(), 250000, "8N1", 15));
        wind.start();
        EXPECT_TRUE(wind.isRunning()) << (reset == Reset::Stop ? "stop" : "init") << " allows new starts";
        EXPECT_EQ(waitBytes(1, 2000), Bytes{0});
        wind.stop();
        fan_.drain();
    }
}

TEST_F(WindPort, InitWithoutDeviceFailsButTakesTheInterval) {
    WindSerial wind;
    startOn(wind, "8N1", 15);
    EXPECT_FALSE(wind.init(missingPort, 250000, "8N1", 60));
    EXPECT_FALSE(wind.isInit());
    EXPECT_TRUE(wind.isRunning()) << "a failed init leaves a running port alone";

    const std::int64_t t0 = platform::counterNow();
    wind.updateBuffer({1, 2, 3, 4});
    const auto got = waitTimed(4, 3000, t0);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_GE(got.back().ms, 3 * 60 * 0.8) << "the new 60 ms interval paces the bytes";
    wind.stop();

    wind.start();
    EXPECT_FALSE(wind.isRunning()) << "unconfigured: start does nothing";
}

TEST_F(WindPort, WideInitConvertsAndConfigures) {
    WindSerial wind;
    const std::wstring name(fan_.portName().begin(), fan_.portName().end());
    EXPECT_TRUE(initWindSerialOn(wind, name.c_str(), 250000, L"8N1", 15));
    EXPECT_TRUE(wind.isInit());
    wind.start();
    EXPECT_TRUE(wind.isRunning());
    EXPECT_EQ(waitBytes(1, 2000), Bytes{0});
    wind.stop();
}

// The host reconfigures the port while the game-source thread starts, pauses
// and stops it every tick (the thread sanitizer sees any unguarded member).
TEST_F(WindPort, ReconfiguringWhileAnotherThreadStartsAndStopsIsSafe) {
    WindSerial wind;
    ASSERT_TRUE(wind.init(fan_.portName(), 250000, "8N1", 1));
    std::atomic<bool> done{false};
    std::thread tick([&] {
        while (!done) {
            wind.start();
            wind.updateBuffer({7});
            wind.pause();
            wind.stop();
        }
    });
    for (int i = 0; i < 200; ++i) {
        EXPECT_TRUE(wind.init(fan_.portName(), i % 2 == 0 ? 9600 : 250000, i % 3 == 0 ? "7E2" : "8N1", 1));
        platform::sleepMs(1);
    }
    done = true;
    tick.join();
    wind.stop();
    EXPECT_FALSE(wind.isRunning());
    EXPECT_TRUE(portReleased());
}

TEST(WindSerial, StartsUnconfiguredAndRefusesMissingDevices) {
    WindSerial wind;
    EXPECT_FALSE(wind.isInit());
    EXPECT_FALSE(wind.isRunning());
    wind.start();
    EXPECT_FALSE(wind.isRunning());
    wind.pause();  // no port: nothing to write, nothing to crash
    wind.unpause();
    wind.stop();

    EXPECT_FALSE(wind.init(missingPort, 250000, "8N1", 15));
    EXPECT_FALSE(wind.init("", 250000, "8N1", 15));
    EXPECT_FALSE(initWindSerialOn(wind, L"COM97", 250000, L"8N1", 15));
    EXPECT_FALSE(wind.isInit());
    EXPECT_FALSE(initWindSerialOn(wind, nullptr, 250000, L"8N1", 15));
    EXPECT_FALSE(initWindSerialOn(wind, L"COM97", 250000, nullptr, 15));
    wind.start();
    EXPECT_FALSE(wind.isRunning());
}

}  // namespace
}  // namespace rez
