// COM devices with their USB identities, from the link folder and sysfs.
#include "platform/com_devices.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "sim/fake_sysfs.h"
#include "sim/pty_pair.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez::platform {
namespace {

// One line per device, so a failure shows what was listed.
std::vector<std::string> describe(const std::vector<ComDevice>& devices) {
    std::vector<std::string> lines;
    for (const ComDevice& d : devices) {
        std::string line = d.friendlyName + ":";
        for (const std::string& id : d.hardwareIds) line += " " + id;
        lines.push_back(line);
    }
    return lines;
}

TEST(ComDevices, LinksShowTheirUsbIdsAsWindowsDoes) {
    sim::FakeComFolder folder;
    sim::FakeSysfs sysfs;
    if (!sim::FakeSysfs::supported()) GTEST_SKIP() << "COM devices come from SetupAPI here";
    ASSERT_TRUE(folder.addPort("com12", "ttyUSB0"));
    ASSERT_TRUE(sysfs.addUsbTty("ttyUSB0", "1a86", "7523", "0264", "USB-SERIAL CH340"));
    ASSERT_TRUE(folder.addPort("com3", "ttyACM0"));
    ASSERT_TRUE(sysfs.addUsbTty("ttyACM0", "03eb", "6124", ""));
    ASSERT_TRUE(folder.addPort("COM7", "ttyS1"));
    ASSERT_TRUE(folder.addPort("com8", ""));  // the device is gone
    ASSERT_TRUE(folder.addPort("lpt1", "lp0"));

    std::vector<ComDevice> devices;
    ASSERT_TRUE(listComDevices(devices));
    EXPECT_EQ(describe(devices), (std::vector<std::string>{
                                     "ttyACM0 (COM3): USB\\VID_03EB&PID_6124",
                                     "ttyS1 (COM7):",
                                     "USB-SERIAL CH340 (COM12): USB\\VID_1A86&PID_7523&REV_0264 USB\\VID_1A86&PID_7523",
                                 }));
}

TEST(ComDevices, PseudoTerminalTakesAFakeUsbIdentity) {
    if (!sim::FakeSysfs::supported()) GTEST_SKIP() << "COM devices come from SetupAPI here";
    sim::PtyPair line;
    std::string why;
    if (!line.open(why)) GTEST_SKIP() << why;
    sim::FakeSysfs sysfs;
    ASSERT_TRUE(sysfs.addUsbPort(line.portName(), "1A86", "7523", "0264"));
    std::vector<ComDevice> devices;
    ASSERT_TRUE(listComDevices(devices));
    const auto found = std::find_if(devices.begin(), devices.end(), [&](const ComDevice& d) {
        return d.friendlyName.find("(" + line.portName() + ")") != std::string::npos;
    });
    ASSERT_NE(found, devices.end());
    EXPECT_EQ(found->hardwareIds,
              (std::vector<std::string>{"USB\\VID_1A86&PID_7523&REV_0264", "USB\\VID_1A86&PID_7523"}));
}

}  // namespace
}  // namespace rez::platform
