#include "platform/udp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
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

bool bindTo(int socket, in_addr_t address, std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = address;
    addr.sin_port = htons(port);
    return ::bind(socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
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

bool inetAddr(const std::string& text, std::uint32_t& address) {
    const in_addr_t parsed = ::inet_addr(text.c_str());
    if (parsed == INADDR_NONE && text != "255.255.255.255") return false;
    address = ntohl(parsed);
    return true;
}

UdpSocket::~UdpSocket() { close(); }

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

bool UdpSocket::bindAny(std::uint16_t port) { return bindTo(socket_, htonl(INADDR_ANY), port); }

bool UdpSocket::bindAddress(const std::string& address, std::uint16_t port) {
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) {
        errno = EINVAL;
        return false;
    }
    return bindTo(socket_, parsed.s_addr, port);
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

namespace {

int receiveDatagram(int socket, void* buffer, int length, sockaddr_in& from) {
    socklen_t fromLength = sizeof from;
    // MSG_TRUNC makes the call return the datagram's full length, so a cut
    // one is told apart and refused as Windows refuses it.
    ssize_t n = ::recvfrom(socket, buffer, static_cast<size_t>(length), MSG_TRUNC, reinterpret_cast<sockaddr*>(&from),
                           &fromLength);
    if (n < 0) return -1;
    if (n > length) {
        errno = socketErrorTooLong;
        return -1;
    }
    return static_cast<int>(n);
}

}  // namespace

int UdpSocket::receiveFrom(void* buffer, int length, std::uint32_t& senderAddress, std::uint16_t& senderPort) {
    sockaddr_in from{};
    int n = receiveDatagram(socket_, buffer, length, from);
    if (n < 0) return -1;
    senderAddress = ntohl(from.sin_addr.s_addr);
    senderPort = ntohs(from.sin_port);
    return n;
}

int UdpSocket::receiveFrom(void* buffer, int length, std::string* sender) {
    sockaddr_in from{};
    int n = receiveDatagram(socket_, buffer, length, from);
    if (n < 0) return -1;
    if (sender != nullptr) {
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        *sender = std::string(text) + ":" + std::to_string(ntohs(from.sin_port));
    }
    return n;
}

int UdpSocket::sendTo(const void* data, int length, const std::string& host, std::uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &to.sin_addr) != 1) return -1;
    ssize_t n = ::sendto(socket_, data, static_cast<size_t>(length), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    return n < 0 ? -1 : static_cast<int>(n);
}

int UdpSocket::sendTo(const void* data, int length, std::uint32_t address, std::uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(address);
    const ssize_t n = ::sendto(socket_, data, static_cast<std::size_t>(length), 0,
                               reinterpret_cast<sockaddr*>(&to), sizeof to);
    return n < 0 ? -1 : static_cast<int>(n);
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
