#include "platform/tcp_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/clock.h"
#include "platform/posix/net_started.h"

namespace rez::platform {

namespace {

bool ipv4Address(const std::string& host, std::uint16_t port, sockaddr_in& address) {
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
        errno = EINVAL;
        return false;
    }
    return true;
}

// poll that goes on after a signal with what is left of the time-out.
int pollFor(int socket, short events, int timeoutMs) {
    pollfd pfd{socket, events, 0};
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

TcpClient::~TcpClient() { close(); }

TcpClient::TcpClient(TcpClient&& other) noexcept : socket_(std::exchange(other.socket_, -1)) {}

TcpClient& TcpClient::operator=(TcpClient&& other) noexcept {
    if (this != &other) {
        close();
        socket_ = std::exchange(other.socket_, -1);
    }
    return *this;
}

bool TcpClient::isOpen() const { return socket_ >= 0; }

bool TcpClient::open() {
    close();
    if (!networkStarted()) return false;
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    return socket_ >= 0;
}

bool TcpClient::setNonBlocking() {
    const int flags = fcntl(socket_, F_GETFL, 0);
    return flags >= 0 && fcntl(socket_, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool TcpClient::connect(const std::string& host, std::uint16_t port, int timeoutMs) {
    sockaddr_in address;
    if (!ipv4Address(host, port, address)) return false;
    if (::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return true;
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
    const ssize_t n = ::send(socket_, data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    return n < 0 ? -1 : static_cast<int>(n);
}

int TcpClient::waitReadable(int timeoutMs) {
    const int n = pollFor(socket_, POLLIN, timeoutMs);
    if (n < 0) return -1;
    return n > 0 ? 1 : 0;
}

int TcpClient::receive(void* buffer, int length) {
    const ssize_t n = ::recv(socket_, buffer, static_cast<std::size_t>(length), 0);
    return n < 0 ? -1 : static_cast<int>(n);
}

bool TcpClient::close() {
    if (socket_ < 0) return true;
    const int result = ::close(socket_);
    socket_ = -1;
    return result == 0;
}

bool TcpClient::inheritable() const {
    if (socket_ < 0) return false;
    const int flags = fcntl(socket_, F_GETFD);
    return flags >= 0 && (flags & FD_CLOEXEC) == 0;
}

TcpListener::~TcpListener() { close(); }

bool TcpListener::isOpen() const { return socket_ >= 0; }

bool TcpListener::listen(std::uint16_t port) {
    close();
    if (!networkStarted()) return false;
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (socket_ < 0) return false;
    const int yes = 1;
    sockaddr_in address;
    if (setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
        !ipv4Address("127.0.0.1", port, address) ||
        ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(socket_, 8) != 0) {
        const int error = errno;
        close();
        errno = error;
        return false;
    }
    return true;
}

bool TcpListener::accept(TcpClient& connection, int timeoutMs) {
    if (pollFor(socket_, POLLIN, timeoutMs) <= 0) return false;
    const int s = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
    if (s < 0) return false;
    connection.close();
    connection.socket_ = s;
    return true;
}

bool TcpListener::close() {
    if (socket_ < 0) return true;
    const int result = ::close(socket_);
    socket_ = -1;
    return result == 0;
}

}  // namespace rez::platform
