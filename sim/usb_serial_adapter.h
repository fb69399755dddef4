#pragma once
// A USB serial adapter in the Windows device list, so that a test prefix
// under Wine lists a COM port the way a machine with a controller plugged in
// does: a present device of the ports class under USB\<vid&pid>\REZ_COMn,
// with the friendly name "USB-SERIAL CH340 (COMn)", the adapter's hardware
// ids and the COM port interface. It stays in the prefix's registry until it
// is removed. Used in-process by the emulated controller (sim/) and by the
// com_device helper (tests/helpers/), which link different libraries; hence
// a header. Windows only: elsewhere both calls refuse.
#include <string>

#if defined(_WIN32)
#include <windows.h>
#include <setupapi.h>
#endif

namespace rez::sim {

#if defined(_WIN32)

namespace usb_adapter_detail {

// The ports setup class, {4D36E978-E325-11CE-BFC1-08002BE10318}, and the COM
// port device interface class, {86E0D1E0-8089-11D0-9CE4-08003E301F73}.
constexpr GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
constexpr GUID kComPortInterface = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

inline std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

inline bool fail(const char* what, std::string& whyNot) {
    whyNot = std::string(what) + " failed, error " + std::to_string(GetLastError());
    return false;
}

}  // namespace usb_adapter_detail

// Removes every adapter of ours on `port` (none there is no failure).
inline bool removeUsbSerialAdapter(const std::string& port, std::string& whyNot) {
    using namespace usb_adapter_detail;
    HDEVINFO set = SetupDiGetClassDevsW(&kComPortInterface, nullptr, nullptr, DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return fail("SetupDiGetClassDevs", whyNot);
    // The instance id ends in the port's name, so each COM port is a device of its own.
    const std::wstring suffix = widen("\\REZ_" + port);
    bool ok = true;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    for (DWORD i = 0; ok && SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        wchar_t id[512] = {};
        if (!SetupDiGetDeviceInstanceIdW(set, &info, id, 512, nullptr)) continue;
        const std::wstring text(id);
        if (text.size() < suffix.size() || _wcsicmp(text.c_str() + text.size() - suffix.size(), suffix.c_str()) != 0)
            continue;
        if (!SetupDiRemoveDevice(set, &info)) ok = fail("SetupDiRemoveDevice", whyNot);
    }
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

// Registers the adapter on `port` ("COM8"), replacing one of ours already there.
inline bool addUsbSerialAdapter(const std::string& port, const std::string& usbId, std::string& whyNot) {
    using namespace usb_adapter_detail;
    if (!removeUsbSerialAdapter(port, whyNot)) return false;
    HDEVINFO set = SetupDiCreateDeviceInfoList(&kPortsClass, nullptr);
    if (set == INVALID_HANDLE_VALUE) return fail("SetupDiCreateDeviceInfoList", whyNot);
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    const std::wstring id = widen("USB\\" + usbId + "\\REZ_" + port);
    bool ok = true;
    if (!SetupDiCreateDeviceInfoW(set, id.c_str(), &kPortsClass, L"USB-SERIAL CH340", nullptr, 0, &info)) {
        ok = fail("SetupDiCreateDeviceInfo", whyNot);
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
            ok = fail("setting the friendly name", whyNot);
        else if (!SetupDiSetDeviceRegistryPropertyW(set, &info, SPDRP_HARDWAREID,
                                                    reinterpret_cast<const BYTE*>(hardware.data()),
                                                    static_cast<DWORD>(hardware.size() * sizeof(wchar_t))))
            ok = fail("setting the hardware id", whyNot);
        else if (!SetupDiRegisterDeviceInfo(set, &info, 0, nullptr, nullptr, nullptr))
            ok = fail("SetupDiRegisterDeviceInfo", whyNot);
        else if (!SetupDiCreateDeviceInterfaceW(set, &info, &kComPortInterface, nullptr, 0, nullptr))
            ok = fail("SetupDiCreateDeviceInterface", whyNot);
    }
    SetupDiDestroyDeviceInfoList(set);
    return ok;
}

#else

inline bool removeUsbSerialAdapter(const std::string&, std::string& whyNot) {
    whyNot = "no Windows device list here";
    return false;
}

inline bool addUsbSerialAdapter(const std::string&, const std::string&, std::string& whyNot) {
    whyNot = "no Windows device list here";
    return false;
}

#endif

}  // namespace rez::sim
