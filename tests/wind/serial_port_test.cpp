// The serial-port service over a real line: a pseudo-terminal in this
// process on Linux, two COM ports joined by a null modem under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "platform/clock.h"
#include "platform/serial_port.h"
#include "sim/pty_pair.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez::platform {
namespace {

using sim::elapsedMs;

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!line_.open(why)) GTEST_SKIP() << why;
        port_ = serialOpen(line_.portName());
        ASSERT_NE(port_, invalidSerialHandle) << "error " << serialLastError();
        SerialSettings settings;
        ASSERT_TRUE(serialGetSettings(port_, settings));
        settings.baudRate = 250000;
        settings.dataBits = 8;
        settings.parity = SerialParity::None;
        settings.stopBits = SerialStopBits::One;
        // Raw, whatever an earlier test left on the line.
        settings.xonXoffOutput = false;
        settings.xonXoffInput = false;
        ASSERT_TRUE(serialSetSettings(port_, settings));
        ASSERT_TRUE(serialPurge(port_, true, true));
    }
    void TearDown() override { serialClose(port_); }

    sim::PtyPair line_;
    SerialHandle port_ = invalidSerialHandle;
};

TEST_F(SerialPort, CarriesEveryByteValueBothWays) {
    // Line ends and XON/XOFF characters pass unchanged: the port is raw.
    const std::vector<unsigned char> out = {0x00, 0x0A, 0x0D, 0x11, 0x13, 0x03, 0x7F, 0xFF, 0xFC};
    ASSERT_EQ(serialWrite(port_, out.data(), static_cast<int>(out.size())), static_cast<int>(out.size()));
    std::vector<unsigned char> seen;
    for (int tries = 0; tries < 20 && seen.size() < out.size(); ++tries) {
        auto more = line_.readFor(100);
        seen.insert(seen.end(), more.begin(), more.end());
    }
    EXPECT_EQ(seen, out);

    const std::vector<unsigned char> in = {0x0D, 0x0A, 0x11, 0x00, 0xFE};
    ASSERT_TRUE(line_.write(in));
    SerialTimeouts timeouts;
    timeouts.readTotalConstant = 2000;
    ASSERT_TRUE(serialSetTimeouts(port_, timeouts));
    std::vector<unsigned char> got(in.size());
    EXPECT_EQ(serialRead(port_, got.data(), static_cast<int>(got.size())), static_cast<int>(in.size()));
    EXPECT_EQ(got, in);
}

TEST_F(SerialPort, RateAndStopBitsReachTheDevice) {
    struct Case {
        std::uint32_t baud;
        SerialStopBits stopBits;
    };
    for (const Case& c : {Case{9600, SerialStopBits::One}, Case{250000, SerialStopBits::Two},
                          Case{115200, SerialStopBits::One}, Case{250000, SerialStopBits::One}}) {
        SerialSettings settings;
        ASSERT_TRUE(serialGetSettings(port_, settings));
        settings.baudRate = c.baud;
        settings.stopBits = c.stopBits;
        ASSERT_TRUE(serialSetSettings(port_, settings)) << c.baud;

        SerialSettings device;
        ASSERT_TRUE(line_.portSettings(device));
        EXPECT_EQ(device.stopBits, c.stopBits) << c.baud;
        // Wine shows a custom rate as 38400; the pseudo-terminal shows the truth.
        if (line_.inProcess()) {
            EXPECT_EQ(device.baudRate, c.baud);
            SerialSettings back;
            ASSERT_TRUE(serialGetSettings(port_, back));
            EXPECT_EQ(back.baudRate, c.baud);
            EXPECT_EQ(back.stopBits, c.stopBits);
        }
    }
}

TEST_F(SerialPort, RefusesSettingsNoPortCanTake) {
    SerialSettings good;
    ASSERT_TRUE(serialGetSettings(port_, good));
    struct Case {
        const char* what;
        std::uint32_t baud;
        int dataBits;
    };
    for (const Case& c : {Case{"rate 0", 0, 8}, Case{"4 data bits", 9600, 4}, Case{"9 data bits", 9600, 9},
                          Case{"negative data bits", 9600, -3}}) {
        SerialSettings bad = good;
        bad.baudRate = c.baud;
        bad.dataBits = c.dataBits;
        EXPECT_FALSE(serialSetSettings(port_, bad)) << c.what;
    }
}

