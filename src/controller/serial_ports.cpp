#include "controller/serial_ports.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "controller/link_flags.h"
#include "core/console.h"
#include "platform/clock.h"
#include "platform/com_devices.h"
#include "platform/module.h"

namespace rez {

namespace {

// The USB serial adapters that controllers are built with, as vendor and
// product id fragments of a Windows hardware id, most common first.
constexpr const char* acceptedFragments[] = {
    "VID_1A86&PID_7523",
    "VID_0403&PID_6001",
    "VID_10C4&PID_EA60",
    "VID_03EB&PID_6124",
};

constexpr int controllerBaud = 250000;
constexpr std::uint32_t controllerQueueBytes = 5120;
// Long enough for any controller reply; the read after the identity request
// waits this long for a silent device.
constexpr std::uint32_t controllerTimeoutMs = 10000;

struct ControllerPortState {
    CSerialPort port;
    std::mutex statusLock;
    platform::SerialQueueStatus status;
};

ControllerPortState& controllerState() noexcept {
    static ControllerPortState state;
    return state;
}

// The number of a DOS device name made of COM (any case) and decimal digits
// only; -1 for every other name, and for a number no port call could take.
long long comNumber(const std::string& name) {
    if (name.size() <= 3) return -1;
    for (int i = 0; i < 3; ++i) {
        const char c = name[static_cast<std::size_t>(i)];
        if (c != "COM"[i] && c != "com"[i]) return -1;
    }
    long long number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return -1;
        number = number * 10 + (name[i] - '0');
        if (number > INT_MAX) return -1;
    }
    return number;
}

}  // namespace

std::string comName(long long number) { return "COM" + std::to_string(number); }

CSerialException::CSerialException(std::uint32_t error) : m_dwError(error) {}

CSerialException::~CSerialException() = default;

const char* CSerialException::what() const noexcept { return std::exception::what(); }

bool CSerialException::FormatErrorText(char* buffer, unsigned maxChars, std::uint32_t* helpContext) const {
    if (helpContext != nullptr) *helpContext = 0;
    if (buffer == nullptr || maxChars == 0) return false;
    buffer[0] = '\0';
    std::string text;
    if (!platform::serialErrorText(m_dwError, text)) return false;
    const std::size_t length = std::min<std::size_t>(text.size(), maxChars - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return true;
}

void throwSerialException() { throw CSerialException(platform::serialLastError()); }

CSerialPort2::~CSerialPort2() {
    // At process exit the system has already ended a host thread lent to the
    // link, perhaps inside Read or Write with lock_ held: take no lock, and
    // leave the handle to the system.
    if (platform::processEnding()) return;
    Close();
}

bool CSerialPort2::isOpen() const {
    std::lock_guard<std::mutex> lock(lock_);
    return m_hComm != platform::invalidSerialHandle;
}

platform::SerialHandle CSerialPort2::watchHandle() const {
    std::lock_guard<std::mutex> lock(lock_);
    return m_hComm;
}

void CSerialPort2::Close() {
    std::lock_guard<std::mutex> lock(lock_);
    platform::serialClose(m_hComm);
}

int CSerialPort2::Write(const void* data, int length) {
    std::lock_guard<std::mutex> lock(lock_);
    const int written = platform::serialWrite(m_hComm, data, length);
    if (written < 0) throwSerialException();
    return written;
}

int CSerialPort2::Read(void* buffer, int length) {
    std::lock_guard<std::mutex> lock(lock_);
    const int got = platform::serialRead(m_hComm, buffer, length);
    if (got < 0) throwSerialException();
    return got;
}

std::uint32_t CSerialPort2::BytesWaiting() {
    std::lock_guard<std::mutex> lock(lock_);
    platform::SerialQueueStatus status;
    if (!platform::serialClearErrors(m_hComm, &status)) throwSerialException();
    return status.inQueue;
}

void CSerialPort2::Purge(bool input, bool output) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!platform::serialPurge(m_hComm, input, output)) throwSerialException();
}

std::uint32_t CSerialPort2::ModemStatus() {
    std::lock_guard<std::mutex> lock(lock_);
    std::uint32_t lines = 0;
    if (!platform::serialModemStatus(m_hComm, lines)) throwSerialException();
    return lines;
}

void CSerialPort2::ClearErrors(platform::SerialQueueStatus* status) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!platform::serialClearErrors(m_hComm, status)) throwSerialException();
}

