#include "platform/serial_port.h"

// termios2 (for BOTHER) comes from the kernel headers, which clash with
// glibc's <termios.h>; this file uses the ioctls directly instead.
#include <asm/termbits.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>

#include "platform/posix/name_order.h"

namespace rez::platform {

namespace {

// What a handle points to: the descriptor and the time-outs that the
// descriptor itself cannot hold.
struct Port {
    int fd = -1;
    std::mutex timeoutsMutex;
    SerialTimeouts timeouts;
};

Port* portOf(SerialHandle handle) {
    if (handle == invalidSerialHandle || handle == 0) {
        errno = EBADF;
        return nullptr;
    }
    return reinterpret_cast<Port*>(handle);
}

SerialTimeouts timeoutsOf(Port& port) {
    std::lock_guard<std::mutex> lock(port.timeoutsMutex);
    return port.timeouts;
}

std::int64_t nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

int pollTimeout(std::int64_t ms) {
    if (ms < 0) return -1;
    return static_cast<int>(std::min<std::int64_t>(ms, INT_MAX));
}

// Waits until the descriptor is ready for `events`; 1 ready, 0 timed out, -1 error.
int waitFor(int fd, short events, int timeoutMs) {
    for (;;) {
        pollfd pfd{fd, events, 0};
        int n = ::poll(&pfd, 1, timeoutMs);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n;
        return 1;
    }
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// A device name is one entry of the link folder; anything that could leave
// the folder is refused.
bool validDeviceName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

std::string devicePath(const std::string& name) {
    std::string folder = serialDeviceFolder();
    if (folder.empty()) return {};
    std::string entry = name;
    std::transform(entry.begin(), entry.end(), entry.begin(), lowerAscii);
    return folder + "/" + entry;
}

struct BaudCode {
    std::uint32_t code;
    std::uint32_t rate;
};
constexpr BaudCode baudTable[] = {
    {B50, 50},         {B75, 75},         {B110, 110},         {B134, 134},         {B150, 150},
    {B200, 200},       {B300, 300},       {B600, 600},         {B1200, 1200},       {B1800, 1800},
    {B2400, 2400},     {B4800, 4800},     {B9600, 9600},       {B19200, 19200},     {B38400, 38400},
    {B57600, 57600},   {B115200, 115200}, {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
    {B576000, 576000}, {B921600, 921600}, {B1000000, 1000000}, {B1152000, 1152000}, {B1500000, 1500000},
    {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000}, {B3500000, 3500000}, {B4000000, 4000000},
};

std::uint32_t baudOf(const termios2& t) {
    const std::uint32_t code = t.c_cflag & CBAUD;
    if (code == BOTHER) return t.c_ospeed;
    for (const BaudCode& entry : baudTable)
        if (entry.code == code) return entry.rate;
    return 0;
}

// A COM port carries bytes unchanged: no line editing, echo, signals or
// output processing.
void makeRaw(termios2& t) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
}

}  // namespace

std::string serialDeviceFolder() {
    if (const char* dir = std::getenv("REZ_COM_DIR"); dir != nullptr && *dir != '\0') return dir;
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0')
        return std::string(prefix) + "/dosdevices";
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return std::string(home) + "/.wine/dosdevices";
    return {};
}

SerialHandle serialOpen(const std::string& deviceName) {
    if (!validDeviceName(deviceName)) {
        errno = ENOENT;
        return invalidSerialHandle;
    }
    const std::string path = devicePath(deviceName);
    if (path.empty()) {
        errno = ENOENT;
        return invalidSerialHandle;
    }
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return invalidSerialHandle;

    auto fail = [fd](int error) {
        ::close(fd);
        errno = error;
        return invalidSerialHandle;
    };
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) return fail(errno == EINVAL ? ENOTTY : errno);
    // Windows opens a COM port for one handle at a time; an advisory lock
    // gives our own users the same rule.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(errno == EWOULDBLOCK ? EBUSY : errno);
    makeRaw(t);
    if (ioctl(fd, TCSETS2, &t) != 0) return fail(errno);

