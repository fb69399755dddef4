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

private:
    std::atomic<bool> running_{true};
    std::thread thread_;
};

}  // namespace rez::test
