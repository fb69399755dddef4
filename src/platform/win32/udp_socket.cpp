#include "platform/udp_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace rez::platform {

const int socketErrorNotStarted = WSANOTINITIALISED;
const int socketErrorTooLong = WSAEMSGSIZE;
const int socketErrorAddressInUse = WSAEADDRINUSE;

namespace {

constexpr std::uintptr_t kInvalid = ~std::uintptr_t{0};
SOCKET sock(std::uintptr_t s) { return static_cast<SOCKET>(s); }

bool bindTo(SOCKET socket, ULONG address, std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = address;
    addr.sin_port = htons(port);
    return ::bind(socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

}  // namespace

int netStartup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
}

void netCleanup() { WSACleanup(); }

bool inetAddr(const std::string& text, std::uint32_t& address) {
    const unsigned long parsed = ::inet_addr(text.c_str());
    if (parsed == INADDR_NONE && text != "255.255.255.255") return false;
    address = ntohl(parsed);
    return true;
}

int lastSocketError() { return WSAGetLastError(); }

UdpSocket::~UdpSocket() { close(); }

bool UdpSocket::isOpen() const { return socket_ != kInvalid; }

bool UdpSocket::open() {
    close();
    // Overlapped like a plain socket(), and never inherited.
    SOCKET s = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
        // Systems before Windows 7 SP1 do not know the flag.
        s = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (s != INVALID_SOCKET) SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    }
    if (s == INVALID_SOCKET) return false;
    socket_ = static_cast<std::uintptr_t>(s);
    return true;
}

bool UdpSocket::setNonBlocking() {
    u_long mode = 1;
    return ioctlsocket(sock(socket_), FIONBIO, &mode) == 0;
}

bool UdpSocket::bindAny(std::uint16_t port) { return bindTo(sock(socket_), htonl(INADDR_ANY), port); }

bool UdpSocket::bindAddress(const std::string& address, std::uint16_t port) {
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) {
        WSASetLastError(WSAEINVAL);
        return false;
    }
    return bindTo(sock(socket_), parsed.s_addr, port);
}

int UdpSocket::waitReadable(int timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(sock(socket_), &readable);
    timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int n = ::select(0, &readable, nullptr, nullptr, &timeout);
    if (n == SOCKET_ERROR) return -1;
    return n > 0 ? 1 : 0;
}

int UdpSocket::waitReadableMicroseconds(int timeoutUs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(sock(socket_), &readable);
    timeval timeout{timeoutUs / 1000000, timeoutUs % 1000000};
    int n = ::select(0, &readable, nullptr, nullptr, &timeout);
    if (n == SOCKET_ERROR) return -1;
    return n > 0 ? 1 : 0;
}

int UdpSocket::receiveFrom(void* buffer, int length, std::uint32_t& senderAddress, std::uint16_t& senderPort) {
    sockaddr_in from{};
    int fromLength = sizeof from;
    int n = ::recvfrom(sock(socket_), static_cast<char*>(buffer), length, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n == SOCKET_ERROR) return -1;
    senderAddress = ntohl(from.sin_addr.s_addr);
    senderPort = ntohs(from.sin_port);
    return n;
}

int UdpSocket::receiveFrom(void* buffer, int length, std::string* sender) {
    sockaddr_in from{};
    int fromLength = sizeof from;
    int n = ::recvfrom(sock(socket_), static_cast<char*>(buffer), length, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n == SOCKET_ERROR) return -1;
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
    int n = ::sendto(sock(socket_), static_cast<const char*>(data), length, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    return n == SOCKET_ERROR ? -1 : n;
}

int UdpSocket::sendTo(const void* data, int length, std::uint32_t address, std::uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(address);
    int n = ::sendto(sock(socket_), static_cast<const char*>(data), length, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    return n == SOCKET_ERROR ? -1 : n;
}

bool UdpSocket::close() {
    if (socket_ == kInvalid) return true;
    int result = ::closesocket(sock(socket_));
    socket_ = kInvalid;
    return result == 0;
}

bool UdpSocket::inheritable() const {
    if (socket_ == kInvalid) return false;
    DWORD flags = 0;
    return GetHandleInformation(reinterpret_cast<HANDLE>(sock(socket_)), &flags) && (flags & HANDLE_FLAG_INHERIT) != 0;
}

}  // namespace rez::platform