platform::SerialTimeouts CSerialPort2::GetTimeouts() {
    std::lock_guard<std::mutex> lock(lock_);
    platform::SerialTimeouts timeouts;
    if (!platform::serialGetTimeouts(m_hComm, timeouts)) throwSerialException();
    return timeouts;
}

void CSerialPort2::SetTimeouts(const platform::SerialTimeouts& timeouts) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!platform::serialSetTimeouts(m_hComm, timeouts)) throwSerialException();
}

void CSerialPort2::SetQueueSizes(std::uint32_t input, std::uint32_t output) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!platform::serialSetQueueSizes(m_hComm, input, output)) throwSerialException();
}

bool CSerialPort::Open(int port) {
    const std::string name = comName(port);
    std::lock_guard<std::mutex> lock(lock_);
    platform::serialClose(m_hComm);
    m_hComm = platform::serialOpen(name);
    if (m_hComm == platform::invalidSerialHandle) return false;

    platform::SerialSettings settings;
    bool ok = platform::serialGetSettings(m_hComm, settings);
    if (ok) {
        settings.baudRate = controllerBaud;
        settings.dataBits = 8;
        settings.parity = platform::SerialParity::None;
        settings.stopBits = platform::SerialStopBits::One;
        settings.ctsOutputFlow = false;
        settings.dsrOutputFlow = false;
        settings.dsrSensitivity = false;
        settings.xonXoffOutput = false;
        settings.xonXoffInput = false;
        ok = platform::serialSetSettings(m_hComm, settings);
    }
    // Closing keeps the thread's last error, so the caller still sees why
    // the set-up failed.
    if (!ok) platform::serialClose(m_hComm);
    return ok;
}

bool CEnumerateSerial::UsingQueryDosDevice(std::vector<std::uint32_t>& ports) {
    ports.clear();
    std::vector<std::string> names;
    if (!platform::listDosDevices(names)) return false;
    for (const std::string& name : names) {
        const long long number = comNumber(name);
        if (number >= 0) ports.push_back(static_cast<std::uint32_t>(number));
    }
    return true;
}

CSerialPort& controllerPort() noexcept { return controllerState().port; }

platform::SerialQueueStatus controllerQueueStatus() {
    ControllerPortState& state = controllerState();
    std::lock_guard<std::mutex> lock(state.statusLock);
    return state.status;
}

bool openControllerPort(int port) {
    ControllerPortState& state = controllerState();
    try {
        if (!platform::serialHasDefaultConfig(comName(port))) throwSerialException();
        if (!state.port.Open(port)) throwSerialException();
        // A short pause between the open and the first line calls gives a USB
        // adapter's driver time to settle.
        platform::sleepMs(5);
        state.port.ModemStatus();
        state.port.ClearErrors(nullptr);
        platform::SerialQueueStatus status;
        state.port.ClearErrors(&status);
        {
            std::lock_guard<std::mutex> lock(state.statusLock);
            state.status = status;
        }
        platform::SerialTimeouts timeouts = state.port.GetTimeouts();
        timeouts.readTotalConstant = controllerTimeoutMs;
        timeouts.writeTotalConstant = controllerTimeoutMs;
        state.port.SetTimeouts(timeouts);
        state.port.SetQueueSizes(controllerQueueBytes, controllerQueueBytes);
        return true;
    } catch (const CSerialException& e) {
        // Throwing and printing can both reset the thread's last error (the
        // unwinder's thread-local look-ups do under mingw); the cause is put
        // back for this message and again for the caller, which reports it too.
        platform::setSerialLastError(e.m_dwError);
        consolePrint("Serialexception when open port. , Error:%u\n", platform::serialLastError());
        platform::setSerialLastError(e.m_dwError);
        return false;
    }
}

bool closeControllerPort() {
    linkFlags().portConnected = false;
    controllerPort().Close();
    return true;
}

bool acceptedUsbId(const std::vector<std::string>& hardwareIds) {
    for (const char* fragment : acceptedFragments) {
        for (const std::string& id : hardwareIds)
            if (id.find(fragment) != std::string::npos) return true;
    }
    return false;
}

bool checkUsbId(const std::string& portName) {
    std::vector<platform::ComDevice> devices;
    if (!platform::listComDevices(devices)) return false;
    // A plain substring, so COM1 also picks a device named "(COM10)"; each
    // such device without a known adapter is reported.
    for (const platform::ComDevice& device : devices) {
        if (device.friendlyName.find(portName) == std::string::npos) continue;
        if (acceptedUsbId(device.hardwareIds)) return true;
        consolePrint("vid wrong \n\r");
    }
    return false;
}

}  // namespace rez
