#include "platform/tcp_client.h"

#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/clock.h"
#include "platform/posix/net_started.h"
#include "platform/tcp_address.h"

namespace rez::platform {

const int socketErrorWouldBlock = EWOULDBLOCK;
const int socketErrorConnectionReset = ECONNRESET;

namespace {

int newTcpSocket(IpFamily family) {
    if (!networkStarted()) return -1;
    return ::socket(addressFamily(family), SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
}

// Numeric text that is no address fails with EINVAL, a name that resolves
// to nothing with EHOSTUNREACH.
bool resolve(IpFamily family, const char* host, const std::string& port, bool numeric, sockaddr_storage& address,
             socklen_t& length) {
    const int rc = findTcpAddress(family, host, port, numeric, address, length);
    if (rc != 0 && rc != EAI_SYSTEM) errno = numeric ? EINVAL : EHOSTUNREACH;
    return rc == 0;
}

// poll that goes on after a signal with what is left of the time-out.
int pollFor(int socket, short events, int timeoutMs) {
    pollfd pfd{socket, events, 0};
    if (timeoutMs < 0) timeoutMs = 0;
    const std::int64_t deadline = counterNow() + counterFrequency() * timeoutMs / 1000;
    for (;;) {
        const int n = ::poll(&pfd, 1, timeoutMs);
        if (n >= 0 || errno != EINTR) return n;
        const std::int64_t left = deadline - counterNow();
        timeoutMs = left > 0 ? static_cast<int>(left * 1000 / counterFrequency()) : 0;
    }
}

}  // namespace

std::string socketErrorText(int code) { return std::strerror(code); }

bool TcpClient::closeSocket(NativeSocket& socket) {
    if (socket < 0) return true;
    const int result = ::close(socket);
    socket = kNoSocket;
    return result == 0;
}

bool TcpClient::open(IpFamily family) {
    close();
    family_ = family;
    socket_ = newTcpSocket(family);
    return socket_ >= 0;
}

bool TcpClient::setNonBlocking() {
    const int flags = fcntl(socket_, F_GETFL, 0);
    return flags >= 0 && fcntl(socket_, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool TcpClient::setNoDelay() {
    const int yes = 1;
    return setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes) == 0;
}

bool TcpClient::connectTo(const std::string& host, const std::string& port, bool numericHost, int timeoutMs) {
    sockaddr_storage address;
    socklen_t addressLength = 0;
    const char* node = host.empty() && !numericHost ? nullptr : host.c_str();
    if (!resolve(family_, node, port, numericHost, address, addressLength)) return false;
    if (::connect(socket_, reinterpret_cast<sockaddr*>(&address), addressLength) == 0) return true;
    if (errno != EINPROGRESS && errno != EINTR) return false;
    const int n = pollFor(socket_, POLLOUT, timeoutMs);
    if (n < 0) return false;
    if (n == 0) {
        errno = ETIMEDOUT;
        return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
    if (error != 0) {
        errno = error;
        return false;
    }
    return true;
}

int TcpClient::send(const void* data, int length) {
    // MSG_NOSIGNAL: a peer that has closed gives EPIPE here instead of a
    // SIGPIPE that would end the host's process.
    ssize_t n;
    do {
        n = ::send(socket_, data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
}

int TcpClient::waitReadable(int timeoutMs) {
    const int n = pollFor(socket_, POLLIN, timeoutMs);
    if (n < 0) return -1;
    return n > 0 ? 1 : 0;
}

int TcpClient::receive(void* buffer, int length) {
    ssize_t n;
    do {
        n = ::recv(socket_, buffer, static_cast<std::size_t>(length), 0);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<int>(n);
}

bool TcpClient::inheritable() const {
    if (socket_ < 0) return false;
    const int flags = fcntl(socket_, F_GETFD);
    return flags >= 0 && (flags & FD_CLOEXEC) == 0;
}

bool TcpListener::listen(IpFamily family, std::uint16_t port) {
    close();
    socket_ = newTcpSocket(family);
    if (socket_ < 0) return false;
    family_ = family;
    const int yes = 1;
    sockaddr_storage address;
    socklen_t length = 0;
    if (setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
        !resolve(family, nullptr, std::to_string(port), true, address, length) ||
        ::bind(socket_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(socket_, 8) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int error = errno;
        close();
        errno = error;
        return false;
    }
    port_ = portOf(address);
    return true;
}

bool TcpListener::accept(TcpClient& connection, int timeoutMs) {
    if (pollFor(socket_, POLLIN, timeoutMs) <= 0) return false;
    const int s = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
    if (s < 0) return false;
    connection.adopt(s, family_);
    return true;
}

}  // namespace rez::platform
