#include "tests/support/udp_sender.h"

#include "platform/clock.h"
#include "platform/udp_socket.h"

namespace rez::test {

UdpSender::UdpSender(std::uint16_t port, std::vector<unsigned char> payload, int periodMs) {
    thread_ = std::thread([this, port, payload = std::move(payload), periodMs] {
        platform::netStartup();
        {
            platform::UdpSocket socket;
            if (socket.open()) {
                while (running_.load()) {
                    if (socket.sendTo(payload.data(), static_cast<int>(payload.size()), "127.0.0.1", port) > 0)
                        sent_.fetch_add(1);
                    platform::sleepMs(periodMs);
                }
            }
        }
        platform::netCleanup();
    });
}

UdpSender::~UdpSender() {
    running_.store(false);
    if (thread_.joinable()) thread_.join();
}

bool UdpSender::waitUntilSending(int ms) const {
    const std::int64_t deadline = platform::counterNow() + platform::counterFrequency() * ms / 1000;
    while (sent_.load() == 0) {
        if (platform::counterNow() >= deadline) return false;
        platform::sleepMs(1);
    }
    return true;
}

}  // namespace rez::test
