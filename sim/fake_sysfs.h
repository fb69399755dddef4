#pragma once
// Stand-ins for what the Linux side reads to list COM ports and tell their
// USB adapters apart: a sysfs tree and a folder of comN links, each in a
// temporary folder that an environment variable points at while the object
// lives (REZ_SYSFS_ROOT, REZ_COM_DIR); the old value comes back afterwards.
//
//   FakeSysfs sys;
//   sys.addUsbTty("7", "1A86", "7523", "0264");  // /dev/pts/7 is now a CH340
//   sys.addUsbPort(line.portName(), "1A86", "7523", "0264");  // the same, by COM name
//
// Windows reads SetupAPI instead: there the trees are made but nobody reads them.
#include <optional>
#include <string>

namespace rez::sim {

class FakeSysfs {
public:
    FakeSysfs();
    ~FakeSysfs();
    FakeSysfs(const FakeSysfs&) = delete;
    FakeSysfs& operator=(const FakeSysfs&) = delete;

    // Whether the library reads sysfs on this system.
    static bool supported();

    // The tty named `tty` (its device node's file name: "ttyUSB0", or "7" for
    // /dev/pts/7) sits on a USB device with these ids, written into the
    // files as given (real sysfs shows lower-case hex). An empty revision
    // or product name leaves that file out.
    bool addUsbTty(const std::string& tty, const std::string& vendor, const std::string& product,
                   const std::string& revision, const std::string& productName = "");
    // The same for the device that the COM port's link (serialDeviceFolder()) points at.
    bool addUsbPort(const std::string& portName, const std::string& vendor, const std::string& product,
                    const std::string& revision, const std::string& productName = "");

private:
    std::string root_;
    std::optional<std::string> previous_;
    int devices_ = 0;
};

class FakeComFolder {
public:
    FakeComFolder();
    ~FakeComFolder();
    FakeComFolder(const FakeComFolder&) = delete;
    FakeComFolder& operator=(const FakeComFolder&) = delete;

    // A link `name` ("com12", letter case kept) to an empty file named
    // `device` ("ttyUSB3"), made on first use; an empty device gives a
    // link to nothing, a port that is not present.
    bool addPort(const std::string& name, const std::string& device);

private:
    std::string root_;
    std::optional<std::string> previous_;
};

}  // namespace rez::sim
