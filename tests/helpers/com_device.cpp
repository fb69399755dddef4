// Registers (or removes) a USB serial adapter in the Windows device list, so
// that a test prefix under Wine lists a COM port the way a machine with a
// controller plugged in does: a present device of the ports class under
// USB\VID_1A86&PID_7523\..., with the friendly name "USB-SERIAL CH340 (COMn)"
// and the adapter's hardware id, and the COM port interface.
//
//   com_device add COMn [VID_xxxx&PID_xxxx]
//   com_device remove COMn
//   com_device list
//
// Exit status 0 when done, 1 when the system refused (the reason on stderr),
// 2 on wrong use. The device stays in the prefix's registry until removed.
#include <cstdio>
#include <cstring>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#include <setupapi.h>

namespace {

// The ports setup class, {4D36E978-E325-11CE-BFC1-08002BE10318}, and the COM
// port device interface class, {86E0D1E0-8089-11D0-9CE4-08003E301F73}.
constexpr GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr GUID kComPortInterface = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

int fail(const char* what) {
    std::fprintf(stderr, "com_device: %s failed, error %lu\n", what, GetLastError());
    return 1;
}

// The instance id names the port, so that each COM port is a device of its own.
std::wstring instanceId(const std::string& usbId, const std::string& port) {
    return widen("USB\\" + usbId + "\\REZ_" + port);
}

int add(const std::string& port, const std::string& usbId) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kPortsClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) return fail("SetupDiCreateDeviceInfoList");
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    const std::wstring id = instanceId(usbId, port);
    int result = 0;
    if (!SetupDiCreateDeviceInfoW(set, id.c_str(), &kPortsClass, L"USB-SERIAL CH340", nullptr, 0, &info)) {
        result = fail("SetupDiCreateDeviceInfo");
    } else {
        const std::wstring friendly = widen("USB-SERIAL CH340 (" + port + ")");
        // A multi-string: the full id with its revision, then the shorter one,
        // then the closing empty string.
        std::wstring hardware = widen("USB\\" + usbId + "&REV_0264");
        hardware.push_back(L'\0');
        hardware += widen("USB\\" + usbId);
        hardware.push_back(L'\0');
        hardware.push_back(L'\0');
        if (!SetupDiSetDeviceRegistryPropertyW(set, &info, SPDRP_FRIENDLYNAME,
                                               reinterpret_cast<const BYTE*>(friendly.c_str()),
                                               static_cast<DWORD>((friendly.size() + 1) * sizeof(wchar_t))))
            result = fail("setting the friendly name");
        else if (!SetupDiSetDeviceRegistryPropertyW(set, &info, SPDRP_HARDWAREID,
                                                    reinterpret_cast<const BYTE*>(hardware.data()),
                                                    static_cast<DWORD>(hardware.size() * sizeof(wchar_t))))
            result = fail("setting the hardware id");
        else if (!SetupDiRegisterDeviceInfo(set, &info, 0, nullptr, nullptr, nullptr))
            result = fail("SetupDiRegisterDeviceInfo");
        else if (!SetupDiCreateDeviceInterfaceW(set, &info, &kComPortInterface, nullptr, 0, nullptr))
            result = fail("SetupDiCreateDeviceInterface");
    }
    SetupDiDestroyDeviceInfoList(set);
    return result;
}

int remove(const std::string& port) {
    HDEVINFO set = SetupDiGetClassDevsW(&kComPortInterface, nullptr, nullptr, DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return fail("SetupDiGetClassDevs");
    const std::wstring suffix = widen("\\REZ_" + port);
    int removed = 0;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        wchar_t id[512] = {};
        if (!SetupDiGetDeviceInstanceIdW(set, &info, id, 512, nullptr)) continue;
        const std::wstring text(id);
        if (text.size() < suffix.size() || _wcsicmp(text.c_str() + text.size() - suffix.size(), suffix.c_str()) != 0)
            continue;
        if (!SetupDiRemoveDevice(set, &info)) {
            SetupDiDestroyDeviceInfoList(set);
            return fail("SetupDiRemoveDevice");
        }
        ++removed;
    }
    SetupDiDestroyDeviceInfoList(set);
    if (removed == 0) std::fprintf(stderr, "com_device: no device of ours for %s\n", port.c_str());
    return 0;
}

// Every present COM port device with its friendly name and hardware ids, one
// line each, as the library's enumeration sees them.
int list() {
    HDEVINFO set = SetupDiGetClassDevsW(&kComPortInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return fail("SetupDiGetClassDevs");
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        wchar_t friendly[256] = {}, hardware[512] = {};
        SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_FRIENDLYNAME, nullptr, reinterpret_cast<BYTE*>(friendly),
                                          sizeof friendly - sizeof(wchar_t), nullptr);
        SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_HARDWAREID, nullptr, reinterpret_cast<BYTE*>(hardware),
                                          sizeof hardware - 2 * sizeof(wchar_t), nullptr);
        std::printf("%ls |", friendly);
        for (const wchar_t* p = hardware; *p; p += wcslen(p) + 1) std::printf(" %ls", p);
        std::printf("\n");
    }
    SetupDiDestroyDeviceInfoList(set);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const auto usage = [] {
        std::fprintf(stderr, "usage: com_device add COMn [VID_xxxx&PID_xxxx] | com_device remove COMn | com_device list\n");
        return 2;
    };
    if (argc == 2 && std::strcmp(argv[1], "list") == 0) return list();
    if (argc < 3) return usage();
    const std::string verb = argv[1], port = argv[2];
    if (port.rfind("COM", 0) != 0 || port.size() < 4) return usage();
    if (verb == "add") return add(port, argc > 3 ? argv[3] : "VID_1A86&PID_7523");
    if (verb == "remove") return remove(port);
    return usage();
}

#else

int main() {
    std::fprintf(stderr, "com_device: a Windows program (it registers a device with SetupAPI)\n");
    return 2;
}

#endif
