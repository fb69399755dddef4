#pragma once
// The network half of the controller link's sending side: the settings the
// host gives (multicast group and port, listen port) and the sender loop that
// forwards the queued controller messages to the group, one per datagram.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/udp_socket.h"
#include "rezadedudid.h"

namespace rez {

inline constexpr const char* kDefaultMulticastAddress = "232.11.12.14";
inline constexpr int kDefaultMulticastPort = 51324;
inline constexpr int kDefaultListenPort = 53241;
inline constexpr std::size_t kMulticastAddressBuffer = 20;  // 19 characters and the zero

struct NetworkSettings {
    mutable std::mutex addressUse;  // the host may set the group while a sender starts
    std::array<char, kMulticastAddressBuffer> multicastAddress{};
    std::atomic<std::int32_t> multicastPort{kDefaultMulticastPort};
    std::atomic<std::int32_t> udpListenPort{kDefaultListenPort};
    // Passes on which the auto queue held at most one message.
    std::atomic<std::int32_t> udpAutoRepeatCount{0};

    NetworkSettings() { reset(); }
    std::string address() const;
    // Back to the values the process starts with.
    void reset();
};

NetworkSettings& networkSettings() noexcept;

// Four dot-separated parts, each one or more decimal digits worth at most 255.
bool isValidMulticastAddress(const char* text) noexcept;

// Closes the sender's socket at its normal end; tests replace it to see a
// failing close handled. Empty means UdpSocket::close.
std::function<bool(platform::UdpSocket&)>& senderSocketCloser() noexcept;

}  // namespace rez

extern "C" {
REZ_API void startUPDMulticastSenderThread(void);
REZ_API void setMulticastAddr(const char* address, unsigned port);
REZ_API void setUDPport(unsigned port);
}