    Port* port = new (std::nothrow) Port;
    if (port == nullptr) return fail(ENOMEM);
    port->fd = fd;
    return reinterpret_cast<SerialHandle>(port);
}

void serialClose(SerialHandle& handle) {
    if (handle == invalidSerialHandle || handle == 0) return;
    const int saved = errno;
    Port* port = reinterpret_cast<Port*>(handle);
    ::close(port->fd);
    delete port;
    handle = invalidSerialHandle;
    errno = saved;
}

bool serialGetSettings(SerialHandle handle, SerialSettings& settings) {
    Port* port = portOf(handle);
    if (port == nullptr) return false;
    termios2 t{};
    if (ioctl(port->fd, TCGETS2, &t) != 0) return false;
    settings.baudRate = baudOf(t);
    switch (t.c_cflag & CSIZE) {
        case CS5: settings.dataBits = 5; break;
        case CS6: settings.dataBits = 6; break;
        case CS7: settings.dataBits = 7; break;
        default: settings.dataBits = 8; break;
    }
    if ((t.c_cflag & PARENB) == 0)
        settings.parity = SerialParity::None;
    else if ((t.c_cflag & CMSPAR) != 0)
        settings.parity = (t.c_cflag & PARODD) != 0 ? SerialParity::Mark : SerialParity::Space;
    else
        settings.parity = (t.c_cflag & PARODD) != 0 ? SerialParity::Odd : SerialParity::Even;
    settings.stopBits = (t.c_cflag & CSTOPB) != 0 ? SerialStopBits::Two : SerialStopBits::One;
    settings.parityCheck = (t.c_iflag & INPCK) != 0;
    settings.ctsOutputFlow = (t.c_cflag & CRTSCTS) != 0;
    settings.dsrOutputFlow = false;
    settings.dsrSensitivity = false;
    settings.xonXoffOutput = (t.c_iflag & IXON) != 0;
    settings.xonXoffInput = (t.c_iflag & IXOFF) != 0;
    return true;
}

bool serialSetSettings(SerialHandle handle, const SerialSettings& settings) {
    Port* port = portOf(handle);
    if (port == nullptr) return false;
    // Linux has no DSR flow control and no 1.5 stop bits.
    if (settings.baudRate == 0 || settings.dataBits < 5 || settings.dataBits > 8 || settings.dsrOutputFlow ||
        settings.dsrSensitivity || settings.stopBits == SerialStopBits::OneAndHalf) {
        errno = EINVAL;
        return false;
    }
    termios2 t{};
    if (ioctl(port->fd, TCGETS2, &t) != 0) return false;

    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));  // input speed follows output
    t.c_cflag |= BOTHER;
    t.c_ospeed = settings.baudRate;
    t.c_ispeed = settings.baudRate;

    static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
    t.c_cflag |= sizes[settings.dataBits - 5];

    t.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
    switch (settings.parity) {
        case SerialParity::None: break;
        case SerialParity::Odd: t.c_cflag |= PARENB | PARODD; break;
        case SerialParity::Even: t.c_cflag |= PARENB; break;
        case SerialParity::Mark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case SerialParity::Space: t.c_cflag |= PARENB | CMSPAR; break;
        default: errno = EINVAL; return false;
    }
    if (settings.stopBits == SerialStopBits::Two)
        t.c_cflag |= CSTOPB;
    else
        t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);

    auto setFlag = [](tcflag_t& flags, tcflag_t bit, bool on) {
        if (on)
            flags |= bit;
        else
            flags &= ~bit;
    };
    setFlag(t.c_iflag, INPCK, settings.parityCheck);
    setFlag(t.c_cflag, CRTSCTS, settings.ctsOutputFlow);
    setFlag(t.c_iflag, IXON, settings.xonXoffOutput);
    setFlag(t.c_iflag, IXOFF, settings.xonXoffInput);
    return ioctl(port->fd, TCSETS2, &t) == 0;
}

bool serialGetTimeouts(SerialHandle handle, SerialTimeouts& timeouts) {
    Port* port = portOf(handle);
    if (port == nullptr) return false;
    timeouts = timeoutsOf(*port);
    return true;
}

bool serialSetTimeouts(SerialHandle handle, const SerialTimeouts& timeouts) {
    Port* port = portOf(handle);
    if (port == nullptr) return false;
    std::lock_guard<std::mutex> lock(port->timeoutsMutex);
    port->timeouts = timeouts;
    return true;
}

int serialRead(SerialHandle handle, void* buffer, int length) {
    Port* port = portOf(handle);
    if (port == nullptr) return -1;
    if (length < 0 || (length > 0 && buffer == nullptr)) {
        errno = EINVAL;
        return -1;
    }
    if (length == 0) return 0;
    const SerialTimeouts to = timeoutsOf(*port);
    auto* out = static_cast<unsigned char*>(buffer);

    // Reads whatever is there without waiting: bytes, 0 for nothing, -1 for a failure.
    auto readAvailable = [&](int got) -> int {
        for (;;) {
            ssize_t n = ::read(port->fd, out + got, static_cast<size_t>(length - got));
            if (n > 0) return static_cast<int>(n);
            if (n == 0) return 0;
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
            return -1;
        }
    };

    if (to.readInterval == serialTimeoutMax && to.readTotalMultiplier == 0 && to.readTotalConstant == 0)
        return readAvailable(0);

    std::int64_t deadline = -1;  // -1: no total limit
    bool returnOnAny = false;
    if (to.readInterval == serialTimeoutMax && to.readTotalMultiplier == serialTimeoutMax &&
        to.readTotalConstant != serialTimeoutMax) {
        returnOnAny = true;
        deadline = nowMs() + to.readTotalConstant;
    } else if (to.readTotalMultiplier != 0 || to.readTotalConstant != 0) {
        deadline = nowMs() + static_cast<std::int64_t>(to.readTotalMultiplier) * length + to.readTotalConstant;
    }
    const bool intervalLimit = !returnOnAny && to.readInterval != 0 && to.readInterval != serialTimeoutMax;

    int got = 0;
    std::int64_t intervalDeadline = -1;
    while (got < length) {
        const int n = readAvailable(got);
        if (n < 0) return got > 0 ? got : -1;
        if (n > 0) {
            got += n;
            if (returnOnAny) break;
            if (intervalLimit) intervalDeadline = nowMs() + to.readInterval;
            continue;
        }
        std::int64_t wait = -1;
        const std::int64_t now = nowMs();
        if (deadline >= 0) wait = std::max<std::int64_t>(0, deadline - now);
        if (intervalDeadline >= 0) {
            const std::int64_t left = std::max<std::int64_t>(0, intervalDeadline - now);
            wait = wait < 0 ? left : std::min(wait, left);
        }
        if (wait == 0) break;
        pollfd pfd{port->fd, POLLIN, 0};
        int ready = ::poll(&pfd, 1, pollTimeout(wait));
        if (ready < 0 && errno != EINTR) return got > 0 ? got : -1;
        if (ready > 0 && (pfd.revents & POLLIN) == 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            if (got > 0) break;
            errno = EIO;
            return -1;
        }
    }
    return got;
}

