// Opening, waiting on and closing a UDP socket, and the network start-up:
// the parts that differ between Winsock and BSD sockets. The shared calls are in
// platform/udp_socket.cpp.
#include "platform/udp_socket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/posix/net_started.h"

namespace rez::platform {

// Winsock's number: Linux has no error for a network that was never started.
const int socketErrorNotStarted = 10093;
const int socketErrorTooLong = EMSGSIZE;
const int socketErrorAddressInUse = EADDRINUSE;

namespace {

// Start-ups not yet cleaned up, counted as Winsock counts them, so a missing
// start-up fails here as it would on Windows.
std::atomic<int>& startups() {
    static std::atomic<int> count{0};
    return count;
}

}  // namespace

int netStartup() {
    startups().fetch_add(1);
    return 0;
}

void netCleanup() {
    int count = startups().load();
    while (count > 0 && !startups().compare_exchange_weak(count, count - 1)) {
    }
}

bool networkStarted() {
    if (startups().load() > 0) return true;
    errno = socketErrorNotStarted;
    return false;
}

int lastSocketError() { return errno; }

bool UdpSocket::isOpen() const { return socket_ >= 0; }

bool UdpSocket::open() {
    close();
    if (!networkStarted()) return false;
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    return socket_ >= 0;
}

bool UdpSocket::setNonBlocking() {
    int flags = fcntl(socket_, F_GETFL, 0);
    return flags >= 0 && fcntl(socket_, F_SETFL, flags | O_NONBLOCK) == 0;
}

int UdpSocket::waitReadable(int timeoutMs) {
    pollfd pfd{socket_, POLLIN, 0};
    int n = ::poll(&pfd, 1, timeoutMs);
    if (n < 0) return -1;
    return n > 0 ? 1 : 0;
}

int UdpSocket::waitReadableMicroseconds(int timeoutUs) {
    pollfd pfd{socket_, POLLIN, 0};
    const timespec timeout{timeoutUs / 1000000, (timeoutUs % 1000000) * 1000L};
    int n = ::ppoll(&pfd, 1, &timeout, nullptr);
    if (n < 0) return -1;
    return n > 0 ? 1 : 0;
}

bool UdpSocket::close() {
    if (socket_ < 0) return true;
    int result = ::close(socket_);
    socket_ = -1;
    return result == 0;
}

bool UdpSocket::inheritable() const {
    if (socket_ < 0) return false;
    const int flags = fcntl(socket_, F_GETFD);
    return flags >= 0 && (flags & FD_CLOEXEC) == 0;
}

}  // namespace rez::platform
