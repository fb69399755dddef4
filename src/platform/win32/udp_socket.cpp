// Opening, waiting on and closing a UDP socket, and the network start-up:
// the parts that differ between Winsock and BSD sockets. The shared calls are in
// platform/udp_socket.cpp.
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

}  // namespace

int netStartup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
}

void netCleanup() { WSACleanup(); }

int lastSocketError() { return WSAGetLastError(); }

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
