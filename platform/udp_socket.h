#pragma once
// IPv4 UDP sockets over Winsock 2.2 or BSD sockets, with the same small API
// and the system's own error numbers reported.
#include <cstdint>
#include <string>

namespace rez::platform {

// Winsock start-up (WSAStartup 2.2) and clean-up; on Linux they do nothing.
// netStartup returns 0 or the system's error code.
int netStartup();
void netCleanup();
// Last socket error of this thread (WSAGetLastError / errno).
int lastSocketError();

class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    bool open();
    bool setNonBlocking();
    // Binds to any local address on `port`; with reuse=false the bind fails
    // when another socket holds the port.
    bool bindAny(std::uint16_t port);
    // 1 readable, 0 timed out, -1 error.
    int waitReadable(int timeoutMs);
    // Bytes received, or -1. The sender's address goes to *sender as
    // "a.b.c.d:port" when sender is not null.
    int receiveFrom(void* buffer, int length, std::string* sender);
    // Sends one datagram to host:port (IPv4 dotted text); bytes sent or -1.
    int sendTo(const void* data, int length, const std::string& host, std::uint16_t port);
    // Closes the socket; false when the system reports a failure.
    bool close();
    bool isOpen() const;

private:
#if defined(_WIN32)
    std::uintptr_t socket_ = ~std::uintptr_t{0};
#else
    int socket_ = -1;
#endif
};

}  // namespace rez::platform
