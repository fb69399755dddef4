// The serial link against an emulated motion controller at the far end of a
// line: finding it, what reaches it, what comes back, and the link's state
// while the host pauses, resumes and stops it.
#include "controller/serial_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "controller/frame_parser.h"
#include "controller/link_flags.h"
#include "controller/mailbox.h"
#include "controller/serial_ports.h"
#include "platform/clock.h"
#include "sim/emulated_controller.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

using sim::EmulatedController;
using Bytes = std::vector<std::uint8_t>;
using Trailer = EmulatedController::Trailer;

bool eventually(const std::function<bool()>& condition, int ms = 10000) {
    return EmulatedController::waitUntil(condition, ms);
}

// Standard output of the library while it lives; read once.
class Captured {
public:
    Captured() { testing::internal::CaptureStdout(); }
    ~Captured() {
        if (!done_) testing::internal::GetCapturedStdout();
    }
    std::string text() {
        done_ = true;
        return testing::internal::GetCapturedStdout();
    }

private:
    bool done_ = false;
};

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The host's thread lent to the link for the length of a test.
class LinkThread {
public:
    LinkThread() {
        thread_ = std::thread([] { startREZadEdudid_Thread(); });
        eventually([] { return linkFlags().linkRunning.load(); });
    }
    ~LinkThread() {
        stopREZadEdudid_Thread();
        thread_.join();
    }

private:
    std::thread thread_;
};

std::size_t countEqual(const std::vector<EmulatedController::Frame>& frames, const Bytes& bytes) {
    return static_cast<std::size_t>(
        std::count_if(frames.begin(), frames.end(), [&](const auto& f) { return f.bytes == bytes; }));
}

Bytes withChecksum(Bytes message) {
    writeChecksumTrailer(message);
    return message;
}

class SerialLink : public ::testing::Test {
protected:
    void SetUp() override {
        resetAll();
        std::string why;
        if (!controller_.open(why)) GTEST_SKIP() << why;
        if (!controller_.hasUsbIdentity() || !checkUsbId(controller_.portName()))
            GTEST_SKIP() << "the line has no USB identity the library accepts (SetupAPI lists no COM devices under Wine)";
    }
    void TearDown() override { resetAll(); }
    static void resetAll() {
        linkFlags().reset();
        mailbox().clearAll();
    }

    // A connection through the standard port, which queues nothing.
    void connectStandardPort() {
        ASSERT_EQ(setStandartPort(controller_.portName().c_str()), 1);
        ASSERT_EQ(resumeInterface(), 1);
        ASSERT_TRUE(linkFlags().portConnected.load());
    }

    EmulatedController controller_;
};

TEST_F(SerialLink, ScanAcceptsTheFourIdentityRepliesAndQueuesCommandsFourThenTwo) {
    struct Case {
        EmulatedController::Identity identity;
        bool accepted;
    };
    const Case cases[] = {
        {EmulatedController::Identity::Value1Marker, true},   {EmulatedController::Identity::Value1Checksum, true},
        {EmulatedController::Identity::Value2Marker, true},   {EmulatedController::Identity::Value2Checksum, true},
        {EmulatedController::Identity::Unknown, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.identity));
        resetAll();
        controller_.reset();
        controller_.setIdentity(c.identity);
        enableAutoconnect();
        LinkThread link;
        if (c.accepted) {
            ASSERT_TRUE(eventually([] { return linkFlags().portConnected.load(); }));
            // Each arrives with its checksum in place of the end marker.
            const Bytes command4 = withChecksum(Bytes(kCommand4Message.begin(), kCommand4Message.end()));
            const Bytes command2 = withChecksum(Bytes(kCommand2Request.begin(), kCommand2Request.end()));
            ASSERT_TRUE(eventually([&] { return countEqual(controller_.frames(), command2) == 1; }));
            std::vector<Bytes> afterProbe;
            for (const auto& f : controller_.frames())
                if (f.bytes[2] != 0x01) afterProbe.push_back(f.bytes);
            EXPECT_EQ(afterProbe, (std::vector<Bytes>{command4, command2}));
        } else {
            // Refused: the scan probes the port again on its next round.
            ASSERT_TRUE(eventually([&] { return controller_.counts().identityRequests >= 4; }));
            EXPECT_FALSE(linkFlags().portConnected.load());
        }
    }
}

