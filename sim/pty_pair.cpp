#include "sim/pty_pair.h"

#include <atomic>
#include <filesystem>
#include <random>

#include "platform/clock.h"
#include "platform/environment.h"

namespace rez::sim {
namespace fs = std::filesystem;

namespace {

// One folder of links for the whole test process, removed at exit.
struct LinkFolder {
    fs::path path;
    LinkFolder() {
        std::random_device random;
        std::error_code error;
        path = fs::temp_directory_path(error) / ("rez-com-" + std::to_string(random()) + std::to_string(random()));
        fs::create_directories(path, error);
        platform::setEnvironmentVariable("REZ_COM_DIR", path.string());
    }
    ~LinkFolder() {
        std::error_code error;
        fs::remove_all(path, error);
    }
};

LinkFolder& linkFolder() {
    static LinkFolder folder;
    return folder;
}

int nextPortNumber() {
    static std::atomic<int> number{7};
    return number++;
}

// Under Wine: has the null_modem helper carry out `command` (see
// tests/helpers/null_modem.cpp) and waits for its answer.
bool askNullModem(const std::string& command, std::string& whyNot) {
    const std::string control = platform::environmentVariable("REZ_TEST_SERIAL_CONTROL").value_or("");
    if (control.empty()) {
        whyNot = "REZ_TEST_SERIAL_CONTROL is not set (scripts/wine-serial-test.sh names the helper's control port there)";
        return false;
    }
    platform::SerialHandle port = platform::serialOpen(control);
    if (port == platform::invalidSerialHandle) {
        whyNot = "cannot open " + control + " (error " + std::to_string(platform::serialLastError()) + ")";
        return false;
    }
    // A short gap after the first byte ends each read, as in PtyPair::read.
    platform::SerialTimeouts timeouts;
    timeouts.readInterval = 1;
    timeouts.readTotalConstant = 100;
    const std::string line = command + "\n";
    const int length = static_cast<int>(line.size());
    bool ok = platform::serialSetTimeouts(port, timeouts) && platform::serialWrite(port, line.data(), length) == length;
    std::string answer;
    const std::int64_t deadline = platform::counterNow() + 5 * platform::counterFrequency();
    while (ok && (answer.empty() || answer.back() != '\n') && platform::counterNow() < deadline) {
        char buffer[64];
        const int n = platform::serialRead(port, buffer, sizeof buffer);
        ok = n >= 0;
        if (n > 0) answer.append(buffer, static_cast<std::size_t>(n));
    }
    platform::serialClose(port);
    if (answer == "ok\n") return true;
    whyNot = "null_modem did not " + command + ": " + (answer.empty() ? "no answer" : answer);
    return false;
}

}  // namespace

double elapsedMs(std::int64_t from, std::int64_t to) {
    return static_cast<double>(to - from) * 1000.0 / static_cast<double>(platform::counterFrequency());
}

PtyPair::~PtyPair() {
    platform::serialClose(far_);
    if (!linkPath_.empty()) {
        std::error_code error;
        fs::remove(linkPath_, error);
    }
}

bool PtyPair::open(std::string& whyNot) {
    if (platform::PseudoTerminal::supported()) {
        if (!pty_.open()) {
            whyNot = "no pseudo-terminal could be made";
            return false;
        }
        const int number = nextPortNumber();
        portName_ = "COM" + std::to_string(number);
        linkPath_ = (linkFolder().path / ("com" + std::to_string(number))).string();
        if (!plugBack()) {
            whyNot = "cannot link " + linkPath_ + " to " + pty_.devicePath();
            return false;
        }
        return true;
    }

    const auto pair = platform::environmentVariable("REZ_TEST_SERIAL_PAIR");
    const std::string names = pair.value_or("");
    const auto comma = names.find(',');
    if (comma == std::string::npos) {
        whyNot = "no serial line here: REZ_TEST_SERIAL_PAIR is not set (run scripts/wine-serial-test.sh, which "
                 "joins two COM ports through pseudo-terminals)";
        return false;
    }
    portName_ = names.substr(0, comma);
    const std::string farName = names.substr(comma + 1);
    far_ = platform::serialOpen(farName);
    if (far_ == platform::invalidSerialHandle) {
        whyNot = "cannot open the far end " + farName + " (error " + std::to_string(platform::serialLastError()) + ")";
        return false;
    }
    platform::SerialSettings settings;
    if (platform::serialGetSettings(far_, settings)) {
        settings.baudRate = 250000;
        settings.dataBits = 8;
        settings.parity = platform::SerialParity::None;
        settings.stopBits = platform::SerialStopBits::One;
        platform::serialSetSettings(far_, settings);
    }
    drain();
    return true;
}

int PtyPair::read(unsigned char* buffer, int length, int timeoutMs) {
    if (pty_.isOpen()) return pty_.read(buffer, length, timeoutMs);
    // A short gap after the first byte ends the read. (The "return on any
    // byte" setting would be the natural one, but Wine 8 waits out its
    // constant even when bytes are there.)
    platform::SerialTimeouts timeouts;
    timeouts.readInterval = 1;
    timeouts.readTotalConstant = static_cast<std::uint32_t>(timeoutMs > 0 ? timeoutMs : 1);
    if (!platform::serialSetTimeouts(far_, timeouts)) return -1;
    return platform::serialRead(far_, buffer, length);
}

bool PtyPair::write(const std::vector<unsigned char>& bytes) {
    const int length = static_cast<int>(bytes.size());
    if (pty_.isOpen()) return pty_.write(bytes.data(), length) == length;
    return platform::serialWrite(far_, bytes.data(), length) == length;
}

std::vector<unsigned char> PtyPair::readFor(int ms) {
    std::vector<unsigned char> out;
    for (const TimedByte& b : collect(platform::counterNow(), ms)) out.push_back(b.value);
    return out;
}

std::vector<TimedByte> PtyPair::collect(std::int64_t origin, int ms) {
    std::vector<TimedByte> out;
    for (;;) {
        const double now = elapsedMs(origin, platform::counterNow());
        if (now >= ms) break;
        unsigned char buffer[256];
        const int n = read(buffer, sizeof buffer, static_cast<int>(ms - now) + 1);
        if (n < 0) break;
        const double at = elapsedMs(origin, platform::counterNow());
        for (int i = 0; i < n; ++i) out.push_back({buffer[i], at});
    }
    return out;
}

void PtyPair::drain() {
    unsigned char buffer[256];
    while (read(buffer, sizeof buffer, 20) > 0) {
    }
}

bool PtyPair::portSettings(platform::SerialSettings& settings) {
    if (pty_.isOpen()) return pty_.lineSettings(settings);
    platform::SerialHandle port = platform::serialOpen(portName_);
    if (port == platform::invalidSerialHandle) return false;
    const bool ok = platform::serialGetSettings(port, settings);
    platform::serialClose(port);
    return ok;
}

bool PtyPair::unplug() {
    if (!inProcess()) return false;
    std::error_code error;
    return fs::remove(linkPath_, error);
}

bool PtyPair::pullOut(std::string& whyNot) {
    if (!inProcess()) return askNullModem("unplug", whyNot);
    pty_.close();
    std::error_code error;
    fs::remove(linkPath_, error);
    return true;
}

bool PtyPair::plugIn(const std::string& name, std::string& whyNot) {
    if (inProcess()) {
        whyNot = "a pseudo-terminal made here comes back as a new PtyPair";
        return false;
    }
    if (!askNullModem("plug " + name, whyNot)) return false;
    portName_ = name;
    return true;
}

bool PtyPair::plugBack() {
    if (!inProcess()) return false;
    std::error_code error;
    fs::remove(linkPath_, error);
    fs::create_symlink(pty_.devicePath(), linkPath_, error);
    return !error;
}

}  // namespace rez::sim
