#include "controller/frame_parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "controller/crc16.h"
#include "controller/mailbox.h"

namespace rez {
namespace {

using Bytes = std::vector<std::uint8_t>;

enum class Trailer { Checksum, Marker, BadChecksum };

// A frame of the given kind whose body bytes stay below 0x80 and never form
// the end marker, so the body alone can neither start nor end a frame.
Bytes makeFrame(std::uint8_t lead, std::size_t length, Trailer trailer, unsigned seed = 1) {
    Bytes frame(length);
    frame[0] = frame[1] = lead;
    for (std::size_t i = 2; i + 2 < length; ++i) frame[i] = static_cast<std::uint8_t>((seed + 7 * i) % 0x80);
    const std::uint16_t crc = crc16(frame.data(), length - 2);
    std::uint16_t written = crc;
    if (trailer == Trailer::Marker) written = 0x0D0A;
    if (trailer == Trailer::BadChecksum) written = static_cast<std::uint16_t>(crc ^ 0x0100);
    frame[length - 2] = static_cast<std::uint8_t>(written & 0xFF);
    frame[length - 1] = static_cast<std::uint8_t>(written >> 8);
    return frame;
}

Bytes asQueued(Bytes frame) {
    frame[frame.size() - 2] = 0x0A;
    frame[frame.size() - 1] = 0x0D;
    return frame;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes tail(const Bytes& bytes, std::size_t n) { return Bytes(bytes.end() - static_cast<std::ptrdiff_t>(n), bytes.end()); }

std::vector<Bytes> drain(MessageQueue& queue) {
    std::vector<Bytes> frames;
    while (auto f = queue.takeFront()) frames.push_back(std::move(*f));
    return frames;
}

class FrameParser : public ::testing::Test {
protected:
    void SetUp() override { controllerVersionLatch().store(0); }
    void TearDown() override { controllerVersionLatch().store(0); }
    MessageQueue queue{kRxQueueCapacity};
};

struct ParseCase {
    std::string name;
    Bytes input;
    bool result;
    std::vector<Bytes> queued;
    Bytes remaining;
};

std::vector<ParseCase> parseCases() {
    const Bytes shortValid{0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x88, 0x11};
    const Bytes shortMarker{0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x0A, 0x0D};
    const Bytes shortBad{0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x88, 0x12};
    const Bytes shortValue2{0xF9, 0xF9, 0x01, 0x00, 0x02, 0x00, 0x88, 0xE1};

    std::vector<ParseCase> cases;
    cases.push_back({"seven bytes wait", Bytes(shortValid.begin(), shortValid.begin() + 7), false, {},
                     Bytes(shortValid.begin(), shortValid.begin() + 7)});
    cases.push_back({"short checksum form", shortValid, true, {shortMarker}, {}});
    cases.push_back({"short marker form", shortMarker, true, {shortMarker}, {}});
    cases.push_back({"bad checksum then valid", concat({shortBad, shortValue2}), true, {asQueued(shortValue2)}, {}});

    for (const FrameKind& kind : kFrameKinds) {
        const std::string lead = std::to_string(kind.lead);
        const Bytes sum = makeFrame(kind.lead, kind.length, Trailer::Checksum);
        cases.push_back({"checksum form, lead " + lead, sum, true, {asQueued(sum)}, {}});
        const Bytes marker = makeFrame(kind.lead, kind.length, Trailer::Marker);
        if (kind.markerFormAccepted) {
            cases.push_back({"marker form, lead " + lead, marker, true, {marker}, {}});
        } else {
            cases.push_back({"marker form refused, lead " + lead, marker, false, {}, tail(marker, 7)});
        }
        const Bytes bad = makeFrame(kind.lead, kind.length, Trailer::BadChecksum);
        cases.push_back({"bad checksum skipped, lead " + lead, bad, false, {}, tail(bad, 7)});
        const Bytes partial(sum.begin(), sum.end() - 1);
        if (kind.length > kShortFrameLength) {
            cases.push_back({"one byte short waits, lead " + lead, partial, false, {}, partial});
        }
    }

    // A long frame's lead holds the buffer even when a whole short frame
    // follows inside the bytes already held.
    Bytes f8Prefix = makeFrame(0xF8, 38, Trailer::Checksum);
    f8Prefix.resize(37);
    std::copy(shortValid.begin(), shortValid.end(), f8Prefix.begin() + 20);
    cases.push_back({"F8 holding 37 bytes waits", f8Prefix, false, {}, f8Prefix});

    // A rejected long frame is resynchronised through, finding what it hides.
    Bytes f8Hiding = makeFrame(0xF8, 38, Trailer::BadChecksum);
    std::copy(shortMarker.begin(), shortMarker.end(), f8Hiding.begin() + 10);
    f8Hiding[36] ^= 0x55;  // keep the trailer wrong after the body changed
    cases.push_back({"short frame inside rejected F8", f8Hiding, true, {shortMarker}, tail(f8Hiding, 7)});

    const Bytes noise{0x00, 0xF9, 0x12, 0xFB, 0x33, 0xFC, 0xFC, 0x01, 0xF9, 0xF8};
    cases.push_back({"noise then frame", concat({noise, shortValid}), true, {shortMarker}, {}});
    const Bytes fa = makeFrame(0xFA, 465, Trailer::Checksum, 5);
    cases.push_back({"frames back to back with partial tail",
                     concat({shortMarker, fa, Bytes(shortValid.begin(), shortValid.begin() + 5)}), true,
                     {shortMarker, asQueued(fa)}, Bytes(shortValid.begin(), shortValid.begin() + 5)});
    // The engine's cue frame lead is not one the controller sends.
    const Bytes cue = makeFrame(0xFC, 36, Trailer::Checksum);
    cases.push_back({"unknown lead FC skipped", cue, false, {}, tail(cue, 7)});
    const Bytes undoubled{0xF9, 0xF8, 0x01, 0x00, 0x01, 0x00, 0x0A, 0x0D};
    cases.push_back({"undoubled lead skipped", undoubled, false, {}, tail(undoubled, 7)});
    return cases;
}

TEST_F(FrameParser, BehaviourTable) {
    for (const ParseCase& c : parseCases()) {
        SCOPED_TRACE(c.name);
        Bytes buffer = c.input;
        EXPECT_EQ(parseFrames(buffer, queue), c.result);
        EXPECT_EQ(drain(queue), c.queued);
        EXPECT_EQ(buffer, c.remaining);
    }
}

TEST_F(FrameParser, ChunkedStreamYieldsTheSameFramesAsWhole) {
    const Bytes shortSum = makeFrame(0xF9, 8, Trailer::Checksum, 3);
    const Bytes f8 = makeFrame(0xF8, 38, Trailer::Marker, 4);
    const Bytes fa = makeFrame(0xFA, 465, Trailer::Checksum, 5);
    const Bytes fb = makeFrame(0xFB, 78, Trailer::Checksum, 6);
    const Bytes shortBad{0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x88, 0x12};
    const Bytes partialF8(f8.begin(), f8.begin() + 20);
    const Bytes stream = concat({{0x00, 0xF9, 0x12}, shortSum, f8, shortBad, fa, fb, partialF8});
    const std::vector<Bytes> expected{asQueued(shortSum), f8, asQueued(fa), asQueued(fb)};

    for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{64}, stream.size()}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        Bytes buffer;
        bool anyTaken = false;
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            const std::size_t n = std::min(chunk, stream.size() - at);
            buffer.insert(buffer.end(), stream.begin() + static_cast<std::ptrdiff_t>(at),
                          stream.begin() + static_cast<std::ptrdiff_t>(at + n));
            anyTaken = parseFrames(buffer, queue) || anyTaken;
        }
        EXPECT_TRUE(anyTaken);
        EXPECT_EQ(drain(queue), expected);
        EXPECT_EQ(buffer, partialF8);
    }
}

