#pragma once
// The library's receiving UDP endpoint: one IPv4 datagram socket bound to a
// port on every local interface (or on one address), non-blocking, with its
// own log. The UDP game
// readers and the UDP listen thread poll it from their 2 ms loops.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "log/error_log.h"
#include "platform/udp_socket.h"

namespace rez {

inline constexpr int kUdpReceiveAreaBytes = 8192;

class UdpPort {
public:
    UdpPort();
    // Owners close with closePort; a port still open here is closed then, so
    // neither the socket nor the network start-up outlives the object.
    ~UdpPort();
    UdpPort(const UdpPort&) = delete;
    UdpPort& operator=(const UdpPort&) = delete;

    // 1 when the socket is bound, 0 on any failure (logged, already undone).
    int openPort(int port);
    // The same on one local address (dotted IPv4) only, so that datagrams
    // sent to the machine's other interfaces never reach the socket.
    int openPort(int port, const std::string& address);
    // One datagram, or empty when none is queued, on a receive error, or for
    // a datagram longer than the receive area. Waits at most about 1 us.
    std::vector<std::uint8_t> receive();
    // The same into receiveArea, without allocating: the datagram's length,
    // or 0 when none is queued, on a receive error, or for an empty datagram.
    int receiveIntoArea();
    // Waits up to `timeoutMs` for a datagram: 1 when one is queued, 0 when
    // none came, -1 when the port is not open or the wait failed.
    int waitReadable(int timeoutMs);
    // Always 0.
    int closePort();

    std::array<std::uint8_t, kUdpReceiveAreaBytes> receiveArea;
    std::vector<std::uint8_t> bytes;  // scratch for owners
    int senderAddressLength = 0;      // scratch for owners

    // The bind address (any address, or the one asked for, and the port)
    // after openPort, then the sender of the last datagram received; host
    // byte order.
    std::uint32_t senderAddress() const { return address_; }
    std::uint16_t senderPort() const { return port_; }

private:
    int open(int port, const std::string* address);
    int receiveInto(std::uint8_t* buffer);
    void release();

    int startupResult_ = 0;
    bool started_ = false;  // holds one network start-up, which closePort gives back
    platform::UdpSocket socket_;
    std::uint32_t address_ = 0;
    std::uint16_t port_ = 0;
    ErrorLog log_;
};

}  // namespace rez
