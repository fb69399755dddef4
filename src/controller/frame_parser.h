#pragma once
// Frames exchanged with the motion controller. A frame is its lead byte twice,
// a body, and a two-byte trailer: either the CRC-16/ARC of everything before
// it (low byte first) or the end marker 0x0A 0x0D. Messages are queued with the
// end marker; the serial sender writes the checksum over it, and the receive
// side turns every accepted trailer back into the end marker.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "controller/message_queue.h"

namespace rez {

inline constexpr std::uint8_t kEndMarkerFirst = 0x0A;
inline constexpr std::uint8_t kEndMarkerSecond = 0x0D;

struct FrameKind {
    std::uint8_t lead;        // written twice at the start of the frame
    std::size_t length;       // whole frame, lead bytes and trailer included
    bool markerFormAccepted;  // whether the end marker may stand in for the checksum
};

// The kinds the receive side accepts, in the order it tries them.
inline constexpr std::array<FrameKind, 4> kFrameKinds{{
    {0xF9, 8, true},    // short frame: command, 0, parameter low, parameter high
    {0xF8, 38, true},
    {0xFA, 465, true},
    {0xFB, 78, false},
}};
inline constexpr std::size_t kShortFrameLength = 8;

// The kind whose lead byte this is, or null.
const FrameKind* frameKindForLead(std::uint8_t lead) noexcept;

using ShortFrame = std::array<std::uint8_t, kShortFrameLength>;

// Sent twice while probing a port for a controller.
inline constexpr ShortFrame kIdentityRequest{0xF9, 0xF9, 0x01, 0x00, 0x00, 0x00, 0x0A, 0x0D};
// The answers a controller gives to it: value 1 and value 2, each in marker
// and in checksum form. A standard-port connect accepts only the first.
inline constexpr std::array<ShortFrame, 4> kIdentityReplies{{
    {0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x0A, 0x0D},
    {0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x88, 0x11},
    {0xF9, 0xF9, 0x01, 0x00, 0x02, 0x00, 0x0A, 0x0D},
    {0xF9, 0xF9, 0x01, 0x00, 0x02, 0x00, 0x88, 0xE1},
}};
// Queued to the controller after a scan found it, in this order.
inline constexpr ShortFrame kCommand4Message{0xF9, 0xF9, 0x04, 0x00, 0x01, 0x00, 0x0A, 0x0D};
inline constexpr ShortFrame kCommand2Request{0xF9, 0xF9, 0x02, 0x00, 0x01, 0x00, 0x0A, 0x0D};

// Overwrites the last two bytes with the checksum of the bytes before them,
// low byte first. Frames shorter than two bytes are left alone.
void writeChecksumTrailer(std::span<std::uint8_t> frame) noexcept;

// Cuts whole frames off the front of `buffer` and pushes each into `queue`
// with its trailer replaced by the end marker; a frame finding the queue at
// capacity is dropped. Bytes that cannot start a frame are skipped one at a
// time; an incomplete frame stays in the buffer for the next call. True when
// at least one frame was taken out of the buffer, queued or not.
bool parseFrames(std::vector<std::uint8_t>& buffer, MessageQueue& queue);

// 0 at start; set to 1 for good by the first command 2 short frame that
// reports controller version 328 or later. Read by the UDP sender.
std::atomic<std::int32_t>& controllerVersionLatch() noexcept;
inline constexpr int kLatchingControllerVersion = 328;

}  // namespace rez
