#include "controller/frame_parser.h"

#include "controller/crc16.h"
#include "core/bytes.h"

namespace rez {

namespace {

bool hasEndMarker(const std::uint8_t* frame, std::size_t length) noexcept {
    return frame[length - 2] == kEndMarkerFirst && frame[length - 1] == kEndMarkerSecond;
}

bool trailerAccepted(const std::uint8_t* frame, const FrameKind& kind) noexcept {
    if (kind.markerFormAccepted && hasEndMarker(frame, kind.length)) return true;
    return crc16(frame, kind.length - 2) == load_le<std::uint16_t>(frame + kind.length - 2);
}

// Version = major * 100 + minor, both bytes read as signed, as the controller
// firmware reports them.
void applyVersionTest(const std::uint8_t* frame) noexcept {
    constexpr std::uint8_t kVersionCommand = 2;
    if (frame[2] != kVersionCommand) return;
    const int minor = static_cast<std::int8_t>(frame[4]);
    const int major = static_cast<std::int8_t>(frame[5]);
    if (major * 100 + minor >= kLatchingControllerVersion) controllerVersionLatch().store(1);
}

}  // namespace

const FrameKind* frameKindForLead(std::uint8_t lead) noexcept {
    for (const FrameKind& kind : kFrameKinds) {
        if (kind.lead == lead) return &kind;
    }
    return nullptr;
}

void writeChecksumTrailer(std::span<std::uint8_t> frame) noexcept {
    if (frame.size() < 2) return;
    store_le<std::uint16_t>(frame.data() + frame.size() - 2, crc16(frame.data(), frame.size() - 2));
}

bool parseFrames(std::vector<std::uint8_t>& buffer, MessageQueue& queue) {
    // Consumed bytes are counted and cut off once at the end rather than
    // shifted out frame by frame, so a long run of noise costs linear time.
    std::size_t pos = 0;
    bool tookFrame = false;
    const std::size_t held = buffer.size();
    try {
        while (held - pos >= kShortFrameLength) {
            const std::uint8_t* p = buffer.data() + pos;
            const FrameKind* kind = p[0] == p[1] ? frameKindForLead(p[0]) : nullptr;
            if (kind == nullptr) {
                ++pos;
                continue;
            }
            if (held - pos < kind->length) break;  // wait for the rest of the frame
            if (!trailerAccepted(p, *kind)) {
                ++pos;
                continue;
            }
            MessageQueue::Message frame(p, p + kind->length);
            frame[kind->length - 2] = kEndMarkerFirst;
            frame[kind->length - 1] = kEndMarkerSecond;
            if (kind->length == kShortFrameLength && controllerVersionLatch().load() == 0) {
                applyVersionTest(frame.data());
            }
            queue.push(std::move(frame));
            pos += kind->length;
            tookFrame = true;
        }
    } catch (...) {
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(pos));
        throw;
    }
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(pos));
    return tookFrame;
}

std::atomic<std::int32_t>& controllerVersionLatch() noexcept {
    static std::atomic<std::int32_t> latch{0};
    return latch;
}

}  // namespace rez
