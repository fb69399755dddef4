#pragma once
// Fan ("wind") controller port: the class itself is declared in the public
// header; these are the pieces the engine and the tests use around it.
#include <optional>
#include <string>

#include "platform/serial_port.h"
#include "rezadedudid.h"

namespace rez {

// What initWindSerial does on the engine's instance: the wide texts become
// UTF-8, then exactly WindSerial::init. A null text is refused (false) and
// leaves the instance as it was.
bool initWindSerialOn(WindSerial& wind, const wchar_t* portName, int baudRate, const wchar_t* format,
                      int intervalMs);

namespace wind {

// UTF-8 of a zero-terminated wide text (UTF-16 on Windows, UTF-32 on Linux);
// unpaired surrogates and out-of-range values become U+FFFD.
std::string toUtf8(const wchar_t* text);

// A fan line format such as "8N1": data bits, parity letter (E, N or O, any
// case), stop bits (1 or 2). Data bits are the first character minus '0',
// unchecked here: the port itself refuses sizes it cannot do.
struct LineFormat {
    int dataBits = 8;
    platform::SerialParity parity = platform::SerialParity::None;
    platform::SerialStopBits stopBits = platform::SerialStopBits::One;
};
std::optional<LineFormat> parseLineFormat(const std::string& format);

}  // namespace wind
}  // namespace rez
