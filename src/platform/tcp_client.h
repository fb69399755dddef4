#pragma once
// TCP connections over Winsock 2.2 or BSD sockets, IPv4 or IPv6, with the
// same small API (the network start-up and the error numbers are those of
// platform/udp_socket.h):
// - Nothing here ever waits longer than the time-out it is given: connect
//   runs non-blocking with a time-out (a refused connect to a local port takes
//   about two seconds on Windows when made blocking), and a wait of 0 only
//   polls. Only resolving a host name, which numeric text never needs, is the
//   system's to time.
// - Sending to a peer that has closed is an error, never a signal that ends
//   the process.
// - Sockets are never inherited by child processes.
// - No socket opens outside a network start-up, on either system.
// TcpListener is the far end, for tests and host tools that play a server.
#include <cstdint>
#include <string>

namespace rez::platform {

enum class IpFamily { V4, V6 };

#if defined(_WIN32)
using NativeSocket = std::uintptr_t;  // a SOCKET, without winsock2.h here
inline constexpr NativeSocket kNoSocket = ~NativeSocket{0};
#else
using NativeSocket = int;
inline constexpr NativeSocket kNoSocket = -1;
#endif

// A non-blocking call had nothing to do at once (WSAEWOULDBLOCK /
// EWOULDBLOCK): nothing is wrong with the connection.
extern const int socketErrorWouldBlock;
// The far end reset or closed the connection (WSAECONNRESET / ECONNRESET).
extern const int socketErrorConnectionReset;

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

    // A new socket of that family, not inheritable; fails outside a network
    // start-up on both systems (socketErrorNotStarted).
    bool open(IpFamily family = IpFamily::V4);
    bool setNonBlocking();
    // Small writes go out at once instead of waiting to be joined (TCP_NODELAY).
    bool setNoDelay();
    // Connects a non-blocking socket to host:port (numeric text of the
    // socket's family), waiting at most timeoutMs for the connection to be
    // made. On failure the last socket error tells why (a time-out reads as
    // WSAETIMEDOUT / ETIMEDOUT, text that is no address as WSAEINVAL / EINVAL).
    bool connect(const std::string& host, std::uint16_t port, int timeoutMs) {
        return connectTo(host, std::to_string(port), true, timeoutMs);
    }
    // The same with host and port as a configuration file gives them: a host
    // name or address (empty: the loopback address) and a service or port
    // number, resolved for the socket's family; the first result is tried.
    bool connect(const std::string& host, const std::string& port, int timeoutMs) {
        return connectTo(host, port, false, timeoutMs);
    }
    // Bytes sent (possibly fewer than `length` on a full send buffer) or -1.
    int send(const void* data, int length);
    // 1 readable (data, or the peer's close), 0 timed out, -1 error; a
    // time-out of 0 or less polls without waiting.
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
    bool connectTo(const std::string& host, const std::string& port, bool numericHost, int timeoutMs);
    void adopt(NativeSocket socket, IpFamily family);
    // Closes and forgets the socket; false when the system reports a failure.
    static bool closeSocket(NativeSocket& socket);

    NativeSocket socket_ = kNoSocket;
    IpFamily family_ = IpFamily::V4;
};

// A listening socket on one loopback port.
class TcpListener {
public:
    TcpListener() = default;
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Listens on the loopback address of the family (127.0.0.1 or ::1) at
    // `port`, or at any free port for 0 (port() tells which). A port whose
    // earlier connections are still winding down can be listened on again at
    // once (on Linux through address reuse, which Windows does not need and
    // where it would let two servers share the port).
    bool listen(IpFamily family, std::uint16_t port);
    bool listen(std::uint16_t port) { return listen(IpFamily::V4, port); }
    // The port listened on; 0 when closed.
    std::uint16_t port() const { return port_; }
    // Waits at most timeoutMs for a connection; true with `connection` holding
    // it (blocking), false when none came or on an error.
    bool accept(TcpClient& connection, int timeoutMs);
    bool close();
    bool isOpen() const;

private:
    NativeSocket socket_ = kNoSocket;
    IpFamily family_ = IpFamily::V4;
    std::uint16_t port_ = 0;
};

}  // namespace rez::platform
