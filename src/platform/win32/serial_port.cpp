#include "platform/serial_port.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/sized_query.h"
#include "platform/win32/wide.h"

namespace rez::platform {

namespace {

HANDLE handleOf(SerialHandle handle) { return reinterpret_cast<HANDLE>(handle); }

bool validHandle(SerialHandle handle) {
    if (handle == invalidSerialHandle || handle == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return true;
}

bool readDcb(HANDLE handle, DCB& dcb) {
    dcb = DCB{};
    dcb.DCBlength = sizeof dcb;
    return GetCommState(handle, &dcb) != FALSE;
}

}  // namespace

std::string serialDeviceFolder() { return {}; }

SerialHandle serialOpen(const std::string& deviceName) {
    if (deviceName.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return invalidSerialHandle;
    }
    // Names are UTF-8 inside the library; the wide call keeps them intact.
    const std::wstring path = L"\\\\.\\" + widen(deviceName);
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return invalidSerialHandle;
    return reinterpret_cast<SerialHandle>(handle);
}

void serialClose(SerialHandle& handle) {
    if (handle == invalidSerialHandle || handle == 0) return;
    const DWORD saved = GetLastError();
    CloseHandle(handleOf(handle));
    handle = invalidSerialHandle;
    SetLastError(saved);
}

bool serialGetSettings(SerialHandle handle, SerialSettings& settings) {
    if (!validHandle(handle)) return false;
    DCB dcb;
    if (!readDcb(handleOf(handle), dcb)) return false;
    settings.baudRate = dcb.BaudRate;
    settings.dataBits = dcb.ByteSize;
    switch (dcb.Parity) {
        case ODDPARITY: settings.parity = SerialParity::Odd; break;
        case EVENPARITY: settings.parity = SerialParity::Even; break;
        case MARKPARITY: settings.parity = SerialParity::Mark; break;
        case SPACEPARITY: settings.parity = SerialParity::Space; break;
        default: settings.parity = SerialParity::None; break;
    }
    switch (dcb.StopBits) {
        case ONE5STOPBITS: settings.stopBits = SerialStopBits::OneAndHalf; break;
        case TWOSTOPBITS: settings.stopBits = SerialStopBits::Two; break;
        default: settings.stopBits = SerialStopBits::One; break;
    }
    settings.parityCheck = dcb.fParity != 0;
    settings.ctsOutputFlow = dcb.fOutxCtsFlow != 0;
    settings.dsrOutputFlow = dcb.fOutxDsrFlow != 0;
    settings.dsrSensitivity = dcb.fDsrSensitivity != 0;
    settings.xonXoffOutput = dcb.fOutX != 0;
    settings.xonXoffInput = dcb.fInX != 0;
    return true;
}

bool serialSetSettings(SerialHandle handle, const SerialSettings& settings) {
    if (!validHandle(handle)) return false;
    // Out-of-range values would wrap in the DCB's byte fields; refuse them the
    // way a driver refuses a rate of 0.
    if (settings.baudRate == 0 || settings.dataBits < 5 || settings.dataBits > 8) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    DCB dcb;
    if (!readDcb(handleOf(handle), dcb)) return false;
    dcb.BaudRate = settings.baudRate;
    dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
    switch (settings.parity) {
        case SerialParity::None: dcb.Parity = NOPARITY; break;
        case SerialParity::Odd: dcb.Parity = ODDPARITY; break;
        case SerialParity::Even: dcb.Parity = EVENPARITY; break;
        case SerialParity::Mark: dcb.Parity = MARKPARITY; break;
        case SerialParity::Space: dcb.Parity = SPACEPARITY; break;
        default: SetLastError(ERROR_INVALID_PARAMETER); return false;
    }
    switch (settings.stopBits) {
        case SerialStopBits::One: dcb.StopBits = ONESTOPBIT; break;
        case SerialStopBits::OneAndHalf: dcb.StopBits = ONE5STOPBITS; break;
        case SerialStopBits::Two: dcb.StopBits = TWOSTOPBITS; break;
        default: SetLastError(ERROR_INVALID_PARAMETER); return false;
    }
    dcb.fParity = settings.parityCheck ? TRUE : FALSE;
    dcb.fOutxCtsFlow = settings.ctsOutputFlow ? TRUE : FALSE;
    dcb.fOutxDsrFlow = settings.dsrOutputFlow ? TRUE : FALSE;
    dcb.fDsrSensitivity = settings.dsrSensitivity ? TRUE : FALSE;
    dcb.fOutX = settings.xonXoffOutput ? TRUE : FALSE;
    dcb.fInX = settings.xonXoffInput ? TRUE : FALSE;
    // With it set, one framing or overrun error fails every later read and
    // write until the errors are cleared, and the link loop never clears them.
    dcb.fAbortOnError = FALSE;
    return SetCommState(handleOf(handle), &dcb) != FALSE;
}

bool serialGetTimeouts(SerialHandle handle, SerialTimeouts& timeouts) {
    if (!validHandle(handle)) return false;
    COMMTIMEOUTS ct{};
    if (!GetCommTimeouts(handleOf(handle), &ct)) return false;
    timeouts.readInterval = ct.ReadIntervalTimeout;
    timeouts.readTotalMultiplier = ct.ReadTotalTimeoutMultiplier;
    timeouts.readTotalConstant = ct.ReadTotalTimeoutConstant;
    timeouts.writeTotalMultiplier = ct.WriteTotalTimeoutMultiplier;
    timeouts.writeTotalConstant = ct.WriteTotalTimeoutConstant;
    return true;
}

bool serialSetTimeouts(SerialHandle handle, const SerialTimeouts& timeouts) {
    if (!validHandle(handle)) return false;
    COMMTIMEOUTS ct{};
    ct.ReadIntervalTimeout = timeouts.readInterval;
    ct.ReadTotalTimeoutMultiplier = timeouts.readTotalMultiplier;
    ct.ReadTotalTimeoutConstant = timeouts.readTotalConstant;
    ct.WriteTotalTimeoutMultiplier = timeouts.writeTotalMultiplier;
    ct.WriteTotalTimeoutConstant = timeouts.writeTotalConstant;
    return SetCommTimeouts(handleOf(handle), &ct) != FALSE;
}

int serialRead(SerialHandle handle, void* buffer, int length) {
    if (!validHandle(handle)) return -1;
    if (length < 0 || (length > 0 && buffer == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    DWORD got = 0;
    if (!ReadFile(handleOf(handle), buffer, static_cast<DWORD>(length), &got, nullptr)) return got > 0 ? static_cast<int>(got) : -1;
    return static_cast<int>(got);
}

int serialWrite(SerialHandle handle, const void* data, int length) {
    if (!validHandle(handle)) return -1;
    if (length < 0 || (length > 0 && data == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    DWORD done = 0;
    if (!WriteFile(handleOf(handle), data, static_cast<DWORD>(length), &done, nullptr)) return done > 0 ? static_cast<int>(done) : -1;
    return static_cast<int>(done);
}

bool serialPurge(SerialHandle handle, bool input, bool output) {
    if (!validHandle(handle)) return false;
    DWORD flags = 0;
    if (input) flags |= PURGE_RXABORT | PURGE_RXCLEAR;
    if (output) flags |= PURGE_TXABORT | PURGE_TXCLEAR;
    if (flags == 0) return true;
    return PurgeComm(handleOf(handle), flags) != FALSE;
}

bool serialClearErrors(SerialHandle handle, SerialQueueStatus* status) {
    if (!validHandle(handle)) return false;
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(handleOf(handle), &errors, status != nullptr ? &stat : nullptr)) return false;
    if (status != nullptr) {
        status->errors = errors;
        status->inQueue = stat.cbInQue;
        status->outQueue = stat.cbOutQue;
    }
    return true;
}

bool serialModemStatus(SerialHandle handle, std::uint32_t& lines) {
    if (!validHandle(handle)) return false;
    DWORD bits = 0;
    if (!GetCommModemStatus(handleOf(handle), &bits)) {
        // A line without modem signals (Wine's view of a pseudo-terminal)
        // has none to report; that is not a broken port.
        if (GetLastError() != ERROR_NOT_SUPPORTED) return false;
        bits = 0;
    }
    lines = bits;
    return true;
}

bool serialSetQueueSizes(SerialHandle handle, std::uint32_t input, std::uint32_t output) {
    if (!validHandle(handle)) return false;
    return SetupComm(handleOf(handle), input, output) != FALSE;
}

bool serialHasDefaultConfig(const std::string& deviceName) {
    if (deviceName.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // A driver that keeps provider data after the record asks for more than
    // the bare COMMCONFIG and fails the call until it gets it.
    constexpr int kAttempts = 3;
    const std::wstring name = widen(deviceName);
    SizedBuffer buffer;
    const SizedOutcome outcome =
        fillSized(buffer, sizeof(COMMCONFIG), kAttempts, [&](unsigned char* bytes, std::uint32_t& room) {
            auto* config = reinterpret_cast<COMMCONFIG*>(bytes);
            *config = COMMCONFIG{};
            config->dwSize = sizeof(COMMCONFIG);
            DWORD asked = room;
            if (GetDefaultCommConfigW(name.c_str(), config, &asked)) return SizedAnswer::done;
            room = asked;
            return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? SizedAnswer::tooSmall : SizedAnswer::failed;
        });
    if (outcome == SizedOutcome::noMemory) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return outcome == SizedOutcome::done;
}

bool dosDeviceExists(const std::string& name) {
    // An empty name would ask for the whole list and succeed.
    if (name.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    wchar_t target[256];
    return QueryDosDeviceW(widen(name).c_str(), target, 256) != 0;
}

bool listDosDevices(std::vector<std::string>& names) {
    names.clear();
    std::vector<wchar_t> buffer(4096);
    DWORD length = 0;
    for (;;) {
        length = QueryDosDeviceW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length != 0) break;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || buffer.size() >= (std::size_t{1} << 26)) return false;
        buffer.resize(buffer.size() * 2);
    }
    std::size_t at = 0;
    const std::size_t end = std::min<std::size_t>(length, buffer.size());
    while (at < end && buffer[at] != L'\0') {
        std::size_t stop = at;
        while (stop < end && buffer[stop] != L'\0') ++stop;
        names.push_back(narrow(std::wstring(buffer.data() + at, stop - at)));
        at = stop + 1;
    }
    return true;
}

std::uint32_t serialLastError() { return GetLastError(); }

void setSerialLastError(std::uint32_t code) { SetLastError(code); }

bool serialErrorText(std::uint32_t code, std::string& text) {
    text.clear();
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT), reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    if (length == 0 || message == nullptr) return false;
    text = narrow(std::wstring(message, length));
    LocalFree(message);
    // The system ends its messages with a line break; the caller places its own.
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return !text.empty();
}

}  // namespace rez::platform
