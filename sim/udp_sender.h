#pragma once
// Plays a game that streams telemetry datagrams to a local UDP port.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace rez::sim {

class UdpSender {
public:
    using Payload = std::vector<unsigned char>;
    UdpSender(std::uint16_t port, Payload payload, int periodMs = 2);
    // Each period sends every payload, in order (a game that sends several
    // packet kinds).
    struct Payloads {
        std::vector<Payload> each;
    };
    UdpSender(std::uint16_t port, Payloads payloads, int periodMs = 2);
    ~UdpSender();
    // Waits until the stream is flowing (a datagram has gone out); false after
    // `ms` of wall time. A port probed before then sees nothing.
    bool waitUntilSending(int ms = 10000) const;
    // What the following periods send.
    void setPayloads(std::vector<Payload> payloads);
    // Ends the stream: nothing is sent once this returns.
    void stop();

private:
    std::atomic<bool> running_{true};
    std::atomic<long> sent_{0};
    std::mutex mutex_;
    std::vector<Payload> payloads_;
    std::thread thread_;
};

}  // namespace rez::sim
