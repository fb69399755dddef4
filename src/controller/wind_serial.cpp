#include "controller/wind_serial.h"

#include <algorithm>
#include <cstdint>
#include <new>

#include "platform/clock.h"
#include "platform/module.h"
#include "platform/thread_name.h"

using rez::platform::SerialHandle;
using rez::platform::invalidSerialHandle;

namespace rez {
namespace {

constexpr unsigned char stopByte = 0x00;
constexpr int maxStartFailures = 3;
// The sending thread sleeps in slices no longer than this, so that stop()
// is not held up by a long interval.
constexpr std::int64_t longestSleepMs = 50;

bool writeByte(SerialHandle port, unsigned char value) { return platform::serialWrite(port, &value, 1) == 1; }

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

}  // namespace

namespace wind {

std::string toUtf8(const wchar_t* text) {
    std::string out;
    if (text == nullptr) return out;
    constexpr std::uint32_t replacement = 0xFFFD;
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        std::uint32_t unit = static_cast<std::uint32_t>(*p);
        if constexpr (sizeof(wchar_t) == 2) {
            unit &= 0xFFFF;
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                const std::uint32_t next = static_cast<std::uint32_t>(p[1]) & 0xFFFF;
                if (next >= 0xDC00 && next <= 0xDFFF) {
                    appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                    ++p;
                } else {
                    appendUtf8(out, replacement);
                }
                continue;
            }
        }
        if ((unit >= 0xD800 && unit <= 0xDFFF) || unit > 0x10FFFF) unit = replacement;
        appendUtf8(out, unit);
    }
    return out;
}

std::optional<LineFormat> parseLineFormat(const std::string& format) {
    if (format.size() != 3) return std::nullopt;
    LineFormat line;
    line.dataBits = format[0] - '0';
    switch (format[1]) {
        case 'E': case 'e': line.parity = platform::SerialParity::Even; break;
        case 'N': case 'n': line.parity = platform::SerialParity::None; break;
        case 'O': case 'o': line.parity = platform::SerialParity::Odd; break;
        default: return std::nullopt;
    }
    switch (format[2]) {
        case '1': line.stopBits = platform::SerialStopBits::One; break;
        case '2': line.stopBits = platform::SerialStopBits::Two; break;
        default: return std::nullopt;
    }
    return line;
}

}  // namespace wind

bool initWindSerialOn(WindSerial& wind, const wchar_t* portName, int baudRate, const wchar_t* format,
                      int intervalMs) {
    if (portName == nullptr || format == nullptr) return false;
    return wind.init(wind::toUtf8(portName), baudRate, wind::toUtf8(format), static_cast<unsigned int>(intervalMs));
}

}  // namespace rez

WindSerial::WindSerial()
    : port(invalidSerialHandle),
      running(false),
      paused(false),
      initialised(false),
      interval(15),
      baudRate(0),
      startFailures(0) {}

WindSerial::~WindSerial() {
    if (rez::platform::processEnding()) {
        // The system has ended the sending thread already, perhaps inside a
        // write with writeMutex held: take no lock and join nothing. The
        // thread object is replaced by an empty one without being destroyed,
        // so that its destructor does not end the process.
        new (&sendingThread) std::thread();
        return;
    }
    stop();
}

bool WindSerial::init(const std::string& portName, int baudRate, const std::string& format, unsigned int intervalMs) {
    {
        // The sending thread reads the interval on every pass.
        std::lock_guard<std::mutex> lock(bufferMutex);
        interval = intervalMs;
    }
    std::lock_guard<std::mutex> config(configMutex);
    if (!rez::platform::dosDeviceExists(portName)) {
        initialised = false;
        return false;
    }
    this->portName = portName;
    this->baudRate = baudRate;
    this->format = format;
    initialised = true;
    startFailures = 0;
    return true;
}