int serialWrite(SerialHandle handle, const void* data, int length) {
    Port* port = portOf(handle);
    if (port == nullptr) return -1;
    if (length < 0 || (length > 0 && data == nullptr)) {
        errno = EINVAL;
        return -1;
    }
    const SerialTimeouts to = timeoutsOf(*port);
    std::int64_t deadline = -1;
    if (to.writeTotalMultiplier != 0 || to.writeTotalConstant != 0)
        deadline = nowMs() + static_cast<std::int64_t>(to.writeTotalMultiplier) * length + to.writeTotalConstant;

    const auto* in = static_cast<const unsigned char*>(data);
    int done = 0;
    while (done < length) {
        ssize_t n = ::write(port->fd, in + done, static_cast<size_t>(length - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return done > 0 ? done : -1;
        std::int64_t wait = deadline < 0 ? -1 : std::max<std::int64_t>(0, deadline - nowMs());
        if (wait == 0) {
            errno = ETIMEDOUT;
            break;
        }
        int ready = waitFor(port->fd, POLLOUT, pollTimeout(wait));
        if (ready < 0) return done > 0 ? done : -1;
    }
    return done;
}

bool serialPurge(SerialHandle handle, bool input, bool output) {
    Port* port = portOf(handle);
    if (port == nullptr) return false;
    if (!input && !output) return true;
    const int which = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
    return ioctl(port->fd, TCFLSH, which) == 0;
}

bool serialClearErrors(SerialHandle handle, SerialQueueStatus* status) {
    Port* port = portOf(handle);
    if (port == nullptr) return false;
    if (status == nullptr) return true;
    int in = 0;
    int out = 0;
    if (ioctl(port->fd, FIONREAD, &in) != 0) return false;
    if (ioctl(port->fd, TIOCOUTQ, &out) != 0) return false;
    status->errors = 0;
    status->inQueue = static_cast<std::uint32_t>(std::max(in, 0));
    status->outQueue = static_cast<std::uint32_t>(std::max(out, 0));
    return true;
}

bool serialModemStatus(SerialHandle handle, std::uint32_t& lines) {
    Port* port = portOf(handle);
    if (port == nullptr) return false;
    int bits = 0;
    if (ioctl(port->fd, TIOCMGET, &bits) != 0) {
        if (errno != ENOTTY && errno != EINVAL) return false;
        bits = 0;
    }
    lines = 0;
    if ((bits & TIOCM_CTS) != 0) lines |= serialCtsOn;
    if ((bits & TIOCM_DSR) != 0) lines |= serialDsrOn;
    if ((bits & TIOCM_RI) != 0) lines |= serialRingOn;
    if ((bits & TIOCM_CD) != 0) lines |= serialCarrierOn;
    return true;
}

bool serialSetQueueSizes(SerialHandle handle, std::uint32_t, std::uint32_t) { return portOf(handle) != nullptr; }

bool serialHasDefaultConfig(const std::string& deviceName) { return dosDeviceExists(deviceName); }

bool dosDeviceExists(const std::string& name) {
    if (!validDeviceName(name)) return false;
    const std::string path = devicePath(name);
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool listDosDevices(std::vector<std::string>& names) {
    names.clear();
    const std::string folder = serialDeviceFolder();
    if (folder.empty()) return true;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return errno == ENOENT || errno == ENOTDIR;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (::stat((folder + "/" + name).c_str(), &st) != 0) continue;
        std::transform(name.begin(), name.end(), name.begin(), upperAscii);
        names.push_back(std::move(name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), naturalLess);
    return true;
}

std::uint32_t serialLastError() { return static_cast<std::uint32_t>(errno); }

void setSerialLastError(std::uint32_t code) { errno = static_cast<int>(code); }

bool serialErrorText(std::uint32_t code, std::string& text) {
    // strerror would make up "Unknown error N" for a code the system does not
    // know; this gives nothing for one, as Windows does.
    const char* message = code <= static_cast<std::uint32_t>(INT_MAX) ? strerrordesc_np(static_cast<int>(code)) : nullptr;
    text = message != nullptr ? message : "";
    return !text.empty();
}

}  // namespace rez::platform
