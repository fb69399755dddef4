#pragma once
// Pseudo-terminals: the stand-in for a serial device (the fan, the motion
// controller) in tests and tools. The library side opens the device path like
// any serial port; the test holds the other side. Windows has none: open()
// fails there and the Windows run gets its ports from a Linux-side helper.
#include <string>

#include "platform/serial_port.h"

namespace rez::platform {

class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    static bool supported();

    // Makes a new pair with a raw device side. The device side stays open
    // here as well, so its settings survive the library closing its handle
    // and the far side never sees a hang-up.
    bool open();
    void close();
    bool isOpen() const;
    // Path of the device side, e.g. /dev/pts/3.
    const std::string& devicePath() const { return devicePath_; }

    // Far side: what the device side wrote (0 when nothing came within
    // timeoutMs, -1 on failure), and bytes for the device side to read.
    int read(void* buffer, int length, int timeoutMs);
    int write(const void* data, int length);

    // Line settings the device side has now. A Linux pseudo-terminal always
    // keeps 8 data bits without parity; rate and stop bits are what was set.
    bool lineSettings(SerialSettings& settings) const;

private:
    int far_ = -1;
    int device_ = -1;
    std::string devicePath_;
};

}  // namespace rez::platform
