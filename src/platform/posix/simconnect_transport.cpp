#include "platform/simconnect_transport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/posix/net_started.h"

namespace rez::platform {

namespace {

class TcpStream : public SimConnectStream {
public:
    explicit TcpStream(int fd) : fd_(fd) {}
    ~TcpStream() override {
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
    }
    int send(const void* data, std::size_t size) override {
        const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) return static_cast<int>(n);
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
        error_ = errno;
        return -1;
    }
    int receive(void* buffer, std::size_t size) override {
        const ssize_t n = ::recv(fd_, buffer, size, MSG_DONTWAIT);
        if (n > 0) return static_cast<int>(n);
        if (n == 0) {
            if (size == 0) return 0;
            error_ = ECONNRESET;  // the far end closed the stream
            return -1;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
        error_ = errno;
        return -1;
    }
    bool waitReadable(int timeoutMs) override {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, timeoutMs) > 0;
    }
    int lastError() const override { return error_; }

private:
    int fd_;
    int error_ = 0;
};

bool waitConnected(int fd, int timeoutMs, int* error) {
    pollfd p{fd, POLLOUT, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        *error = ready == 0 ? ETIMEDOUT : errno;
        return false;
    }
    int soError = 0;
    socklen_t len = sizeof soError;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) soError = errno;
    *error = soError;
    return soError == 0;
}

}  // namespace

std::unique_ptr<SimConnectStream> connectSimConnectTcp(IpFamily family, const std::string& host,
                                                       const std::string& port, bool noDelay, int timeoutMs,
                                                       int* error) {
    int dummy = 0;
    if (error == nullptr) error = &dummy;
    if (!networkStarted()) {
        *error = errno;
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = family == IpFamily::V6 ? AF_INET6 : AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &found);
    if (rc != 0 || found == nullptr) {
        *error = rc == EAI_SYSTEM ? errno : EHOSTUNREACH;
        return nullptr;
    }
    const int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, found->ai_protocol);
    if (fd < 0) {
        *error = errno;
        ::freeaddrinfo(found);
        return nullptr;
    }
    bool connected = ::connect(fd, found->ai_addr, found->ai_addrlen) == 0;
    if (!connected) {
        if (errno == EINPROGRESS)
            connected = waitConnected(fd, timeoutMs, error);
        else
            *error = errno;
    }
    ::freeaddrinfo(found);
    if (!connected) {
        ::close(fd);
        return nullptr;
    }
    if (noDelay) {
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    *error = 0;
    return std::make_unique<TcpStream>(fd);
}

std::unique_ptr<SimConnectStream> openSimConnectPipe(const std::string&, int, int* error) {
    if (error != nullptr) *error = ENOENT;
    return nullptr;
}

std::string simConnectRegistryPort(IpFamily) { return {}; }

SimConnectListener::~SimConnectListener() { close(); }

bool SimConnectListener::listen(IpFamily family, std::uint16_t port) {
    close();
    if (!networkStarted()) return false;
    const int af = family == IpFamily::V6 ? AF_INET6 : AF_INET;
    socket_ = ::socket(af, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket_ < 0) return false;
    int one = 1;
    ::setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage storage{};
    socklen_t len = 0;
    if (af == AF_INET6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
        a->sin6_family = AF_INET6;
        a->sin6_addr = in6addr_loopback;
        a->sin6_port = htons(port);
        len = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&storage);
        a->sin_family = AF_INET;
        a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a->sin_port = htons(port);
        len = sizeof *a;
    }
    if (::bind(socket_, reinterpret_cast<sockaddr*>(&storage), len) != 0 || ::listen(socket_, 8) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&storage), &len) != 0) {
        close();
        return false;
    }
    port_ = ntohs(af == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                                 : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    return true;
}

bool SimConnectListener::listenPipe(const std::string& name) {
    pipeName_ = name;
    return false;  // no such pipes here
}

std::unique_ptr<SimConnectStream> SimConnectListener::accept(int timeoutMs) {
    if (socket_ < 0) return nullptr;
    pollfd p{socket_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return nullptr;
    const int fd = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return nullptr;
    return std::make_unique<TcpStream>(fd);
}

void SimConnectListener::close() {
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
    port_ = 0;
}

}  // namespace rez::platform
