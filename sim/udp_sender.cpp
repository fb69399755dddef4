#include "sim/udp_sender.h"

#include "platform/clock.h"
#include "platform/udp_socket.h"

namespace rez::sim {

UdpSender::UdpSender(std::uint16_t port, Payload payload, int periodMs)
    : UdpSender(port, Payloads{{std::move(payload)}}, periodMs) {}

UdpSender::UdpSender(std::uint16_t port, Payloads payloads, int periodMs) : payloads_(std::move(payloads.each)) {
    thread_ = std::thread([this, port, periodMs] {
        platform::netStartup();
        {
            platform::UdpSocket socket;
            std::vector<Payload> sending;
            if (socket.open()) {
                while (running_.load()) {
                    {
                        std::lock_guard<std::mutex> lock(mutex_);
                        sending = payloads_;
                    }
                    for (const Payload& p : sending)
                        if (socket.sendTo(p.data(), static_cast<int>(p.size()), "127.0.0.1", port) > 0) sent_.fetch_add(1);
                    platform::sleepMs(periodMs);
                }
            }
        }
        platform::netCleanup();
    });
}

UdpSender::~UdpSender() { stop(); }

void UdpSender::stop() {
    running_.store(false);
    if (thread_.joinable()) thread_.join();
}

void UdpSender::setPayloads(std::vector<Payload> payloads) {
    std::lock_guard<std::mutex> lock(mutex_);
    payloads_ = std::move(payloads);
}

bool UdpSender::waitUntilSending(int ms) const {
    const std::int64_t deadline = platform::counterNow() + platform::counterFrequency() * ms / 1000;
    while (sent_.load() == 0) {
        if (platform::counterNow() >= deadline) return false;
        platform::sleepMs(1);
    }
    return true;
}

}  // namespace rez::sim