TEST_F(SerialLink, StandardPortAcceptsOnlyTheValueOneMarkerReply) {
    struct Case {
        EmulatedController::Identity identity;
        int result;
        const char* printed;
    };
    const Case cases[] = {
        {EmulatedController::Identity::Value1Marker, 1, "opened....id correct. \n"},
        {EmulatedController::Identity::Value1Checksum, 0, "opened.... wrong id"},
        {EmulatedController::Identity::Value2Marker, 0, "opened.... wrong id"},
    };
    LinkThread link;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.printed);
        pauseInterface();
        controller_.setIdentity(c.identity);
        ASSERT_EQ(setStandartPort(controller_.portName().c_str()), 1);
        Captured out;
        EXPECT_EQ(resumeInterface(), c.result);
        const std::string text = out.text();
        EXPECT_EQ(occurrences(text, c.printed), c.result == 1 ? 1u : 3u) << text;
        EXPECT_EQ(linkFlags().portConnected.load(), c.result == 1);
    }
    EXPECT_TRUE(mailbox().serialTxQueue.empty()) << "the standard port queues no commands";
}

TEST_F(SerialLink, MessagesGoOutWithChecksumsAndFramesComeBackToTheHost) {
    // The scan reads both identity replies, so nothing from the controller
    // waits on the line once it is connected.
    enableAutoconnect();
    LinkThread link;
    ASSERT_TRUE(eventually([] { return linkFlags().portConnected.load(); }));
    ASSERT_TRUE(eventually([] { return mailbox().serialTxQueue.empty(); }));
    controller_.reset();
    const Bytes sent[] = {
        EmulatedController::makeFrame(0xFC, 36, Trailer::Marker, 0x42),
        EmulatedController::makeFrame(0xF8, 38, Trailer::Marker, 0x17),
        EmulatedController::makeFrame(0xFA, 465, Trailer::Marker, 0x33),
    };
    for (const Bytes& m : sent) ASSERT_EQ(sendMessagemmf(m.data()), 1);
    ASSERT_TRUE(eventually([&] { return controller_.counts().frames >= 3; }));
    for (const Bytes& m : sent) EXPECT_EQ(countEqual(controller_.frames(), withChecksum(m)), 1u) << int(m[0]);
    EXPECT_EQ(controller_.counts().badChecksums, 0u);

    EXPECT_FALSE(linkFlags().serialLive.load()) << "nothing parsed yet";
    const Bytes replies[] = {
        EmulatedController::makeFrame(0xF9, 8, Trailer::Checksum, 0x05),
        EmulatedController::makeFrame(0xF8, 38, Trailer::Marker, 0x06),
        EmulatedController::makeFrame(0xFA, 465, Trailer::Checksum, 0x07),
        EmulatedController::makeFrame(0xFB, 78, Trailer::Checksum, 0x08),
    };
    for (const Bytes& r : replies) ASSERT_TRUE(controller_.send(r));
    ASSERT_TRUE(eventually([] { return mailbox().serialRxQueue.size() == 4; }));
    EXPECT_TRUE(linkFlags().serialLive.load());
    for (const Bytes& r : replies) {
        unsigned char buffer[512] = {};
        ASSERT_EQ(newMessagemmf(), 1);
        const int length = readMessagemmf(buffer);
        ASSERT_EQ(length, static_cast<int>(r.size()));
        Bytes expected = r;
        expected[r.size() - 2] = 0x0A;
        expected[r.size() - 1] = 0x0D;
        EXPECT_EQ(Bytes(buffer, buffer + length), expected);
    }
}

TEST_F(SerialLink, AutoMessageRepeatsTwelveTimesAndGivesWayToANewerOne) {
    LinkThread link;
    connectStandardPort();
    const auto message = [](std::uint8_t fill) { return EmulatedController::makeFrame(0xF8, 38, Trailer::Marker, fill); };
    const auto writes = [&](const Bytes& m) { return countEqual(controller_.frames(), m); };
    const auto drained = [] { return mailbox().autoQueue.empty(); };

    const Bytes first = message(1);  // a lone message, count from 0
    ASSERT_EQ(autoMessagemmf(first.data()), 1);
    ASSERT_TRUE(eventually(drained));
    ASSERT_TRUE(eventually([&] { return writes(first) >= 12; }));

    const Bytes second = message(2);  // a lone message after a drop, count from 1
    ASSERT_EQ(autoMessagemmf(second.data()), 1);
    ASSERT_TRUE(eventually(drained));
    ASSERT_TRUE(eventually([&] { return writes(second) >= 11; }));

    const Bytes older = message(3);  // two queued: the older goes after one more write
    const Bytes newer = message(4);
    ASSERT_EQ(autoMessagemmf(older.data()), 1);
    ASSERT_EQ(autoMessagemmf(newer.data()), 1);
    ASSERT_TRUE(eventually(drained));
    ASSERT_TRUE(eventually([&] { return writes(newer) >= 12; }));

    const auto frames = controller_.frames();
    EXPECT_EQ(countEqual(frames, first), 12u);
    EXPECT_EQ(countEqual(frames, second), 11u);
    EXPECT_EQ(countEqual(frames, newer), 12u);
    const auto firstNewer = std::find_if(frames.begin(), frames.end(), [&](const auto& f) { return f.bytes == newer; });
    EXPECT_GE(countEqual(frames, older), 1u);
    EXPECT_EQ(std::count_if(firstNewer, frames.end(), [&](const auto& f) { return f.bytes == older; }), 0)
        << "the older message is gone once the newer one is written";
}

