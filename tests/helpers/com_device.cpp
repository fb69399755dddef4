// Registers (or removes) a USB serial adapter in the Windows device list of
// a Wine prefix (sim/usb_serial_adapter.h), and lists the COM port devices as
// the library's enumeration sees them.
//
//   com_device add COMn [VID_xxxx&PID_xxxx]
//   com_device remove COMn...
//   com_device list
//
// Exit status 0 when done, 1 when the system refused (the reason on stderr),
// 2 on wrong use. The device stays in the prefix's registry until removed.
#include <cstdio>
#include <cstring>
#include <string>

#include "sim/usb_serial_adapter.h"

#if defined(_WIN32)

namespace {

using rez::sim::usb_adapter_detail::kComPortInterface;

int fail(const char* what) {
    std::fprintf(stderr, "com_device: %s failed, error %lu\n", what, GetLastError());
    return 1;
}

int report(bool ok, const std::string& whyNot) {
    if (!ok) std::fprintf(stderr, "com_device: %s\n", whyNot.c_str());
    return ok ? 0 : 1;
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
        std::fprintf(stderr, "usage: com_device add COMn [VID_xxxx&PID_xxxx] | com_device remove COMn... | com_device list\n");
        return 2;
    };
    if (argc == 2 && std::strcmp(argv[1], "list") == 0) return list();
    const std::string verb = argc > 1 ? argv[1] : "";
    const int ports = verb == "add" ? 1 : argc - 2;
    if (argc < 3 || (verb != "add" && verb != "remove") || (verb == "add" && argc > 4)) return usage();
    for (int i = 2; i < 2 + ports; ++i)
        if (std::strncmp(argv[i], "COM", 3) != 0 || std::strlen(argv[i]) < 4) return usage();
    std::string why;
    if (verb == "add") return report(rez::sim::addUsbSerialAdapter(argv[2], argc > 3 ? argv[3] : "VID_1A86&PID_7523", why), why);
    // A port without a device of ours is no failure: a run starts clean by removing.
    for (int i = 2; i < argc; ++i)
        if (!rez::sim::removeUsbSerialAdapter(argv[i], why)) return report(false, why);
    return 0;
}

#else

int main() {
    std::fprintf(stderr, "com_device: a Windows program (it registers a device with SetupAPI)\n");
    return 2;
}

#endif
