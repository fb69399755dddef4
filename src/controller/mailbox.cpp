#include "controller/mailbox.h"

#include <cstring>
#include <span>

#include "controller/frame_parser.h"
#include "controller/link_flags.h"
#include "core/console.h"
#include "core/export_guard.h"

namespace rez {

void Mailbox::clearAll() {
    serialTxQueue.clear();
    udpTxQueue.clear();
    autoQueue.clear();
    serialRxQueue.clear();
    udpRxQueue.clear();
}

Mailbox& mailbox() noexcept {
    static Mailbox box;
    return box;
}

std::size_t messageExtent(const std::uint8_t* bytes, std::size_t available) noexcept {
    const std::size_t limit = available < kMaxMessageLength ? available : kMaxMessageLength;
    for (std::size_t i = 0; i + 1 < limit; ++i) {
        if (bytes[i] == kEndMarkerFirst && bytes[i + 1] == kEndMarkerSecond) return i + 2;
    }
    return 0;
}

namespace {

bool anyTransportRunning(const LinkFlags& flags) {
    return flags.linkRunning.load() || flags.udpRunning.load();
}

}  // namespace

int queueOutgoingMessage(std::span<const std::uint8_t> bytes) {
    LinkFlags& flags = linkFlags();
    if (!anyTransportRunning(flags) || bytes.empty()) return -1;
    Mailbox& box = mailbox();
    auto toSerial = [&] {
        if (!box.serialTxQueue.push(bytes)) return false;
        box.serialTxWake.signal();
        return true;
    };
    auto toUdp = [&] {
        if (!box.udpTxQueue.push(bytes)) return false;
        box.udpTxWake.signal();
        return true;
    };
    const bool serialLive = flags.serialLive.load();
    const bool udpLive = flags.udpLive.load();
    if (serialLive) {
        if (toSerial()) return 1;
        if (udpLive && toUdp()) return 1;
        return -1;
    }
    if (udpLive) return toUdp() ? 1 : -1;
    // Nobody has heard from the controller yet: offer the message to both
    // transports. It counts as accepted even when neither had room.
    toSerial();
    toUdp();
    return 1;
}

void advanceAutoMessage(const MessageQueue::Message& written, std::atomic<std::int32_t>& repeatCount) {
    constexpr std::int32_t kRepeatLimit = 10;
    MessageQueue& queue = mailbox().autoQueue;
    if (queue.popFrontIfSame(written, 2)) {
        repeatCount = 0;
    } else if (repeatCount.load() > kRepeatLimit) {
        queue.popFrontIfSame(written);
        repeatCount = 1;
    } else {
        ++repeatCount;
    }
}

namespace {

int sendMessage(const unsigned char* message) {
    if (message == nullptr) return -1;
    const std::size_t length = messageExtent(message);
    if (length == 0) return -1;
    return queueOutgoingMessage(std::span<const std::uint8_t>(message, length));
}

int autoMessage(const unsigned char* message) {
    const LinkFlags& flags = linkFlags();
    if (anyTransportRunning(flags) && message != nullptr) {
        const std::size_t length = messageExtent(message);
        if (length != 0) {
            return mailbox().autoQueue.push(std::span<const std::uint8_t>(message, length)) ? 1 : 0;
        }
    }
    consolePrint("no valid data");
    return 0;
}

// Frames stay in the queue of a transport that is not live; they become
// readable again when it is.
MessageQueue* liveRxQueue() {
    const LinkFlags& flags = linkFlags();
    if (flags.serialLive.load()) return &mailbox().serialRxQueue;
    if (flags.udpLive.load()) return &mailbox().udpRxQueue;
    return nullptr;
}

int readMessage(unsigned char* buffer) {
    // Without a buffer the frame is left where it is for a later call.
    if (buffer == nullptr) return 0;
    MessageQueue* queue = liveRxQueue();
    if (queue == nullptr) return 0;
    const auto frame = queue->takeFront();
    if (!frame) return 0;
    // A received frame is handed over whole: the parser cut it by its kind's
    // length and put the end marker at its end, so an end marker pair that
    // happens to lie among its data bytes does not end it early.
    const std::size_t size = frame->size();
    const bool whole = size >= 2 && size <= kMaxMessageLength && (*frame)[size - 2] == kEndMarkerFirst &&
                       (*frame)[size - 1] == kEndMarkerSecond;
    const std::size_t length = whole ? size : messageExtent(frame->data(), size);
    if (length != 0) std::memcpy(buffer, frame->data(), length);
    return static_cast<int>(length);
}

int newMessage() {
    const MessageQueue* queue = liveRxQueue();
    return queue != nullptr && !queue->empty() ? 1 : 0;
}

}  // namespace

}  // namespace rez

extern "C" REZ_API int sendMessagemmf(const unsigned char* message) {
    return rez::guardedCall(-1, [&] { return rez::sendMessage(message); });
}

extern "C" REZ_API int autoMessagemmf(const unsigned char* message) {
    return rez::guardedCall(0, [&] { return rez::autoMessage(message); });
}

extern "C" REZ_API int readMessagemmf(unsigned char* buffer) {
    return rez::guardedCall(0, [&] { return rez::readMessage(buffer); });
}

extern "C" REZ_API int newMessagemmf() {
    return rez::guardedCall(0, [] { return rez::newMessage(); });
}
