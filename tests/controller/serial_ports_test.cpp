#include "controller/serial_ports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <regex>
#include <thread>

#include "controller/link_flags.h"
#include "platform/clock.h"
#include "platform/com_devices.h"
#include "sim/fake_sysfs.h"
#include "sim/pty_pair.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

int portNumber(const sim::PtyPair& line) { return std::stoi(line.portName().substr(3)); }

// The code a call on a closed handle fails with on this system.
std::uint32_t invalidHandleCode() {
    unsigned char byte = 0;
    platform::serialRead(platform::invalidSerialHandle, &byte, 1);
    return platform::serialLastError();
}

TEST(EnumerateSerial, KeepsOnlyComWithDigitsInTheListsOrder) {
    sim::FakeComFolder folder;
    if (platform::serialDeviceFolder().empty()) GTEST_SKIP() << "the system lists its own DOS devices";
    for (const char* name : {"COM3", "COM", "COM1A", "com12", "LPT1"}) ASSERT_TRUE(folder.addPort(name, name));
    std::vector<std::uint32_t> ports = {99};
    ASSERT_TRUE(CEnumerateSerial::UsingQueryDosDevice(ports));
    EXPECT_EQ(ports, (std::vector<std::uint32_t>{3, 12}));
}

TEST(EnumerateSerial, ListsTheComPortsOfTheLine) {
    sim::PtyPair line;
    std::string why;
    if (!line.open(why)) GTEST_SKIP() << why;
    std::vector<std::uint32_t> ports;
    ASSERT_TRUE(CEnumerateSerial::UsingQueryDosDevice(ports));
    std::string listed;
    for (std::uint32_t port : ports) listed += " COM" + std::to_string(port);
    EXPECT_NE(std::find(ports.begin(), ports.end(), static_cast<std::uint32_t>(portNumber(line))), ports.end())
        << listed;
    // What this system's device list holds, for whoever reads the log.
    std::vector<platform::ComDevice> devices;
    const bool devicesListed = platform::listComDevices(devices);
    std::printf("COM ports listed:%s\nCOM devices (%s): %zu\n", listed.c_str(), devicesListed ? "listed" : "no list",
                devices.size());
    for (const platform::ComDevice& device : devices) {
        std::printf("  %s:", device.friendlyName.c_str());
        for (const std::string& id : device.hardwareIds) std::printf(" %s", id.c_str());
        std::printf("\n");
    }
}

