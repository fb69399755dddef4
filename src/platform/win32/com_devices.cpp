#include "platform/com_devices.h"

#include <windows.h>
#include <setupapi.h>

#include "platform/win32/wide.h"

namespace rez::platform {

namespace {

// The COM port device interface class, {86E0D1E0-8089-11D0-9CE4-08003E301F73}
// (GUID_DEVINTERFACE_COMPORT, spelt out to keep initguid.h out of this file).
constexpr GUID comPortInterface = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

// Every member index the list is walked up to; a set this large means
// something is wrong with it, not a machine with 6000 COM ports.
constexpr DWORD lastMemberIndex = 5999;

// Properties are read into a buffer of this many bytes; a longer one counts
// as unreadable.
constexpr DWORD propertyBytes = 1024;

constexpr DWORD propertyChars = propertyBytes / sizeof(wchar_t);
using PropertyBuffer = wchar_t[propertyChars + 2];

// A string or string-list property as wide characters, followed by two
// terminators whatever the driver stored.
bool readProperty(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property, PropertyBuffer& buffer) {
    DWORD size = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &info, property, nullptr, reinterpret_cast<BYTE*>(buffer),
                                           propertyBytes, &size))
        return false;
    const DWORD end = size / sizeof(wchar_t) < propertyChars ? size / sizeof(wchar_t) : propertyChars;
    buffer[end] = L'\0';
    buffer[end + 1] = L'\0';
    return true;
}

}  // namespace

std::string sysfsRoot() { return {}; }

bool listComDevices(std::vector<ComDevice>& devices) {
    devices.clear();
    HDEVINFO set = SetupDiGetClassDevsW(&comPortInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return false;
    for (DWORD index = 0; index <= lastMemberIndex; ++index) {
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof info;
        if (!SetupDiEnumDeviceInfo(set, index, &info)) {
            if (GetLastError() == ERROR_NO_MORE_ITEMS) break;
            continue;
        }
        PropertyBuffer buffer;
        if (!readProperty(set, info, SPDRP_FRIENDLYNAME, buffer)) continue;
        ComDevice device;
        device.friendlyName = narrow(buffer);
        // A device without a readable hardware-id list keeps an empty one.
        if (readProperty(set, info, SPDRP_HARDWAREID, buffer)) {
            for (const wchar_t* id = buffer; *id != L'\0'; id += wcslen(id) + 1) device.hardwareIds.push_back(narrow(id));
        }
        devices.push_back(std::move(device));
    }
    SetupDiDestroyDeviceInfoList(set);
    return true;
}

}  // namespace rez::platform