TEST_F(SerialPort, ReadsFollowTheTimeoutRules) {
    struct Case {
        const char* what;
        SerialTimeouts timeouts;
        int ask;
        std::vector<unsigned char> pending;
        int expectBytes;
        double atLeastMs;
        double atMostMs;
        bool wineDiffers = false;
    };
    const std::uint32_t max = serialTimeoutMax;
    const Case cases[] = {
        {"return at once, nothing there", {max, 0, 0, 0, 0}, 8, {}, 0, 0, 500},
        {"return at once with what is there", {max, 0, 0, 0, 0}, 8, {1, 2, 3}, 3, 0, 500},
        {"total constant runs out", {0, 0, 100, 0, 0}, 8, {}, 0, 80, 2000},
        {"total with multiplier runs out part-way", {0, 10, 50, 0, 0}, 4, {7, 8}, 2, 70, 2000},
        // Wine 8 waits out the constant here, bytes or not.
        {"any byte ends the wait", {max, max, 3000, 0, 0}, 8, {9, 9}, 2, 0, 1500, true},
        {"a quiet gap ends the wait", {20, 0, 3000, 0, 0}, 8, {1, 2, 3}, 3, 0, 1500},
        {"nothing within the constant", {max, max, 100, 0, 0}, 8, {}, 0, 80, 2000},
        {"all asked bytes end the wait", {0, 0, 3000, 0, 0}, 3, {4, 5, 6}, 3, 0, 1500},
    };
    for (const Case& c : cases) {
        if (c.wineDiffers && !line_.inProcess()) continue;
        ASSERT_TRUE(serialPurge(port_, true, true));
        line_.drain();
        if (!c.pending.empty()) {
            ASSERT_TRUE(line_.write(c.pending));
            sleepMs(100);  // let the bytes arrive before the read starts
        }
        ASSERT_TRUE(serialSetTimeouts(port_, c.timeouts));
        SerialTimeouts back;
        ASSERT_TRUE(serialGetTimeouts(port_, back));
        EXPECT_EQ(back.readTotalConstant, c.timeouts.readTotalConstant);

        std::vector<unsigned char> buffer(static_cast<std::size_t>(c.ask));
        const std::int64_t start = counterNow();
        const int n = serialRead(port_, buffer.data(), c.ask);
        const double took = elapsedMs(start, counterNow());
        EXPECT_EQ(n, c.expectBytes) << c.what;
        EXPECT_GE(took, c.atLeastMs) << c.what;
        EXPECT_LE(took, c.atMostMs) << c.what;
        if (n > 0) {
            buffer.resize(static_cast<std::size_t>(n));
            EXPECT_EQ(buffer, std::vector<unsigned char>(c.pending.begin(), c.pending.begin() + n)) << c.what;
        }
    }
}

TEST_F(SerialPort, PurgeDropsPendingInputAndQueueStatusCountsIt) {
    ASSERT_TRUE(line_.write({1, 2, 3}));
    sleepMs(100);
    SerialQueueStatus status;
    ASSERT_TRUE(serialClearErrors(port_, nullptr));
    ASSERT_TRUE(serialClearErrors(port_, &status));
    EXPECT_EQ(status.inQueue, 3u);

    ASSERT_TRUE(serialPurge(port_, true, false));
    ASSERT_TRUE(serialClearErrors(port_, &status));
    EXPECT_EQ(status.inQueue, 0u);
    ASSERT_TRUE(serialSetTimeouts(port_, {serialTimeoutMax, 0, 0, 0, 0}));
    unsigned char buffer[8];
    EXPECT_EQ(serialRead(port_, buffer, sizeof buffer), 0);
}

TEST_F(SerialPort, DeviceNamesAreFoundAndListed) {
    EXPECT_TRUE(dosDeviceExists(line_.portName()));
    std::string lower = line_.portName();
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    EXPECT_TRUE(dosDeviceExists(lower)) << "device names ignore letter case";
    EXPECT_FALSE(dosDeviceExists("COM97"));
    EXPECT_FALSE(dosDeviceExists(""));

    std::vector<std::string> names;
    ASSERT_TRUE(listDosDevices(names));
    EXPECT_NE(std::find(names.begin(), names.end(), line_.portName()), names.end());
    EXPECT_EQ(std::find(names.begin(), names.end(), "COM97"), names.end());
}

TEST_F(SerialPort, MissingDevicesFailToOpenAndCloseKeepsTheError) {
    SerialHandle missing = serialOpen("COM97");
    EXPECT_EQ(missing, invalidSerialHandle);
    const std::uint32_t code = serialLastError();
    EXPECT_NE(code, 0u);
    std::string text;
    EXPECT_TRUE(serialErrorText(code, text));
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(serialOpen(""), invalidSerialHandle);

    setSerialLastError(1234);
    serialClose(port_);
    EXPECT_EQ(port_, invalidSerialHandle);
    EXPECT_EQ(serialLastError(), 1234u) << "closing must not hide the error being reported";
    serialClose(port_);  // a closed handle is left alone

    port_ = serialOpen(line_.portName());
    EXPECT_NE(port_, invalidSerialHandle) << "the closed handle released the device";
}

// Rules of the Linux side that Wine does not share: exclusive opens, names
// confined to the link folder, no modem lines on a pseudo-terminal.
TEST_F(SerialPort, LinuxPortsAreExclusiveAndConfinedToTheirFolder) {
    if (!line_.inProcess()) GTEST_SKIP() << "Wine does not enforce exclusive COM access";
    EXPECT_EQ(serialOpen(line_.portName()), invalidSerialHandle) << "a second handle on an open port";
    for (const char* name : {"../com1", ".", "..", "a/b"}) {
        EXPECT_FALSE(dosDeviceExists(name)) << name;
        EXPECT_EQ(serialOpen(name), invalidSerialHandle) << name;
    }
    std::uint32_t lines = 0xFFFF;
    EXPECT_TRUE(serialModemStatus(port_, lines));
    EXPECT_EQ(lines, 0u);
    EXPECT_TRUE(serialHasDefaultConfig(line_.portName()));
    EXPECT_FALSE(serialHasDefaultConfig("COM97"));

    ASSERT_TRUE(line_.unplug());
    EXPECT_FALSE(dosDeviceExists(line_.portName()));
    ASSERT_TRUE(line_.plugBack());
    EXPECT_TRUE(dosDeviceExists(line_.portName()));
}

}  // namespace
}  // namespace rez::platform
