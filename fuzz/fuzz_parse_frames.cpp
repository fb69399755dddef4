// Feeds arbitrary byte streams to parseFrames in random chunk sizes, as the
// serial link does, and checks every queued frame and the bytes left behind.
// A plain reader that shifts the buffer one step at a time runs alongside on
// the same chunks; both must queue the same frames and keep the same bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "controller/crc16.h"
#include "controller/frame_parser.h"
#include "controller/mailbox.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void check(bool condition) {
    if (!condition) std::abort();
}

bool plainParse(Bytes& buffer, std::vector<Bytes>& queued, std::size_t capacity) {
    bool took = false;
    while (buffer.size() >= 8) {
        const rez::FrameKind* kind = buffer[0] == buffer[1] ? rez::frameKindForLead(buffer[0]) : nullptr;
        if (kind != nullptr) {
            if (buffer.size() < kind->length) return took;
            const std::size_t n = kind->length;
            const bool marker = buffer[n - 2] == 0x0A && buffer[n - 1] == 0x0D;
            const std::uint16_t crc = rez::crc16(buffer.data(), n - 2);
            const bool sum = (crc & 0xFF) == buffer[n - 2] && (crc >> 8) == buffer[n - 1];
            if ((marker && kind->markerFormAccepted) || sum) {
                Bytes frame(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
                frame[n - 2] = 0x0A;
                frame[n - 1] = 0x0D;
                if (queued.size() < capacity) queued.push_back(frame);
                buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
                took = true;
                continue;
            }
        }
        buffer.erase(buffer.begin());
    }
    return took;
}

void checkFrame(const Bytes& frame) {
    check(frame.size() >= 8);
    const rez::FrameKind* kind = rez::frameKindForLead(frame[0]);
    check(kind != nullptr);
    check(frame[1] == frame[0]);
    check(frame.size() == kind->length);
    check(frame[frame.size() - 2] == 0x0A && frame[frame.size() - 1] == 0x0D);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    rez::MessageQueue queue(rez::kRxQueueCapacity);
    Bytes buffer;
    Bytes plainBuffer;
    std::vector<Bytes> plainQueued;

    while (input.remaining_bytes() > 0) {
        // Sometimes the host does not read for a while, so the queue fills up.
        const bool hostReads = input.ConsumeIntegralInRange<int>(0, 7) != 0;
        const std::size_t chunk = input.ConsumeIntegralInRange<std::size_t>(1, 600);
        const Bytes bytes = input.ConsumeBytes<std::uint8_t>(chunk);
        buffer.insert(buffer.end(), bytes.begin(), bytes.end());
        plainBuffer.insert(plainBuffer.end(), bytes.begin(), bytes.end());

        const bool took = rez::parseFrames(buffer, queue);
        const bool plainTook = plainParse(plainBuffer, plainQueued, rez::kRxQueueCapacity);
        check(took == plainTook);
        check(buffer == plainBuffer);
        check(queue.size() == plainQueued.size());
        check(queue.size() <= rez::kRxQueueCapacity);

        // Whatever is left is too short to decide on.
        if (buffer.size() >= 8) {
            const rez::FrameKind* kind = rez::frameKindForLead(buffer[0]);
            check(buffer[0] == buffer[1] && kind != nullptr && buffer.size() < kind->length);
        }
        if (hostReads) {
            for (const Bytes& expected : plainQueued) {
                auto frame = queue.takeFront();
                check(frame.has_value());
                checkFrame(*frame);
                check(*frame == expected);
            }
            check(queue.empty());
            plainQueued.clear();
        }
    }
    return 0;
}