TEST(UsbIdentity, FragmentsMatchByteForByteAnywhereInTheList) {
    struct Case {
        std::vector<std::string> ids;
        bool accepted;
    };
    const Case cases[] = {
        {{"USB\\VID_1A86&PID_7523&REV_0264"}, true},
        {{"ACPI\\PNP0501", "USB\\VID_0403&PID_6001&REV_0600"}, true},
        {{"USB\\VID_10C4&PID_EA60"}, true},
        {{"USB\\VID_03EB&PID_6124"}, true},
        {{"USB\\vid_1a86&pid_7523"}, false},
        {{"USB\\VID_1A86&PID_7524", "USB\\VID_0403"}, false},
        {{}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(acceptedUsbId(c.ids), c.accepted) << ::testing::PrintToString(c.ids);
    }
}

TEST(UsbIdentity, PortIsFoundBySubstringOfTheFriendlyName) {
    sim::FakeComFolder folder;
    sim::FakeSysfs sysfs;
    if (!sim::FakeSysfs::supported()) GTEST_SKIP() << "COM devices come from SetupAPI here";
    // Real sysfs shows the ids in lower case; Windows shows them upper case.
    ASSERT_TRUE(folder.addPort("com10", "ttyUSB0"));
    ASSERT_TRUE(sysfs.addUsbTty("ttyUSB0", "1a86", "7523", "0264", "USB-SERIAL CH340"));
    ASSERT_TRUE(folder.addPort("com4", "ttyUSB1"));
    ASSERT_TRUE(sysfs.addUsbTty("ttyUSB1", "0403", "6001", "0600"));
    ASSERT_TRUE(folder.addPort("com5", "ttyS0"));  // no USB device behind it
    ASSERT_TRUE(folder.addPort("com6", "ttyUSB2"));
    ASSERT_TRUE(sysfs.addUsbTty("ttyUSB2", "067b", "2303", ""));

    struct Case {
        const char* port;
        bool accepted;
        const char* printed;
    };
    const Case cases[] = {
        {"COM1", true, ""},  // plain substring: "(COM10)" holds it
        {"COM10", true, ""},
        {"COM4", true, ""},
        {"COM5", false, "vid wrong \n\r"},
        {"COM6", false, "vid wrong \n\r"},
        {"COM7", false, ""},
        {"com10", false, ""},  // the substring test minds letter case
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStdout();
        const bool accepted = checkUsbId(c.port);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.port;
        EXPECT_EQ(accepted, c.accepted) << c.port;
    }
}

TEST(ControllerPort, OpensTheLineForTheController) {
    sim::PtyPair line;
    std::string why;
    if (!line.open(why)) GTEST_SKIP() << why;
    if (line.inProcess()) {
        // Flow control left on by an earlier user of the port must go.
        platform::SerialHandle earlier = platform::serialOpen(line.portName());
        platform::SerialSettings settings;
        ASSERT_TRUE(platform::serialGetSettings(earlier, settings));
        settings.ctsOutputFlow = settings.xonXoffOutput = settings.xonXoffInput = true;
        settings.stopBits = platform::SerialStopBits::Two;
        ASSERT_TRUE(platform::serialSetSettings(earlier, settings));
        platform::serialClose(earlier);
    }

    ASSERT_TRUE(openControllerPort(portNumber(line)));
    const platform::SerialTimeouts timeouts = controllerPort().GetTimeouts();
    EXPECT_EQ(timeouts.readTotalConstant, 10000u);
    EXPECT_EQ(timeouts.writeTotalConstant, 10000u);

    // Both ways over the line, as the link uses it.
    const unsigned char request[] = {0xF9, 0xF9, 0x01, 0x00, 0x00, 0x00, 0x0A, 0x0D};
    ASSERT_EQ(controllerPort().Write(request, sizeof request), 8);
    std::vector<unsigned char> seen;
    for (int tries = 0; tries < 50 && seen.size() < sizeof request; ++tries) {
        const auto more = line.readFor(100);
        seen.insert(seen.end(), more.begin(), more.end());
    }
    EXPECT_EQ(seen, std::vector<unsigned char>(request, request + sizeof request));
    ASSERT_TRUE(line.write({0xF9, 0x0A, 0x0D}));
    const std::int64_t start = platform::counterNow();
    while (controllerPort().BytesWaiting() < 3 && sim::elapsedMs(start, platform::counterNow()) < 10000)
        platform::sleepMs(5);
    ASSERT_EQ(controllerPort().BytesWaiting(), 3u);
    unsigned char reply[3] = {};
    ASSERT_EQ(controllerPort().Read(reply, 3), 3);
    EXPECT_EQ(std::vector<unsigned char>(reply, reply + 3), (std::vector<unsigned char>{0xF9, 0x0A, 0x0D}));

    linkFlags().portConnected = true;
    EXPECT_TRUE(closeControllerPort());
    EXPECT_FALSE(linkFlags().portConnected);
    EXPECT_FALSE(controllerPort().isOpen());

    platform::SerialSettings settings;
    ASSERT_TRUE(line.portSettings(settings));
    EXPECT_EQ(settings.dataBits, 8);
    EXPECT_EQ(settings.parity, platform::SerialParity::None);
    EXPECT_EQ(settings.stopBits, platform::SerialStopBits::One);
    EXPECT_FALSE(settings.ctsOutputFlow || settings.xonXoffOutput || settings.xonXoffInput);
    // Wine cannot put 250000 on a pseudo-terminal and shows 38400; the Wine
    // script checks from Wine's own trace that it was asked for 250000.
    if (line.inProcess()) {
        EXPECT_EQ(settings.baudRate, 250000u);
    }
}

TEST(ControllerPort, MissingPortPrintsTheOpenFailure) {
    sim::FakeComFolder folder;  // an empty one on Linux
    testing::internal::CaptureStdout();
    const bool opened = openControllerPort(97);
    const std::uint32_t lastError = platform::serialLastError();
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(opened);
    std::smatch code;
    ASSERT_TRUE(std::regex_match(printed, code, std::regex("Serialexception when open port\\. , Error:([0-9]+)\n")))
        << printed;
    EXPECT_NE(code[1].str(), "0") << "the cause of the failure was lost";
    EXPECT_EQ(code[1].str(), std::to_string(lastError)) << "the caller sees the same cause";
}

TEST(ControllerPort, OpenClosesTheHandleAlreadyOpen) {
    sim::PtyPair first;
    sim::PtyPair second;
    std::string why;
    if (!first.open(why) || !second.open(why)) GTEST_SKIP() << why;
    if (!first.inProcess()) GTEST_SKIP() << "only Linux ports refuse a second handle";
    CSerialPort port;
    ASSERT_TRUE(port.Open(portNumber(first)));
    ASSERT_TRUE(port.Open(portNumber(first))) << "the old handle still holds the port";
    ASSERT_TRUE(port.Open(portNumber(second)));
    platform::SerialHandle again = platform::serialOpen(first.portName());
    EXPECT_NE(again, platform::invalidSerialHandle) << "the first port was never let go";
    platform::serialClose(again);
}

TEST(ControllerPort, CloseFromAnotherThreadWaitsForTheCallInProgress) {
    sim::PtyPair line;
    std::string why;
    if (!line.open(why)) GTEST_SKIP() << why;
    CSerialPort port;
    ASSERT_TRUE(port.Open(portNumber(line)));
    platform::SerialTimeouts timeouts;
    timeouts.readTotalConstant = 20;
    timeouts.writeTotalConstant = 20;
    port.SetTimeouts(timeouts);

    std::atomic<int> calls{0};
    std::atomic<std::uint32_t> failure{0};
    std::thread user([&] {
        unsigned char byte = 0x55;
        try {
            for (;;) {
                port.Read(&byte, 1);
                port.Write(&byte, 1);
                port.BytesWaiting();
                ++calls;
            }
        } catch (const CSerialException& e) {
            failure = e.m_dwError;
        }
    });
    const std::int64_t start = platform::counterNow();
    while (calls < 5 && sim::elapsedMs(start, platform::counterNow()) < 10000) platform::sleepMs(1);
    port.Close();
    user.join();
    EXPECT_GE(calls, 5);
    EXPECT_EQ(failure, invalidHandleCode());
    EXPECT_FALSE(port.isOpen());
}

TEST(SerialException, FormatErrorTextCutsToTheBuffer) {
    std::string full;
    ASSERT_TRUE(platform::serialErrorText(2, full));
    ASSERT_GT(full.size(), 4u);
    struct Case {
        std::uint32_t code;
        unsigned maxChars;
        bool found;
        std::string text;
    };
    const Case cases[] = {
        {2, 256, true, full},
        {2, 5, true, full.substr(0, 4)},
        {2, 1, true, ""},
        {0x7ABC1234u, 256, false, ""},
    };
    for (const Case& c : cases) {
        char buffer[300];
        std::memset(buffer, 'x', sizeof buffer);
        std::uint32_t help = 77;
        EXPECT_EQ(CSerialException(c.code).FormatErrorText(buffer, c.maxChars, &help), c.found) << c.maxChars;
        EXPECT_EQ(std::string(buffer), c.text) << c.maxChars;
        EXPECT_EQ(buffer[c.maxChars], 'x') << "wrote past maxChars";
        EXPECT_EQ(help, 0u);
    }
}

}  // namespace
}  // namespace rez
