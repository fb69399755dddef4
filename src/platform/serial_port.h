#pragma once
// Serial ports, opened by their DOS device name ("COM5").
//
// Windows: COM handles ("\\.\COM5"), the device control block, COMMTIMEOUTS,
// and the DOS device names for the existence test and the port list.
//
// Linux: a device name maps to a device node through a directory of links
// named after the lower-case device name ("com5" -> /dev/ttyUSB0), the layout
// Wine uses for its dosdevices folder. The folder is $REZ_COM_DIR, else
// $WINEPREFIX/dosdevices, else $HOME/.wine/dosdevices; tests point it at
// pseudo-terminals. Line settings go through termios2, so any baud rate
// (250000 included) is set exactly. Reads and writes follow the Windows
// time-out rules, so callers behave the same on both systems.
//
// Failures return false / -1 / an invalid handle and leave the system's error
// code in serialLastError() (GetLastError or errno).
#include <cstdint>
#include <string>
#include <vector>

namespace rez::platform {

// An open port; invalidSerialHandle when closed. Fits the std::intptr_t that
// the exported WindSerial class keeps.
using SerialHandle = std::intptr_t;
inline constexpr SerialHandle invalidSerialHandle = -1;

enum class SerialParity : std::uint8_t { None, Odd, Even, Mark, Space };
enum class SerialStopBits : std::uint8_t { One, OneAndHalf, Two };

// The part of the device control block that callers change. Setting a port
// reads its current state first, so everything not listed here stays as the
// port had it.
struct SerialSettings {
    std::uint32_t baudRate = 0;
    int dataBits = 8;  // 5 to 8
    SerialParity parity = SerialParity::None;
    SerialStopBits stopBits = SerialStopBits::One;
    bool parityCheck = false;     // check parity of received bytes
    bool ctsOutputFlow = false;   // hold output while CTS is low
    bool dsrOutputFlow = false;   // hold output while DSR is low (Windows only)
    bool dsrSensitivity = false;  // drop input while DSR is low (Windows only)
    bool xonXoffOutput = false;   // stop sending on XOFF
    bool xonXoffInput = false;    // send XOFF when the input fills
};

// COMMTIMEOUTS, in milliseconds. All zero: a read waits for every byte asked
// for. readInterval = serialTimeoutMax with both read totals 0: a read returns
// at once with what has arrived. readInterval and readTotalMultiplier =
// serialTimeoutMax with a constant c: a read returns as soon as anything has
// arrived, or after c ms with nothing.
struct SerialTimeouts {
    std::uint32_t readInterval = 0;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 0;
    std::uint32_t writeTotalConstant = 0;
};
inline constexpr std::uint32_t serialTimeoutMax = 0xFFFFFFFFu;

// Error flags (CE_* bits; always 0 on Linux) and queue fill, from clearing
// the port's error state.
struct SerialQueueStatus {
    std::uint32_t errors = 0;
    std::uint32_t inQueue = 0;
    std::uint32_t outQueue = 0;
};

// Modem-status bits as Windows numbers them.
inline constexpr std::uint32_t serialCtsOn = 0x10;
inline constexpr std::uint32_t serialDsrOn = 0x20;
inline constexpr std::uint32_t serialRingOn = 0x40;
inline constexpr std::uint32_t serialCarrierOn = 0x80;

// Opens the device for reading and writing, exclusively, for synchronous I/O.
SerialHandle serialOpen(const std::string& deviceName);
// Closes a valid handle and marks it invalid; keeps the thread's last error,
// so a failure path can close first and report the original cause.
void serialClose(SerialHandle& handle);

bool serialGetSettings(SerialHandle handle, SerialSettings& settings);
bool serialSetSettings(SerialHandle handle, const SerialSettings& settings);
bool serialGetTimeouts(SerialHandle handle, SerialTimeouts& timeouts);
bool serialSetTimeouts(SerialHandle handle, const SerialTimeouts& timeouts);

// Bytes read or written (fewer than asked when a time-out ran out), or -1.
int serialRead(SerialHandle handle, void* buffer, int length);
int serialWrite(SerialHandle handle, const void* data, int length);

// Drops pending input and/or output.
bool serialPurge(SerialHandle handle, bool input, bool output);
// Clears the error state; fills *status when it is not null.
bool serialClearErrors(SerialHandle handle, SerialQueueStatus* status);
// Modem-status bits. A device without modem lines (a pseudo-terminal, also
// as Wine shows one: "not supported") reports none rather than failing.
bool serialModemStatus(SerialHandle handle, std::uint32_t& lines);
// Driver queue sizes (SetupComm); Linux has fixed tty buffers and accepts any.
bool serialSetQueueSizes(SerialHandle handle, std::uint32_t input, std::uint32_t output);
// Whether the system has a default configuration for the named port
// (GetDefaultCommConfig; on Linux: the name maps to an existing device).
bool serialHasDefaultConfig(const std::string& deviceName);

// Whether the name is a DOS device name (QueryDosDevice with a 256-character
// target; on Linux: a link of that name whose target exists).
bool dosDeviceExists(const std::string& name);
// All DOS device names in the system's order (Windows: QueryDosDevice's own,
// its buffer growing from 4096 characters while the system says it is too
// small). On Linux: the names in the link folder whose targets exist,
// upper-cased as Windows shows them, COM3 before COM12; a missing folder
// gives an empty list.
bool listDosDevices(std::vector<std::string>& names);

// The thread's last error code, and a way to put one back.
std::uint32_t serialLastError();
void setSerialLastError(std::uint32_t code);
// The system's message for an error code, on one line with no line break at
// its end; false (and empty) for a code the system has no message for.
bool serialErrorText(std::uint32_t code, std::string& text);

// Linux: the folder of comN links in use now; Windows: empty.
std::string serialDeviceFolder();

}  // namespace rez::platform
