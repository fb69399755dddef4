#pragma once
// State shared by the serial link loop, the UDP listen and send loops and the
// host's link and mailbox exports. The flags are single bytes stored and read
// without a lock; the serial and UDP transports use serialLive / udpLive to
// stand aside for each other while one of them carries live traffic.
#include <atomic>
#include <cstdint>

namespace rez {

struct LinkFlags {
    std::atomic<bool> linkRunning{false};         // serial link loop is to keep running
    std::atomic<bool> linkEnded{false};           // serial link loop has returned
    std::atomic<bool> portConnected{false};       // controller port open and a controller answered
    std::atomic<bool> serialLive{false};          // frames have arrived over serial since the last disconnect
    std::atomic<bool> interfaceRunning{true};     // cleared by pauseInterface
    std::atomic<bool> autoconnectEnabled{false};  // scan every port while not connected
    std::atomic<std::int32_t> standardPort{0};    // COM number used by resumeInterface
    std::atomic<std::int32_t> autoRepeatCount{0}; // passes the current auto message has been written
    std::atomic<bool> udpLive{false};             // a frame arrived over UDP less than 8 s ago
    std::atomic<bool> udpRunning{false};          // UDP loops are to keep running
    std::atomic<bool> udpEnded{false};            // a UDP loop has returned
    std::atomic<bool> udpStarted{false};          // a UDP loop has started at least once

    // Back to the values the process starts with.
    void reset() noexcept;
};

static_assert(sizeof(std::atomic<bool>) == 1 && std::atomic<bool>::is_always_lock_free,
              "link flags must be lock-free single bytes");

// The one process-wide instance.
LinkFlags& linkFlags() noexcept;

}  // namespace rez
