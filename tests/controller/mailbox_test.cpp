#include "controller/mailbox.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "controller/crc16.h"
#include "controller/frame_parser.h"
#include "controller/link_flags.h"
#include "core/bytes.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "tests/support/child_game.h"

namespace rez {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A message of `length` bytes whose only end marker is its last two bytes.
Bytes makeMessage(std::size_t length, std::uint8_t fill = 0x55) {
    Bytes m(length, fill);
    m[length - 2] = 0x0A;
    m[length - 1] = 0x0D;
    return m;
}

Bytes receivedFrame(std::uint8_t lead, std::size_t length) {
    Bytes frame(length, 0x21);
    frame[0] = frame[1] = lead;
    frame[length - 2] = 0x0A;
    frame[length - 1] = 0x0D;
    return frame;
}

void fill(MessageQueue& queue) {
    while (queue.push(Bytes{0x0A, 0x0D})) {
    }
}

class MailboxExports : public ::testing::Test {
protected:
    void SetUp() override { resetAll(); }
    void TearDown() override { resetAll(); }
    static void resetAll() {
        linkFlags().reset();
        mailbox().clearAll();
        controllerVersionLatch().store(0);
    }
    LinkFlags& flags = linkFlags();
    Mailbox& box = mailbox();
};

TEST(LinkFlags, ResetRestoresStartValues) {
    LinkFlags changed;
    changed.linkRunning = changed.linkEnded = changed.portConnected = changed.serialLive = true;
    changed.interfaceRunning = false;
    changed.autoconnectEnabled = changed.udpLive = changed.udpRunning = changed.udpEnded = changed.udpStarted = true;
    changed.standardPort = 7;
    changed.autoRepeatCount = 11;
    changed.reset();
    EXPECT_FALSE(changed.linkRunning || changed.linkEnded || changed.portConnected || changed.serialLive ||
                 changed.autoconnectEnabled || changed.udpLive || changed.udpRunning || changed.udpEnded ||
                 changed.udpStarted);
    EXPECT_TRUE(changed.interfaceRunning) << "the interface counts as running from load";
    EXPECT_EQ(changed.standardPort, 0);
    EXPECT_EQ(changed.autoRepeatCount, 0);
}

TEST(MessageExtent, FindsTheFirstEndMarkerWithin512Bytes) {
    struct ExtentCase {
        const char* name;
        std::vector<std::pair<std::size_t, std::uint8_t>> bytes;  // offsets set in a zeroed 600-byte buffer
        std::size_t available;
        std::size_t extent;
    };
    const ExtentCase cases[] = {
        {"marker alone", {{0, 0x0A}, {1, 0x0D}}, 512, 2},
        {"second byte at 511", {{510, 0x0A}, {511, 0x0D}}, 512, 512},
        {"second byte at 512", {{511, 0x0A}, {512, 0x0D}}, 600, 0},
        {"none at all", {}, 600, 0},
        {"first of two", {{8, 0x0A}, {9, 0x0D}, {20, 0x0A}, {21, 0x0D}}, 512, 10},
        {"reversed pair is not a marker", {{3, 0x0D}, {4, 0x0A}, {5, 0x0D}}, 512, 6},
        {"0A 0A 0D", {{0, 0x0A}, {1, 0x0A}, {2, 0x0D}}, 512, 3},
        {"limited by what is held", {{8, 0x0A}, {9, 0x0D}}, 9, 0},
    };
    for (const ExtentCase& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes buffer(600, 0);
        for (auto [at, value] : c.bytes) buffer[at] = value;
        EXPECT_EQ(messageExtent(buffer.data(), c.available), c.extent);
    }
}

TEST_F(MailboxExports, NothingRunningRefusesEverything) {
    const Bytes m = makeMessage(8);
    EXPECT_EQ(sendMessagemmf(m.data()), -1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(autoMessagemmf(m.data()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "no valid data");
    EXPECT_TRUE(box.serialTxQueue.empty());
    EXPECT_TRUE(box.udpTxQueue.empty());
    EXPECT_TRUE(box.autoQueue.empty());
}

// A host whose standard output is a file or a pipe must get the text at
// once, not when some later write or the process's exit flushes the stream.
TEST(MailboxConsole, NoValidDataLeavesTheProcessAtOnce) {
    namespace fs = std::filesystem;
    const fs::path file =
        fs::temp_directory_path() / ("rez_stdout_probe_" + std::to_string(platform::counterNow()) + ".txt");
    platform::ChildProcess probe;
    ASSERT_TRUE(probe.start(test::helperPath("mailbox_stdout_probe"), "mailbox_stdout_probe", {file.string()}));
    std::string text;
    for (int waited = 0; waited < 10'000 && text != "no valid data"; waited += 10) {
        platform::sleepMs(10);
        std::ifstream in(file, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    probe.kill();
    std::error_code ec;
    fs::remove(file, ec);
    EXPECT_EQ(text, "no valid data");
}

TEST_F(MailboxExports, BadPointersAndUnterminatedMessagesAreRefused) {
    flags.linkRunning = true;
    Bytes tooLong(513, 0x55);
    tooLong[511] = 0x0A;
    tooLong[512] = 0x0D;
    const Bytes unterminated(512, 0x0A);

    for (const unsigned char* message : {static_cast<const unsigned char*>(nullptr),
                                         static_cast<const unsigned char*>(tooLong.data()),
                                         static_cast<const unsigned char*>(unterminated.data())}) {
        EXPECT_EQ(sendMessagemmf(message), -1);
        testing::internal::CaptureStdout();
        EXPECT_EQ(autoMessagemmf(message), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "no valid data");
    }
    EXPECT_TRUE(box.serialTxQueue.empty());
    EXPECT_TRUE(box.udpTxQueue.empty());
    EXPECT_TRUE(box.autoQueue.empty());

    flags.serialLive = true;
    ASSERT_TRUE(box.serialRxQueue.push(receivedFrame(0xF9, 8)));
    EXPECT_EQ(readMessagemmf(nullptr), 0);
    EXPECT_EQ(box.serialRxQueue.size(), 1u) << "a null buffer must not cost the host its frame";
}

TEST_F(MailboxExports, MessagesAreQueuedUpToTheirFirstEndMarker) {
    flags.linkRunning = true;
    flags.serialLive = true;
    const Bytes longest = makeMessage(512);
    EXPECT_EQ(sendMessagemmf(longest.data()), 1);
    EXPECT_EQ(box.serialTxQueue.takeFront(), longest);

    Bytes withTrailingBytes = makeMessage(8);
    withTrailingBytes.insert(withTrailingBytes.end(), {0x01, 0x02, 0x0A, 0x0D});
    EXPECT_EQ(sendMessagemmf(withTrailingBytes.data()), 1);
    EXPECT_EQ(box.serialTxQueue.takeFront(), makeMessage(8));

    const Bytes markerOnly{0x0A, 0x0D};
    EXPECT_EQ(autoMessagemmf(markerOnly.data()), 1);
    EXPECT_EQ(box.autoQueue.takeFront(), markerOnly);
}

TEST_F(MailboxExports, SendRoutesByLiveTransport) {
    enum Room { Both, SerialFull, UdpFull, BothFull };
    struct RouteCase {
        const char* name;
        bool linkRunning, udpRunning, serialLive, udpLive;
        Room room;
        int result;
        bool toSerial, toUdp;
    };
    const RouteCase cases[] = {
        {"serial live", true, false, true, false, Both, 1, true, false},
        {"serial live, serial full", true, false, true, false, SerialFull, -1, false, false},
        {"both live prefers serial", true, true, true, true, Both, 1, true, false},
        {"both live, serial full overflows to udp", true, true, true, true, SerialFull, 1, false, true},
        {"both live, both full", true, true, true, true, BothFull, -1, false, false},
        {"nothing live goes to both", true, false, false, false, Both, 1, true, true},
        {"nothing live, udp running only", false, true, false, false, Both, 1, true, true},
        {"nothing live, serial full", true, false, false, false, SerialFull, 1, false, true},
        {"nothing live, udp full", true, false, false, false, UdpFull, 1, true, false},
        {"nothing live, both full still accepted", true, false, false, false, BothFull, 1, false, false},
        {"udp live", false, true, false, true, Both, 1, false, true},
        {"udp live, udp full", false, true, false, true, UdpFull, -1, false, false},
        {"udp live ignores serial room", false, true, false, true, SerialFull, 1, false, true},
        {"live flags but nothing running", false, false, true, true, Both, -1, false, false},
    };
    const Bytes message = makeMessage(36, 0xFC);
    for (const RouteCase& c : cases) {
        SCOPED_TRACE(c.name);
        resetAll();
        flags.linkRunning = c.linkRunning;
        flags.udpRunning = c.udpRunning;
        flags.serialLive = c.serialLive;
        flags.udpLive = c.udpLive;
        if (c.room == SerialFull || c.room == BothFull) fill(box.serialTxQueue);
        if (c.room == UdpFull || c.room == BothFull) fill(box.udpTxQueue);
        const std::size_t serialBefore = box.serialTxQueue.size();
        const std::size_t udpBefore = box.udpTxQueue.size();

        EXPECT_EQ(sendMessagemmf(message.data()), c.result);
        EXPECT_EQ(box.serialTxQueue.size(), serialBefore + (c.toSerial ? 1 : 0));
        EXPECT_EQ(box.udpTxQueue.size(), udpBefore + (c.toUdp ? 1 : 0));
        EXPECT_LE(box.serialTxQueue.size(), kTxQueueCapacity);
        EXPECT_LE(box.udpTxQueue.size(), kTxQueueCapacity);
    }
}

TEST_F(MailboxExports, UndrainedQueuesStopAt150ButSendKeepsAccepting) {
    flags.linkRunning = true;
    const Bytes message = makeMessage(8);
    for (int i = 0; i < 200; ++i) ASSERT_EQ(sendMessagemmf(message.data()), 1) << "message " << i;
    EXPECT_EQ(box.serialTxQueue.size(), 150u);
    EXPECT_EQ(box.udpTxQueue.size(), 150u);
}

TEST_F(MailboxExports, AutoQueueTakes150) {
    flags.udpRunning = true;
    const Bytes message = makeMessage(8);
    for (int i = 0; i < 150; ++i) ASSERT_EQ(autoMessagemmf(message.data()), 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(autoMessagemmf(message.data()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "a full queue is not invalid data";
    EXPECT_EQ(box.autoQueue.size(), 150u);
}

// A transport that wrote the front auto message removes only that one: the
// other transport may have removed it already, and what is behind is unsent.
TEST_F(MailboxExports, AutoMessageStepRemovesOnlyTheMessageWritten) {
    const Bytes a = makeMessage(8, 1), b = makeMessage(8, 2), c = makeMessage(8, 3);
    struct Case { std::vector<Bytes> queued, left; std::int32_t before, after; };
    const Case cases[] = {{{a}, {a}, 0, 1}, {{a}, {}, 11, 1}, {{a, b}, {b}, 5, 0},
                          {{b}, {b}, 11, 1}, {{b, c}, {b, c}, 3, 4}};  // the last two: `a` already taken
    for (const Case& k : cases) {
        box.autoQueue.clear();
        for (const Bytes& m : k.queued) box.autoQueue.push(m);
        std::atomic<std::int32_t> count{k.before};
        advanceAutoMessage(a, count);
        std::vector<Bytes> left;
        while (auto m = box.autoQueue.takeFront()) left.push_back(*m);
        EXPECT_EQ(left, k.left) << k.before;
        EXPECT_EQ(count.load(), k.after) << k.before;
    }
}

TEST_F(MailboxExports, ReadGivesEachFrameKindWhole) {
    flags.serialLive = true;
    std::vector<Bytes> sent;
    Bytes stream;
    for (const FrameKind& kind : kFrameKinds) {
        Bytes frame(kind.length, 0x42);
        frame[0] = frame[1] = kind.lead;
        writeChecksumTrailer(frame);
        stream.insert(stream.end(), frame.begin(), frame.end());
        frame[kind.length - 2] = 0x0A;
        frame[kind.length - 1] = 0x0D;
        sent.push_back(frame);
    }
    ASSERT_TRUE(parseFrames(stream, box.serialRxQueue));

    for (const Bytes& expected : sent) {
        EXPECT_EQ(newMessagemmf(), 1);
        std::array<unsigned char, 512> buffer{};
        const int length = readMessagemmf(buffer.data());
        ASSERT_EQ(length, static_cast<int>(expected.size()));
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
    }
    EXPECT_EQ(newMessagemmf(), 0);
    std::array<unsigned char, 512> buffer{};
    EXPECT_EQ(readMessagemmf(buffer.data()), 0);
}

TEST_F(MailboxExports, ReadAndNewFollowTheLiveTransport) {
    struct ReadCase {
        const char* name;
        bool serialLive, udpLive, serialHasFrame, udpHasFrame;
        int expectedLength;  // 8 from serial, 38 from udp, 0 nothing
    };
    const ReadCase cases[] = {
        {"serial live", true, false, true, true, 8},
        {"serial live wins over udp", true, true, true, true, 8},
        {"serial live, its queue empty", true, true, false, true, 0},
        {"udp live", false, true, true, true, 38},
        {"udp live, its queue empty", false, true, true, false, 0},
        {"nothing live", false, false, true, true, 0},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        resetAll();
        flags.serialLive = c.serialLive;
        flags.udpLive = c.udpLive;
        if (c.serialHasFrame) box.serialRxQueue.push(receivedFrame(0xF9, 8));
        if (c.udpHasFrame) box.udpRxQueue.push(receivedFrame(0xF8, 38));
        const std::size_t waitingBefore = box.serialRxQueue.size() + box.udpRxQueue.size();

        EXPECT_EQ(newMessagemmf(), c.expectedLength != 0 ? 1 : 0);
        std::array<unsigned char, 512> buffer{};
        EXPECT_EQ(readMessagemmf(buffer.data()), c.expectedLength);
        EXPECT_EQ(box.serialRxQueue.size() + box.udpRxQueue.size(), waitingBefore - (c.expectedLength != 0 ? 1 : 0));
    }
}

TEST_F(MailboxExports, ReadGivesFramesWholeAndDropsUnterminatedOnes) {
    flags.serialLive = true;
    Bytes early = receivedFrame(0xF8, 38);
    early[10] = 0x0A;
    early[11] = 0x0D;
    box.serialRxQueue.push(early);
    box.serialRxQueue.push(Bytes(600, 0x11));
    box.serialRxQueue.push(receivedFrame(0xF9, 8));

    std::array<unsigned char, 512> buffer{};
    EXPECT_EQ(readMessagemmf(buffer.data()), 38) << "an end marker among the data does not end the frame";
    EXPECT_TRUE(std::equal(early.begin(), early.end(), buffer.begin()));
    EXPECT_EQ(readMessagemmf(buffer.data()), 0) << "no marker: nothing to give";
    EXPECT_EQ(readMessagemmf(buffer.data()), 8) << "the unterminated frame was removed";
    EXPECT_TRUE(box.serialRxQueue.empty());
}

// The host sends while a link thread drains, and a link thread parses while
// the host reads; every message and frame must arrive once, in order.
TEST_F(MailboxExports, HostAndLinkThreadsShareTheQueues) {
    constexpr std::uint32_t kCount = 2000;
    flags.linkRunning = true;
    flags.serialLive = true;
    // A broken mailbox must fail the test, not hang it.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::atomic<bool> giveUp{false};
    auto timedOut = [&] {
        if (std::chrono::steady_clock::now() > deadline) giveUp = true;
        return giveUp.load();
    };

    std::thread host([&] {
        for (std::uint32_t i = 0; i < kCount; ++i) {
            Bytes m(8, 0);
            store_le(m.data(), i);
            m[6] = 0x0A;
            m[7] = 0x0D;
            while (sendMessagemmf(m.data()) != 1) {
                if (timedOut()) return;
                std::this_thread::yield();
            }
        }
    });
    std::vector<std::uint32_t> transmitted;
    std::thread linkTx([&] {
        while (transmitted.size() < kCount && !timedOut()) {
            if (auto m = mailbox().serialTxQueue.takeFront()) {
                transmitted.push_back(load_le<std::uint32_t>(m->data()));
            } else {
                std::this_thread::yield();
            }
        }
    });
    std::thread linkRx([&] {
        Bytes serialBuffer;
        for (std::uint32_t i = 0; i < kCount; ++i) {
            Bytes frame{0xF9, 0xF9, 0x07, 0x00, 0, 0, 0, 0};
            store_le(frame.data() + 4, static_cast<std::uint16_t>(i));
            writeChecksumTrailer(frame);
            while (mailbox().serialRxQueue.size() >= 100) {
                if (timedOut()) return;
                std::this_thread::yield();
            }
            serialBuffer.insert(serialBuffer.end(), frame.begin(), frame.end());
            if (parseFrames(serialBuffer, mailbox().serialRxQueue)) linkFlags().serialLive = true;
        }
    });
    std::vector<std::uint16_t> read;
    while (read.size() < kCount && !timedOut()) {
        std::array<unsigned char, 512> buffer{};
        if (newMessagemmf() == 1) {
            EXPECT_EQ(readMessagemmf(buffer.data()), 8);
            read.push_back(load_le<std::uint16_t>(buffer.data() + 4));
        } else {
            std::this_thread::yield();
        }
    }
    host.join();
    linkTx.join();
    linkRx.join();

    ASSERT_FALSE(giveUp.load()) << "messages or frames stopped flowing";
    for (std::uint32_t i = 0; i < kCount; ++i) {
        ASSERT_EQ(transmitted[i], i);
        ASSERT_EQ(read[i], i);
    }
}

}  // namespace
}  // namespace rez