TEST_F(FrameParser, FullQueueDropsTheFrameButReportsSuccess) {
    const Bytes frame = makeFrame(0xF9, 8, Trailer::Marker);
    while (queue.size() < 150) ASSERT_TRUE(queue.push(Bytes{0x0A, 0x0D}));

    Bytes buffer = frame;
    EXPECT_TRUE(parseFrames(buffer, queue));
    EXPECT_EQ(queue.size(), 151u) << "a queue holding 150 still takes one";
    EXPECT_TRUE(buffer.empty());

    buffer = concat({frame, frame});
    EXPECT_TRUE(parseFrames(buffer, queue));
    EXPECT_EQ(queue.size(), 151u);
    EXPECT_TRUE(buffer.empty()) << "dropped frames still leave the buffer";
}

TEST_F(FrameParser, VersionLatch) {
    struct LatchCase {
        std::uint8_t command, minor, major;
        Trailer trailer;
        bool latches;
    };
    const LatchCase cases[] = {
        {2, 0x1C, 0x03, Trailer::Checksum, true},    // 328
        {2, 0x1C, 0x03, Trailer::Marker, true},
        {2, 0x1B, 0x03, Trailer::Checksum, false},   // 327
        {2, 0x00, 0x04, Trailer::Marker, true},      // 400
        {2, 0x7F, 0x02, Trailer::Marker, false},     // 200 + 127
        {2, 0x80, 0x04, Trailer::Marker, false},     // 400 - 128
        {2, 0xFF, 0x03, Trailer::Marker, false},     // 300 - 1
        {2, 0x1C, 0x83, Trailer::Marker, false},     // major -125
        {2, 0x1C, 0xFF, Trailer::Marker, false},     // major -1
        {3, 0x1C, 0x03, Trailer::Marker, false},     // not the version reply
        {2, 0x1C, 0x03, Trailer::BadChecksum, false},
    };
    for (const LatchCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "command " << int(c.command) << " minor " << int(c.minor) << " major "
                                        << int(c.major));
        controllerVersionLatch().store(0);
        Bytes frame{0xF9, 0xF9, c.command, 0x00, c.minor, c.major, 0, 0};
        std::uint16_t trailer = crc16(frame.data(), 6);
        if (c.trailer == Trailer::Marker) trailer = 0x0D0A;
        if (c.trailer == Trailer::BadChecksum) trailer ^= 1;
        frame[6] = static_cast<std::uint8_t>(trailer & 0xFF);
        frame[7] = static_cast<std::uint8_t>(trailer >> 8);
        parseFrames(frame, queue);
        EXPECT_EQ(controllerVersionLatch().load(), c.latches ? 1 : 0);
        drain(queue);
    }
}

TEST_F(FrameParser, VersionLatchIsNeverCleared) {
    Bytes buffer{0xF9, 0xF9, 0x02, 0x00, 0x1C, 0x03, 0x0A, 0x0D, 0xF9, 0xF9, 0x02, 0x00, 0x01, 0x00, 0x0A, 0x0D};
    EXPECT_TRUE(parseFrames(buffer, queue));
    EXPECT_EQ(queue.size(), 2u);
    EXPECT_EQ(controllerVersionLatch().load(), 1);
}

}  // namespace
}  // namespace rez
