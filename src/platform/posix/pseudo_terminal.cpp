#include "platform/pseudo_terminal.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace rez::platform {

PseudoTerminal::~PseudoTerminal() { close(); }

bool PseudoTerminal::supported() { return true; }

bool PseudoTerminal::isOpen() const { return far_ >= 0; }

bool PseudoTerminal::open() {
    close();
    far_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (far_ < 0) return false;
    char name[128] = {};
    if (::grantpt(far_) != 0 || ::unlockpt(far_) != 0 || ::ptsname_r(far_, name, sizeof name) != 0) {
        close();
        return false;
    }
    device_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios2 t{};
    if (device_ < 0 || ioctl(device_, TCGETS2, &t) != 0) {
        close();
        return false;
    }
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CREAD | CLOCAL;
    if (ioctl(device_, TCSETS2, &t) != 0) {
        close();
        return false;
    }
    devicePath_ = name;
    return true;
}

void PseudoTerminal::close() {
    const int saved = errno;
    if (device_ >= 0) ::close(device_);
    if (far_ >= 0) ::close(far_);
    device_ = -1;
    far_ = -1;
    devicePath_.clear();
    errno = saved;
}

int PseudoTerminal::read(void* buffer, int length, int timeoutMs) {
    if (far_ < 0 || length < 0) {
        errno = EBADF;
        return -1;
    }
    pollfd pfd{far_, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&pfd, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return ready;
    ssize_t n;
    do {
        n = ::read(far_, buffer, static_cast<size_t>(length));
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
}

int PseudoTerminal::write(const void* data, int length) {
    if (far_ < 0 || length < 0) {
        errno = EBADF;
        return -1;
    }
    ssize_t n;
    do {
        n = ::write(far_, data, static_cast<size_t>(length));
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
}

bool PseudoTerminal::lineSettings(SerialSettings& settings) const {
    termios2 t{};
    if (device_ < 0 || ioctl(device_, TCGETS2, &t) != 0) return false;
    settings = SerialSettings{};
    settings.baudRate = t.c_ospeed;  // the kernel keeps it in step with the speed code
    switch (t.c_cflag & CSIZE) {
        case CS5: settings.dataBits = 5; break;
        case CS6: settings.dataBits = 6; break;
        case CS7: settings.dataBits = 7; break;
        default: settings.dataBits = 8; break;
    }
    if ((t.c_cflag & PARENB) != 0) settings.parity = (t.c_cflag & PARODD) != 0 ? SerialParity::Odd : SerialParity::Even;
    settings.stopBits = (t.c_cflag & CSTOPB) != 0 ? SerialStopBits::Two : SerialStopBits::One;
    settings.parityCheck = (t.c_iflag & INPCK) != 0;
    settings.ctsOutputFlow = (t.c_cflag & CRTSCTS) != 0;
    settings.xonXoffOutput = (t.c_iflag & IXON) != 0;
    settings.xonXoffInput = (t.c_iflag & IXOFF) != 0;
    return true;
}

}  // namespace rez::platform
