#pragma once
// The receiving half of a network controller link: polls the listen port
// every 2 ms, hands the controller's frames to the UDP receive queue, and
// marks the UDP transport live while they keep coming.
//
// A datagram here can stand the serial link aside and feed frames to the
// host, so only the controller's network is heard: the port is bound to the
// wired adapter the multicast goes out from, and a datagram from outside that
// adapter's subnet is dropped and counted. With no wired adapter nothing is
// heard at all.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "rezadedudid.h"

namespace rez {

// Without an accepted datagram for this long the UDP transport is no longer live.
inline constexpr std::chrono::nanoseconds kUdpLiveExpiry{8'000'000'000};

struct UdpListenState {
    // Datagrams dropped because their sender was off the adapter's subnet,
    // over the life of the process.
    std::atomic<std::uint64_t> foreignDatagrams{0};
    // Listeners inside the loop now; the last one out ends the live state,
    // so udpLive never outlives the listener that set it. Both under liveUse.
    std::mutex liveUse;
    int listening = 0;
};

// The one process-wide instance.
UdpListenState& udpListenState() noexcept;

}  // namespace rez

extern "C" {
REZ_API void startUPDListenThread(void);
}
