#include "platform/com_devices.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <fstream>

#include "platform/posix/name_order.h"
#include "platform/serial_port.h"

namespace rez::platform {

namespace {

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), upperAscii);
    return text;
}

std::string canonical(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return {};
    return resolved;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The first line of a sysfs attribute, without surrounding blanks.
bool readAttribute(const std::string& path, std::string& value) {
    std::ifstream in(path);
    if (!in || !std::getline(in, value)) return false;
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!value.empty() && blank(value.back())) value.pop_back();
    std::size_t start = 0;
    while (start < value.size() && blank(value[start])) ++start;
    value.erase(0, start);
    return !value.empty();
}

struct UsbIdentity {
    std::string vendor;
    std::string product;
    std::string revision;  // empty when the device shows none
    std::string name;      // the device's product string, if it has one
};

// The USB device behind the tty named `tty`: the nearest folder above the
// tty's device that holds idVendor and idProduct, within the sysfs root.
bool usbIdentityOf(const std::string& tty, UsbIdentity& id) {
    const std::string root = canonical(sysfsRoot());
    if (root.empty() || tty.empty() || tty == "." || tty == "..") return false;
    std::string folder = canonical(root + "/class/tty/" + tty + "/device");
    while (folder.size() > root.size() && folder.compare(0, root.size(), root) == 0 && folder[root.size()] == '/') {
        if (readAttribute(folder + "/idVendor", id.vendor) && readAttribute(folder + "/idProduct", id.product)) {
            if (!readAttribute(folder + "/bcdDevice", id.revision)) id.revision.clear();
            if (!readAttribute(folder + "/product", id.name)) id.name.clear();
            return true;
        }
        folder.erase(folder.rfind('/'));
    }
    return false;
}

bool isComEntry(const std::string& name) {
    return name.size() > 3 && upper(name.substr(0, 3)) == "COM" && name.find('/') == std::string::npos;
}

}  // namespace

std::string sysfsRoot() {
    if (const char* root = std::getenv("REZ_SYSFS_ROOT"); root != nullptr && *root != '\0') return root;
    return "/sys";
}

bool listComDevices(std::vector<ComDevice>& devices) {
    devices.clear();
    const std::string folder = serialDeviceFolder();
    if (folder.empty()) return true;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return errno == ENOENT || errno == ENOTDIR;

    std::vector<std::pair<std::string, std::string>> ports;  // port name, device path
    while (dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!isComEntry(name)) continue;
        // A link whose device is gone is a port that is not present.
        std::string target = canonical(folder + "/" + name);
        if (target.empty() || isDirectory(target)) continue;
        ports.emplace_back(upper(name), std::move(target));
    }
    ::closedir(dir);
    std::sort(ports.begin(), ports.end(), [](const auto& a, const auto& b) { return naturalLess(a.first, b.first); });

    for (const auto& [port, target] : ports) {
        const std::string tty = target.substr(target.rfind('/') + 1);
        ComDevice device;
        UsbIdentity id;
        if (usbIdentityOf(tty, id)) {
            const std::string plain = "USB\\VID_" + upper(id.vendor) + "&PID_" + upper(id.product);
            if (!id.revision.empty()) device.hardwareIds.push_back(plain + "&REV_" + upper(id.revision));
            device.hardwareIds.push_back(plain);
        }
        device.friendlyName = (id.name.empty() ? tty : id.name) + " (" + port + ")";
        devices.push_back(std::move(device));
    }
    return true;
}

}  // namespace rez::platform