// Messages are written the moment they are queued, between passes: a burst
// from several host threads still goes out once each, in queue order, and a
// lone auto message queued meanwhile keeps its 12 writes, one per pass.
TEST_F(SerialLink, BurstFromSeveralThreadsGoesOutOnceEachInOrderBesideTheAutoMessage) {
    LinkThread link;
    connectStandardPort();
    ASSERT_TRUE(controller_.send(EmulatedController::makeFrame(0xF9, 8, Trailer::Checksum)));
    ASSERT_TRUE(eventually([] { return linkFlags().serialLive.load(); }));
    controller_.reset();

    constexpr int kThreads = 4;
    constexpr int kEach = 60;
    const Bytes lone = EmulatedController::makeFrame(0xF8, 38, Trailer::Marker, 0x77);
    const std::uint64_t passesBefore = serialLink().passes.load();
    ASSERT_EQ(autoMessagemmf(lone.data()), 1);
    std::uint64_t passesToDrain = 0;
    std::thread watcher([&] {
        eventually([] { return mailbox().autoQueue.empty(); });
        passesToDrain = serialLink().passes.load() - passesBefore;
    });
    std::vector<std::thread> hosts;
    for (int t = 0; t < kThreads; ++t) {
        hosts.emplace_back([t] {
            for (int i = 0; i < kEach; ++i) {
                Bytes m = EmulatedController::makeFrame(0xFC, 36, Trailer::Marker);
                m[2] = static_cast<std::uint8_t>(t);
                m[3] = static_cast<std::uint8_t>(i);
                while (sendMessagemmf(m.data()) != 1) platform::sleepNs(50'000);  // queue full: try again
                platform::sleepNs(200'000);
            }
        });
    }
    for (auto& h : hosts) h.join();
    watcher.join();
    EXPECT_GE(passesToDrain, 12u) << "the auto message is counted per pass";
    ASSERT_TRUE(eventually([&] { return controller_.counts().frames >= kThreads * kEach + 12; }));

    int next[kThreads] = {};
    std::size_t autoWrites = 0;
    for (const auto& f : controller_.frames()) {
        if (f.bytes == lone) {
            ++autoWrites;
            continue;
        }
        ASSERT_EQ(f.bytes.size(), 36u);
        const int t = f.bytes[2];
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(f.bytes[3], next[t]) << "thread " << t << ": once each, in the order queued";
        next[t] = f.bytes[3] + 1;
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kEach) << "thread " << t;
    EXPECT_EQ(autoWrites, 12u);
    EXPECT_EQ(controller_.counts().badChecksums, 0u);
}

TEST_F(SerialLink, VanishingControllerIsReportedDroppedAndFoundAgain) {
    enableAutoconnect();
    LinkThread link;
    ASSERT_TRUE(eventually([] { return linkFlags().portConnected.load(); }));
    ASSERT_TRUE(controller_.send(EmulatedController::makeFrame(0xF9, 8, Trailer::Checksum)));
    ASSERT_TRUE(eventually([] { return linkFlags().serialLive.load(); }));

    Captured out;
    const Bytes frame = EmulatedController::makeFrame(0xFC, 36, Trailer::Marker);
    {
        // The loop's next pass finds all of them queued and the line gone.
        std::lock_guard<std::mutex> between(serialLink().portUse);
        controller_.vanish();
        for (int i = 0; i < 20; ++i) ASSERT_EQ(sendMessagemmf(frame.data()), 1);
    }
    ASSERT_TRUE(eventually([] { return !linkFlags().portConnected.load() && !linkFlags().serialLive.load(); }));
    EXPECT_TRUE(mailbox().serialTxQueue.empty()) << "the messages queued for the lost controller are dropped";

    std::string why;
    controller_.reset();
    ASSERT_TRUE(controller_.comeBack(why)) << why;
    ASSERT_TRUE(eventually([] { return linkFlags().portConnected.load(); }, 20000)) << "found again by the scan";
    const Bytes command2 = withChecksum(Bytes(kCommand2Request.begin(), kCommand2Request.end()));
    EXPECT_TRUE(eventually([&] { return countEqual(controller_.frames(), command2) == 1; })) << "the new line carries frames";
    const std::string text = out.text();
    EXPECT_EQ(occurrences(text, " Serial Exception Error: "), 1u) << text;
}

TEST_F(SerialLink, PauseAndResumeFromAnotherThreadWhileFramesFlow) {
    LinkThread link;
    connectStandardPort();
    std::atomic<bool> feeding{true};
    // The host's pause and resume take turns with the feeder on the line: a
    // reply fed while resumeInterface probes the port would be read as the
    // controller's identity reply and refused.
    std::mutex probing;
    std::thread feeder([&] {
        const Bytes frame = EmulatedController::makeFrame(0xFC, 36, Trailer::Marker);
        const Bytes reply = EmulatedController::makeFrame(0xF9, 8, Trailer::Checksum);
        while (feeding.load()) {
            sendMessagemmf(frame.data());
            // Nothing reads the line while the link is paused: keep it from filling.
            {
                std::lock_guard<std::mutex> turn(probing);
                if (isInterfaceRunning() == 1) controller_.send(reply);
            }
            unsigned char buffer[512];
            while (readMessagemmf(buffer) > 0) {
            }
            platform::sleepMs(2);
        }
    });
    Captured out;
    int resumed = 0;
    for (int i = 0; i < 15; ++i) {
        {
            std::lock_guard<std::mutex> turn(probing);
            EXPECT_EQ(pauseInterface(), 1);
            EXPECT_EQ(isInterfaceRunning(), 0);
            resumed += resumeInterface();
        }
        // Let frames flow again before the next pause.
        const auto before = controller_.counts().frames;
        EXPECT_TRUE(eventually([&] { return controller_.counts().frames > before + 5; }));
    }
    feeding = false;
    feeder.join();
    EXPECT_EQ(resumed, 15);
    const std::string text = out.text();
    EXPECT_EQ(occurrences(text, "Serial Exception"), 0u) << text;
    EXPECT_EQ(controller_.counts().badChecksums, 0u);
}

TEST_F(SerialLink, PassTimeIsAboutTwoMillisecondsWhileConnected) {
    LinkThread link;
    connectStandardPort();
    EXPECT_TRUE(eventually([] {
        const double ms = getOutputTimeFrame();
        return ms >= 1.99 && ms < 2.5;
    })) << getOutputTimeFrame();
    EXPECT_EQ(isConnected(), 1);
}

// Without a controller: the loop and the exports on their own.
class SerialLinkAlone : public ::testing::Test {
protected:
    void SetUp() override {
        linkFlags().reset();
        mailbox().clearAll();
    }
    void TearDown() override { linkFlags().reset(); }
};

TEST_F(SerialLinkAlone, StandardPortTextGivesThePortNumber) {
    struct Case {
        const char* text;
        int result;
        int port;
    };
    const Case cases[] = {{"COM12", 1, 12}, {"\\\\.\\COM3", 1, 3}, {"USB", 0, 3}, {"COM", 1, 0}, {"COM12", 1, 12}, {nullptr, 0, 12}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "null");
        EXPECT_EQ(setStandartPort(c.text), c.result);
        EXPECT_EQ(linkFlags().standardPort.load(), c.port);
    }
}

TEST_F(SerialLinkAlone, StopReturnsAtOnceWhenNoLoopRuns) {
    struct Case {
        const char* what;
        bool linkEnded, udpStarted, udpEnded;
    };
    const Case cases[] = {
        {"nothing ever ran", false, false, false},
        {"a UDP thread started and failed before its loop", false, true, false},
        {"the serial loop ran and ended", true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        linkFlags().reset();
        linkFlags().linkEnded = c.linkEnded;
        linkFlags().udpStarted = c.udpStarted;
        linkFlags().udpEnded = c.udpEnded;
        std::atomic<bool> returned{false};
        std::thread stopper([&] {
            stopREZadEdudid_Thread();
            returned = true;
        });
        const bool quick = eventually([&] { return returned.load(); }, 5000);
        if (!quick) linkFlags().linkEnded = true;  // lets a stop that waits for nothing go
        stopper.join();
        EXPECT_TRUE(quick);
    }
}

TEST_F(SerialLinkAlone, SearchingWithoutTheScanIsPacedNotSpinning) {
    LinkThread link;
    const auto passes = [] { return serialLink().passes.load(); };
    const std::uint64_t before = passes();
    const std::int64_t start = platform::counterNow();
    platform::sleepMs(300);
    const std::uint64_t during = passes() - before;
    const double ms = static_cast<double>(platform::counterNow() - start) * 1000.0 /
                      static_cast<double>(platform::counterFrequency());
    EXPECT_FALSE(linkFlags().portConnected.load());
    // One pass per 2 ms; a spinning loop makes hundreds of thousands.
    EXPECT_LE(static_cast<double>(during), ms) << during << " passes in " << ms << " ms";
    EXPECT_GT(during, 0u);
}

}  // namespace
}  // namespace rez
