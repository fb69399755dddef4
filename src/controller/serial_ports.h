#pragma once
// The motion controller's serial port: the port classes, the exception that a
// failing serial call raises, the COM port list and the USB identity test that
// decides whether a COM port may have a controller behind it.
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace rez {

// A serial call failed; m_dwError is the thread's last error code when it did.
class CSerialException : public std::exception {
public:
    explicit CSerialException(std::uint32_t error);
    ~CSerialException() override;
    const char* what() const noexcept override;  // the plain std::exception text
    // Copies the system's message for m_dwError into buffer, cut to
    // maxChars - 1 characters and terminated. Without a message from the
    // system: false and an empty buffer. Sets *helpContext (if given) to 0.
    virtual bool FormatErrorText(char* buffer, unsigned maxChars, std::uint32_t* helpContext) const;
    std::uint32_t m_dwError;
};
// Raises CSerialException with the thread's last serial error.
[[noreturn]] void throwSerialException();

// Owns one port handle. Each call takes the port's lock for its own length
// only: a Close() from another thread waits until a read or write in progress
// is over, and a call made after the close fails with the system's
// invalid-handle code instead of reaching a closed (or reused) handle.
class CSerialPort2 {
public:
    CSerialPort2() = default;
    CSerialPort2(const CSerialPort2&) = delete;
    CSerialPort2& operator=(const CSerialPort2&) = delete;
    virtual ~CSerialPort2();  // closes the handle if it is still open

    bool isOpen() const;
    void Close();  // closes an open handle and marks it closed; never throws

    // These throw CSerialException when the system call fails.
    int Write(const void* data, int length);  // bytes written
    int Read(void* buffer, int length);       // bytes read; fewer when the read time-out ran out
    std::uint32_t BytesWaiting();             // bytes in the input queue; clears the error state too
    void Purge(bool input, bool output);

    // The rest of the port's set-up, for openControllerPort; these throw too.
    std::uint32_t ModemStatus();
    void ClearErrors(platform::SerialQueueStatus* status);  // status may be null
    platform::SerialTimeouts GetTimeouts();
    void SetTimeouts(const platform::SerialTimeouts& timeouts);
    void SetQueueSizes(std::uint32_t input, std::uint32_t output);

    // The handle for a wait on incoming data (the link's pass watches it);
    // invalidSerialHandle when closed. The port may be closed while a wait
    // holds it: such a wait only ends early, and the read that follows goes
    // through the calls above.
    platform::SerialHandle watchHandle() const;

protected:
    mutable std::mutex lock_;
    platform::SerialHandle m_hComm = platform::invalidSerialHandle;
};

class CSerialPort : public CSerialPort2 {
public:
    // Opens "COMn" at 250000 baud, 8 data bits, no parity, one stop bit and no
    // flow control. A handle that is already open is closed first.
    bool Open(int port);
};

class CEnumerateSerial {
public:
    // The numbers of the COM ports the system lists, in the system's order.
    static bool UsingQueryDosDevice(std::vector<std::uint32_t>& ports);
};

// The controller port, one per process; whether a controller answered on it
// is linkFlags().portConnected.
CSerialPort& controllerPort() noexcept;
// Opens and sets up the controller port; prints the failure and returns false.
bool openControllerPort(int port);
// The queue status read by the last successful openControllerPort.
platform::SerialQueueStatus controllerQueueStatus();
bool closeControllerPort();  // clears portConnected and closes the port; always true
// Whether a present COM device whose friendly name holds portName ("COM7")
// carries one of the USB adapters a controller is built with.
bool checkUsbId(const std::string& portName);
// "COM" and the port number, the name every port service takes.
std::string comName(long long number);
// Whether a hardware-id list names one of those adapters: some id holds one
// of the vendor/product fragments, compared byte for byte (upper case).
bool acceptedUsbId(const std::vector<std::string>& hardwareIds);

}  // namespace rez
