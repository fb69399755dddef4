#pragma once
// The receiving half of a network controller link: polls the listen port
// every 2 ms, hands the controller's frames to the UDP receive queue, and
// marks the UDP transport live while they keep coming.
#include <chrono>

#include "rezadedudid.h"

namespace rez {

// Without an accepted datagram for this long the UDP transport is no longer live.
inline constexpr std::chrono::nanoseconds kUdpLiveExpiry{8'000'000'000};

}  // namespace rez

extern "C" {
REZ_API void startUPDListenThread(void);
}
