#pragma once
// IPv4 TCP connections over Winsock 2.2 or BSD sockets, with the same small
// API (the network start-up and the error numbers are those of
// platform/udp_socket.h):
// - Nothing here ever waits longer than the time-out it is given: connect
//   runs non-blocking with a time-out (a refused connect to a local port takes
//   about two seconds on Windows when made blocking), and a wait of 0 only
//   polls.
// - Sending to a peer that has closed is an error, never a signal that ends
//   the process.
// - Sockets are never inherited by child processes.
// - No socket opens outside a network start-up, on either system.
// TcpListener is the far end, for tests and host tools that play a server.
#include <cstdint>
#include <string>

namespace rez::platform {

// Text of a socket error number, as the system gives it (strerror on Linux,
// FormatMessage on Windows), without a line break.
std::string socketErrorText(int code);

class TcpClient {
public:
    TcpClient() = default;
    ~TcpClient();
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;
    TcpClient(TcpClient&& other) noexcept;
    TcpClient& operator=(TcpClient&& other) noexcept;

    // A new socket, not inheritable; fails outside a network start-up on both
    // systems (socketErrorNotStarted).
    bool open();
    bool setNonBlocking();
    // Connects a non-blocking socket to host:port (IPv4 dotted text), waiting
    // at most timeoutMs for the connection to be made. On failure the last
    // socket error tells why (a time-out reads as WSAETIMEDOUT / ETIMEDOUT).
    bool connect(const std::string& host, std::uint16_t port, int timeoutMs);
    // Bytes sent (possibly fewer than `length` on a full send buffer) or -1.
    int send(const void* data, int length);
    // 1 readable (data, or the peer's close), 0 timed out, -1 error; a
    // time-out of 0 polls without waiting.
    int waitReadable(int timeoutMs);
    // Bytes received, 0 when the peer has closed, -1 on an error (a
    // non-blocking socket with nothing to read is one).
    int receive(void* buffer, int length);
    // Closes the socket; false when the system reports a failure.
    bool close();
    bool isOpen() const;
    bool inheritable() const;

private:
    friend class TcpListener;
#if defined(_WIN32)
    std::uintptr_t socket_ = ~std::uintptr_t{0};
#else
    int socket_ = -1;
#endif
};

// A listening socket on one loopback port.
class TcpListener {
public:
    TcpListener() = default;
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Listens on 127.0.0.1:port. A port whose earlier connections are still
    // winding down can be listened on again at once (on Linux through address
    // reuse, which Windows does not need and where it would let two servers
    // share the port).
    bool listen(std::uint16_t port);
    // Waits at most timeoutMs for a connection; true with `connection` holding
    // it (blocking), false when none came or on an error.
    bool accept(TcpClient& connection, int timeoutMs);
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
