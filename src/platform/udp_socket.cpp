// The parts of a UDP socket that Winsock and BSD sockets do with the same
// calls: binding, sending, receiving with the sender's address and the
// multicast options. Only the headers, the handle and length types and the
// way an error number is set differ, and those are named once here.
#include "platform/udp_socket.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#endif

namespace rez::platform {

namespace {

#if defined(_WIN32)
using Native = SOCKET;
using AddressLength = int;
using Size = int;
// Winsock refuses a datagram that does not fit by itself.
constexpr int kReceiveFlags = 0;
void setSocketError(int code) { WSASetLastError(code); }
constexpr int kInvalidArgument = WSAEINVAL;
#else
using Native = int;
using AddressLength = socklen_t;
using Size = std::size_t;
// The call then gives the datagram's full length, so a cut one is told
// apart and refused as Windows refuses it.
constexpr int kReceiveFlags = MSG_TRUNC;
void setSocketError(int code) { errno = code; }
constexpr int kInvalidArgument = EINVAL;
#endif

sockaddr_in ipv4(std::uint32_t hostOrderAddress, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(hostOrderAddress);
    return address;
}

// Dotted text only; anything else is an invalid argument.
bool parseDotted(const std::string& text, std::uint32_t& hostOrderAddress) {
    in_addr parsed{};
    if (inet_pton(AF_INET, text.c_str(), &parsed) != 1) {
        setSocketError(kInvalidArgument);
        return false;
    }
    hostOrderAddress = ntohl(parsed.s_addr);
    return true;
}

bool bindTo(Native socket, const sockaddr_in& address) {
    return ::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

int receiveDatagram(Native socket, void* buffer, int length, sockaddr_in& from) {
    AddressLength fromLength = sizeof from;
    const auto n = ::recvfrom(socket, static_cast<char*>(buffer), static_cast<Size>(length), kReceiveFlags,
                              reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0) return -1;
    if (n > length) {
        setSocketError(socketErrorTooLong);
        return -1;
    }
    return static_cast<int>(n);
}

int sendDatagram(Native socket, const void* data, int length, const sockaddr_in& to) {
    const auto n = ::sendto(socket, static_cast<const char*>(data), static_cast<Size>(length), 0,
                            reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return n < 0 ? -1 : static_cast<int>(n);
}

template <class Value>
bool setOption(Native socket, int level, int name, const Value& value) {
    return ::setsockopt(socket, level, name, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

template <class Value>
bool getOption(Native socket, int level, int name, Value& value) {
    AddressLength length = sizeof value;
    return ::getsockopt(socket, level, name, reinterpret_cast<char*>(&value), &length) == 0 && length == sizeof value;
}

}  // namespace

bool inetAddr(const std::string& text, std::uint32_t& address) {
    const auto parsed = ::inet_addr(text.c_str());
    if (parsed == INADDR_NONE && text != "255.255.255.255") return false;
    address = ntohl(parsed);
    return true;
}

UdpSocket::~UdpSocket() { close(); }

bool UdpSocket::bindAny(std::uint16_t port) { return bindTo(static_cast<Native>(socket_), ipv4(INADDR_ANY, port)); }

bool UdpSocket::bindAddress(const std::string& address, std::uint16_t port) {
    std::uint32_t parsed = 0;
    return parseDotted(address, parsed) && bindTo(static_cast<Native>(socket_), ipv4(parsed, port));
}

int UdpSocket::receiveFrom(void* buffer, int length, std::uint32_t& senderAddress, std::uint16_t& senderPort) {
    sockaddr_in from{};
    const int n = receiveDatagram(static_cast<Native>(socket_), buffer, length, from);
    if (n < 0) return -1;
    senderAddress = ntohl(from.sin_addr.s_addr);
    senderPort = ntohs(from.sin_port);
    return n;
}

int UdpSocket::receiveFrom(void* buffer, int length, std::string* sender) {
    sockaddr_in from{};
    const int n = receiveDatagram(static_cast<Native>(socket_), buffer, length, from);
    if (n < 0) return -1;
    if (sender != nullptr) {
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        *sender = std::string(text) + ":" + std::to_string(ntohs(from.sin_port));
    }
    return n;
}

int UdpSocket::sendTo(const void* data, int length, const std::string& host, std::uint16_t port) {
    std::uint32_t address = 0;
    if (!parseDotted(host, address)) return -1;
    return sendTo(data, length, address, port);
}

int UdpSocket::sendTo(const void* data, int length, std::uint32_t address, std::uint16_t port) {
    return sendDatagram(static_cast<Native>(socket_), data, length, ipv4(address, port));
}

bool UdpSocket::setMulticastInterface(std::uint32_t address) {
    in_addr from{};
    from.s_addr = htonl(address);
    return setOption(static_cast<Native>(socket_), IPPROTO_IP, IP_MULTICAST_IF, from);
}

bool UdpSocket::setMulticastTtl(int hops) {
    // An int on both systems: Winsock reads a DWORD, Linux takes an int too.
    return setOption(static_cast<Native>(socket_), IPPROTO_IP, IP_MULTICAST_TTL, hops);
}

bool UdpSocket::multicastInterface(std::uint32_t& address) const {
    in_addr from{};
    if (!getOption(static_cast<Native>(socket_), IPPROTO_IP, IP_MULTICAST_IF, from)) return false;
    address = ntohl(from.s_addr);
    return true;
}

bool UdpSocket::multicastTtl(int& hops) const {
    return getOption(static_cast<Native>(socket_), IPPROTO_IP, IP_MULTICAST_TTL, hops);
}

}  // namespace rez::platform
