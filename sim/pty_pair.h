#pragma once
// A serial line for tests: the library opens one end by its COM name, the
// test plays the device (the fan, the controller) at the other end.
//
// Linux: a pseudo-terminal made in this process, reachable as "COMn" through
// a temporary folder of comN links that REZ_COM_DIR points at.
// Windows (run under Wine): two COM ports joined by the null_modem helper on
// the Linux side and named in REZ_TEST_SERIAL_PAIR ("COM8,COM9"), which
// scripts/wine-serial-test.sh sets up. Without it open() fails with a reason
// and the tests that need a line skip. The helper takes commands on the port
// named in REZ_TEST_SERIAL_CONTROL, which pull the near end out and plug it
// in again.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/pseudo_terminal.h"
#include "platform/serial_port.h"

namespace rez::sim {

struct TimedByte {
    unsigned char value;
    double ms;  // arrival, from the origin given to collect()
};

class PtyPair {
public:
    PtyPair() = default;
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool open(std::string& whyNot);
    // The name the library opens, e.g. "COM7".
    const std::string& portName() const { return portName_; }

    // Far end: bytes the port under test wrote (0 when none came within
    // timeoutMs, -1 on failure), and bytes for it to read.
    int read(unsigned char* buffer, int length, int timeoutMs);
    bool write(const std::vector<unsigned char>& bytes);
    // Everything that arrives within `ms`.
    std::vector<unsigned char> readFor(int ms);
    // Arrivals until `ms` after `origin` (a platform counter value), with times.
    std::vector<TimedByte> collect(std::int64_t origin, int ms);
    // Throws away whatever is pending at the far end.
    void drain();

    // Line settings of the port under test. Under Wine they are read through
    // a second handle, so ask after the library has closed its own.
    bool portSettings(platform::SerialSettings& settings);

    // True for the in-process pseudo-terminal (Linux), whose line settings
    // are read straight from the device, rate included.
    bool inProcess() const { return pty_.isOpen(); }
    // In-process only: the device disappears from, and comes back to, its name.
    bool unplug();
    bool plugBack();

    // The device is pulled out: every handle the library has on it fails
    // from now on, and its name is gone.
    bool pullOut(std::string& whyNot);
    // Under Wine only: a device is plugged in again at the near end, under
    // `name`. Wine lists only the ports registered as its prefix started, so
    // the name is one the script registered.
    bool plugIn(const std::string& name, std::string& whyNot);

private:
    platform::PseudoTerminal pty_;
    std::string portName_;
    std::string linkPath_;
    platform::SerialHandle far_ = platform::invalidSerialHandle;
};

// Milliseconds between two platform counter values.
double elapsedMs(std::int64_t from, std::int64_t to);

}  // namespace rez::sim
