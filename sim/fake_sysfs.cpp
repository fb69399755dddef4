#include "sim/fake_sysfs.h"

#include <filesystem>
#include <fstream>
#include <random>

#include "platform/com_devices.h"
#include "platform/environment.h"
#include "platform/serial_port.h"

namespace rez::sim {
namespace fs = std::filesystem;

namespace {

std::string makeTempFolder(const char* prefix) {
    std::random_device random;
    std::error_code error;
    const fs::path path = fs::temp_directory_path(error) / (prefix + std::to_string(random()) + std::to_string(random()));
    fs::create_directories(path, error);
    return path.string();
}

void restore(const char* variable, const std::optional<std::string>& previous) {
    if (previous)
        platform::setEnvironmentVariable(variable, *previous);
    else
        platform::unsetEnvironmentVariable(variable);
}

bool writeFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path);
    out << text << '\n';
    return static_cast<bool>(out);
}

}  // namespace

FakeSysfs::FakeSysfs()
    : root_(makeTempFolder("rez-sysfs-")), previous_(platform::environmentVariable("REZ_SYSFS_ROOT")) {
    platform::setEnvironmentVariable("REZ_SYSFS_ROOT", root_);
}

FakeSysfs::~FakeSysfs() {
    restore("REZ_SYSFS_ROOT", previous_);
    std::error_code error;
    fs::remove_all(root_, error);
}

bool FakeSysfs::supported() { return !platform::sysfsRoot().empty(); }

bool FakeSysfs::addUsbTty(const std::string& tty, const std::string& vendor, const std::string& product,
                          const std::string& revision, const std::string& productName) {
    // The shape of real sysfs: the USB device holds the ids, its interface
    // holds the tty, and class/tty/<tty> links to the tty inside it.
    const std::string bus = std::to_string(++devices_);
    const fs::path usbDevice = fs::path(root_) / "devices" / ("usb" + bus) / (bus + "-1");
    const fs::path interface = usbDevice / (bus + "-1:1.0");
    const fs::path ttyFolder = interface / "tty" / tty;
    const fs::path classLink = fs::path(root_) / "class" / "tty" / tty;
    std::error_code error;
    fs::create_directories(ttyFolder, error);
    fs::create_directories(classLink.parent_path(), error);
    if (error) return false;
    bool ok = writeFile(usbDevice / "idVendor", vendor) && writeFile(usbDevice / "idProduct", product);
    if (!revision.empty()) ok = ok && writeFile(usbDevice / "bcdDevice", revision);
    if (!productName.empty()) ok = ok && writeFile(usbDevice / "product", productName);
    fs::remove(classLink, error);
    fs::create_directory_symlink(ttyFolder, classLink, error);
    if (error) return false;
    fs::create_directory_symlink(interface, ttyFolder / "device", error);
    return ok && !error;
}

bool FakeSysfs::addUsbPort(const std::string& portName, const std::string& vendor, const std::string& product,
                           const std::string& revision, const std::string& productName) {
    std::string entry = portName;
    for (char& c : entry) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    std::error_code error;
    const fs::path target = fs::canonical(fs::path(platform::serialDeviceFolder()) / entry, error);
    if (error) return false;
    return addUsbTty(target.filename().string(), vendor, product, revision, productName);
}

FakeComFolder::FakeComFolder()
    : root_(makeTempFolder("rez-comdir-")), previous_(platform::environmentVariable("REZ_COM_DIR")) {
    std::error_code error;
    fs::create_directories(fs::path(root_) / "links", error);
    fs::create_directories(fs::path(root_) / "dev", error);
    platform::setEnvironmentVariable("REZ_COM_DIR", (fs::path(root_) / "links").string());
}

FakeComFolder::~FakeComFolder() {
    restore("REZ_COM_DIR", previous_);
    std::error_code error;
    fs::remove_all(root_, error);
}

bool FakeComFolder::addPort(const std::string& name, const std::string& device) {
    const fs::path target = fs::path(root_) / "dev" / (device.empty() ? "absent" : device);
    if (!device.empty() && !fs::exists(target) && !writeFile(target, "")) return false;
    std::error_code error;
    fs::create_symlink(target, fs::path(root_) / "links" / name, error);
    return !error;
}

}  // namespace rez::sim
