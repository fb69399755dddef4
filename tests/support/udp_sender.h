#pragma once
// Plays a game that streams telemetry datagrams to a local UDP port.
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace rez::test {

class UdpSender {
public:
    UdpSender(std::uint16_t port, std::vector<unsigned char> payload, int periodMs = 2);
    ~UdpSender();
    // Waits until the stream is flowing (a datagram has gone out); false after
    // `ms` of wall time. A port probed before then sees nothing.
    bool waitUntilSending(int ms = 10000) const;

private:
    std::atomic<bool> running_{true};
    std::atomic<long> sent_{0};
    std::thread thread_;
};

}  // namespace rez::test
