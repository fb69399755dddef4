#pragma once
// The in-process mailbox between the host, the engine and the controller
// transports: three transmit queues filled by the host and the engine, two
// receive queues filled by the frame parser, and the four exports over them.
// A message handed in through a bare pointer ends at its first end marker
// (0x0A 0x0D) within 512 bytes; the library does not look at its lead bytes.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "controller/message_queue.h"
#include "platform/wake_signal.h"
#include "rezadedudid.h"

namespace rez {

inline constexpr std::size_t kMaxMessageLength = 512;
// Transmit queues take a message only while they hold fewer than 150.
inline constexpr std::size_t kTxQueueCapacity = 150;
// Receive queues take a frame while they hold 150 or fewer.
inline constexpr std::size_t kRxQueueCapacity = 151;

struct Mailbox {
    MessageQueue serialTxQueue{kTxQueueCapacity};  // to the controller over serial
    MessageQueue udpTxQueue{kTxQueueCapacity};     // to the controller over UDP
    MessageQueue autoQueue{kTxQueueCapacity};      // repeated messages, either transport
    MessageQueue serialRxQueue{kRxQueueCapacity};  // frames parsed from the serial port
    MessageQueue udpRxQueue{kRxQueueCapacity};     // frames parsed from UDP datagrams
    // Given after a message joined the serial or the UDP transmit queue, so
    // that transport writes it at once instead of at its next pass.
    platform::WakeSignal serialTxWake;
    platform::WakeSignal udpTxWake;

    void clearAll();
};

// The one process-wide mailbox; its queues start empty and live as long as
// the library.
Mailbox& mailbox() noexcept;

// Length of the message at `bytes`: up to and including the first end marker
// whose second byte lies within the first min(available, 512) bytes; 0 when
// there is none. Never reads past that marker.
std::size_t messageExtent(const std::uint8_t* bytes, std::size_t available = kMaxMessageLength) noexcept;

// Queues a message whose length the caller knows, as sendMessagemmf queues
// one it has measured (same routing, same results). The engine's cue frame
// goes this way: its 36 bytes carry floats, and a float can hold the end
// marker pair, which would end the frame early if it were measured.
int queueOutgoingMessage(std::span<const std::uint8_t> bytes);

// The auto-message rule of both transports, each keeping its own count.
// A transport writes a copy of autoQueue's front message on every pass, then
// calls this with that copy. A newer message queued behind it takes over at
// once (count 0); a lone one is dropped once the count passes 10 (so it goes
// out 12 times from a count of 0, 11 after a drop, which leaves the count at
// 1). Only the message written is ever removed: the other transport takes
// from the same queue and may have removed it already.
void advanceAutoMessage(const MessageQueue::Message& written, std::atomic<std::int32_t>& repeatCount);

}  // namespace rez

extern "C" {
REZ_API int sendMessagemmf(const unsigned char* message);
REZ_API int autoMessagemmf(const unsigned char* message);
REZ_API int readMessagemmf(unsigned char* buffer);
REZ_API int newMessagemmf(void);
}
