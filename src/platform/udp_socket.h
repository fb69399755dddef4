#pragma once
// IPv4 UDP sockets over Winsock 2.2 or BSD sockets, with the same small API.
// Both builds behave alike wherever a caller can tell, so a test on Linux
// catches what would go wrong on Windows:
// - A socket can be made only between netStartup and the matching
//   netCleanup, on Linux as on Windows; outside that, open() fails with
//   socketErrorNotStarted.
// - Sockets are never inherited by child processes (a child started with
//   handle inheritance would otherwise keep a probed port bound).
// - A datagram longer than the receive buffer is dropped and reported as an
//   error (socketErrorTooLong), never handed over cut short.
// Error numbers are the system's own (WSAGetLastError / errno) except where a
// constant below names them.
#include <cstdint>
#include <string>

namespace rez::platform {

// A socket was asked for before netStartup or after the last netCleanup
// (WSANOTINITIALISED; the same number on Linux, which has no such error).
extern const int socketErrorNotStarted;
// A datagram did not fit the receive buffer (WSAEMSGSIZE / EMSGSIZE).
extern const int socketErrorTooLong;
// The port is held by another socket (WSAEADDRINUSE / EADDRINUSE).
extern const int socketErrorAddressInUse;

// Network start-up (WSAStartup 2.2) and clean-up, counted: each successful
// netStartup needs one netCleanup. netStartup returns 0 or the system's error
// code.
int netStartup();
void netCleanup();
// Last socket error of this thread (WSAGetLastError / errno).
int lastSocketError();
// The platform's inet_addr reading of dotted IPv4 text (a part with a leading
// zero is octal, 0x hexadecimal), in host byte order; false when it reads none.
bool inetAddr(const std::string& text, std::uint32_t& address);

class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // A new socket, not inheritable; false before network start-up.
    bool open();
    bool setNonBlocking();
    // Binds to any local address on `port`, plainly: no exclusive use and no
    // address reuse, so the system's default rules decide a shared port.
    bool bindAny(std::uint16_t port);
    // Binds to one local IPv4 address (dotted text) on `port`.
    bool bindAddress(const std::string& address, std::uint16_t port);
    // 1 readable, 0 timed out, -1 error.
    int waitReadable(int timeoutMs);
    // The same with a wait in microseconds (0 polls without waiting).
    int waitReadableMicroseconds(int timeoutUs);
    // Bytes received, or -1. A datagram longer than `length` is consumed and
    // gives -1 with socketErrorTooLong. The sender's address goes to *sender
    // as "a.b.c.d:port" when sender is not null.
    int receiveFrom(void* buffer, int length, std::string* sender);
    // The same, with the sender's IPv4 address and port in host byte order
    // (left unchanged when the receive fails).
    int receiveFrom(void* buffer, int length, std::uint32_t& senderAddress, std::uint16_t& senderPort);
    // Sends one datagram to host:port (IPv4 dotted text); bytes sent or -1.
    int sendTo(const void* data, int length, const std::string& host, std::uint16_t port);
    // The same to an IPv4 address in host byte order.
    int sendTo(const void* data, int length, std::uint32_t address, std::uint16_t port);
    // Multicast leaves by the interface that holds `address` (host byte
    // order), not by whichever one the route table prefers: on Windows a
    // Wi-Fi route with a lower metric would otherwise carry it even from a
    // socket bound to the wired adapter.
    bool setMulticastInterface(std::uint32_t address);
    // Hops a multicast datagram may take; 1 keeps it on the local link.
    bool setMulticastTtl(int hops);
    // What the system holds for the two, as it reports them back.
    bool multicastInterface(std::uint32_t& address) const;
    bool multicastTtl(int& hops) const;
    // Closes the socket; false when the system reports a failure.
    bool close();
    bool isOpen() const;
    // Whether a child process would get this socket (never for one made by
    // open(); false for a closed socket).
    bool inheritable() const;

private:
#if defined(_WIN32)
    std::uintptr_t socket_ = ~std::uintptr_t{0};
#else
    int socket_ = -1;
#endif
};

}  // namespace rez::platform