void WindSerial::start() {
    std::lock_guard<std::mutex> config(configMutex);
    if (!initialised || running || startFailures >= rez::maxStartFailures) return;

    auto fail = [this] {
        std::lock_guard<std::mutex> lock(writeMutex);
        rez::platform::serialClose(port);
        running = false;
        ++startFailures;
    };
    {
        const SerialHandle opened = rez::platform::serialOpen(portName);
        std::lock_guard<std::mutex> lock(writeMutex);
        port = opened;
    }
    if (port == invalidSerialHandle) {
        fail();
        return;
    }
    bool ready = configurePort(baudRate, format);
    if (ready) {
        std::lock_guard<std::mutex> lock(writeMutex);
        ready = rez::writeByte(port, rez::stopByte);
    }
    if (!ready) {
        fail();
        return;
    }
    paused = false;
    running = true;
    try {
        sendingThread = std::thread(&WindSerial::sendingThreadFunc, this);
    } catch (...) {
        // The caller gets the error; the port must not stay open behind it.
        std::lock_guard<std::mutex> lock(writeMutex);
        running = false;
        rez::platform::serialClose(port);
        throw;
    }
}

void WindSerial::pause() {
    std::lock_guard<std::mutex> lock(writeMutex);
    if (port != invalidSerialHandle) rez::writeByte(port, rez::stopByte);
    paused = true;
}

void WindSerial::unpause() { paused = false; }

void WindSerial::stop() {
    // One stop at a time: the thread is joined once, by whichever came first.
    std::lock_guard<std::mutex> config(configMutex);
    {
        std::lock_guard<std::mutex> lock(writeMutex);
        if (port != invalidSerialHandle) rez::writeByte(port, rez::stopByte);
        running = false;
    }
    startFailures = 0;
    if (sendingThread.joinable()) sendingThread.join();
    std::lock_guard<std::mutex> lock(writeMutex);
    rez::platform::serialClose(port);
}

bool WindSerial::isRunning() const { return running; }

bool WindSerial::isInit() const { return initialised; }

void WindSerial::updateBuffer(const std::vector<unsigned char>& bytes) {
    std::lock_guard<std::mutex> lock(bufferMutex);
    if (&bytes != &buffer) buffer = bytes;
}

bool WindSerial::configurePort(int baudRate, const std::string& format) {
    rez::platform::SerialSettings settings;
    if (!rez::platform::serialGetSettings(port, settings)) return false;
    settings.baudRate = static_cast<std::uint32_t>(std::max(baudRate, 0));
    settings.dataBits = 8;
    settings.parity = rez::platform::SerialParity::None;
    settings.stopBits = rez::platform::SerialStopBits::One;

    const auto line = rez::wind::parseLineFormat(format);
    if (!line) return false;
    settings.dataBits = line->dataBits;
    settings.parity = line->parity;
    settings.stopBits = line->stopBits;
    if (!rez::platform::serialSetSettings(port, settings)) return false;

    rez::platform::SerialTimeouts timeouts;
    timeouts.readInterval = 50;
    timeouts.readTotalMultiplier = 10;
    timeouts.readTotalConstant = 50;
    timeouts.writeTotalMultiplier = 10;
    timeouts.writeTotalConstant = 50;
    rez::platform::serialSetTimeouts(port, timeouts);
    return true;
}

void WindSerial::sendingThreadFunc() {
    rez::platform::nameThisThread("rez-fan");
    const std::int64_t frequency = rez::platform::counterFrequency();
    while (running) {
        unsigned char next = 0;
        bool have = false;
        unsigned int wait;
        {
            std::lock_guard<std::mutex> lock(bufferMutex);
            if (!buffer.empty()) {
                next = buffer.front();
                buffer.erase(buffer.begin());
                have = true;
            }
            wait = interval;
        }
        if (have) {
            // Under the write lock, so a byte taken just before pause() or
            // stop() cannot land after their 0.
            std::lock_guard<std::mutex> lock(writeMutex);
            if (running && !paused) rez::writeByte(port, next);
        }

        if (wait == 0) {
            std::this_thread::yield();
            continue;
        }
        const std::int64_t deadline = rez::platform::counterNow() + static_cast<std::int64_t>(wait) * frequency / 1000;
        const std::int64_t longestSlice = rez::longestSleepMs * frequency / 1000;
        while (running) {
            const std::int64_t left = deadline - rez::platform::counterNow();
            if (left <= 0) break;
            rez::platform::sleepNs(std::min(left, longestSlice) * 1'000'000'000 / frequency);
        }
    }
}
