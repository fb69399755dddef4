// The serial link against an emulated motion controller at the far end of a
// line: finding it, what reaches it, what comes back, and the link's state
// while the host pauses, resumes and stops it.
#include "controller/serial_link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "controller/frame_parser.h"
#include "controller/link_flags.h"
#include "controller/mailbox.h"
#include "controller/serial_ports.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/priority.h"
#include "sim/emulated_controller.h"
#include "network/udp_listen.h"
#include "network/multicast_sender.h"
#include "sim/fake_sysfs.h"
#include "sim/multicast_member.h"
#include "sim/pty_pair.h"

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
        if (!controller_.hasUsbIdentity())
            GTEST_SKIP() << "no USB adapter the library accepts is listed for " << controller_.portName()
                         << " (under Wine scripts/wine-serial-test.sh registers one)";
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
    // The handshake is through before the count starts (under Wine it is
    // still on its way through the null_modem helper once the queue is empty).
    const Bytes command2 = withChecksum(Bytes(kCommand2Request.begin(), kCommand2Request.end()));
    ASSERT_TRUE(eventually([&] { return countEqual(controller_.frames(), command2) == 1; }));
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
    std::string why;
    {
        // The loop's next pass finds all of them queued and the line gone.
        std::lock_guard<std::mutex> between(serialLink().portUse);
        ASSERT_TRUE(controller_.vanish(why)) << why;
        for (int i = 0; i < 20; ++i) ASSERT_EQ(sendMessagemmf(frame.data()), 1);
    }
    ASSERT_TRUE(eventually([] { return !linkFlags().portConnected.load() && !linkFlags().serialLive.load(); }));
    EXPECT_TRUE(mailbox().serialTxQueue.empty()) << "the messages queued for the lost controller are dropped";

    const std::string lostPort = controller_.portName();
    controller_.reset();
    ASSERT_TRUE(controller_.comeBack(why)) << why;
    ASSERT_NE(controller_.portName(), lostPort) << "back under a new name";
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

// Nothing queued before a probe connects reaches the controller, on either
// path; and serial traffic ends with the loop, or UDP would stand aside.
TEST_F(SerialLink, StaleQueueIsDroppedOnConnectAndLiveTrafficEndsWithTheLoop) {
    const Bytes stale = EmulatedController::makeFrame(0xFC, 36, Trailer::Marker, 0x5E);
    for (const bool scan : {false, true}) {
        resetAll();
        {
            LinkThread link;
            for (int i = 0; i < 5; ++i) sendMessagemmf(stale.data());
            scan ? (void)enableAutoconnect() : connectStandardPort();
            ASSERT_TRUE(eventually([] { return linkFlags().portConnected.load(); }));
            ASSERT_TRUE(controller_.send(EmulatedController::makeFrame(0xF9, 8, Trailer::Checksum)));
            ASSERT_TRUE(eventually([] { return linkFlags().serialLive.load(); }));
        }
        EXPECT_EQ(countEqual(controller_.frames(), withChecksum(stale)), 0u) << scan;
        EXPECT_FALSE(linkFlags().serialLive.load());
    }
}

// A flooding device cannot hold a pass: each reads what was there at its start.
TEST_F(SerialLink, FloodingDeviceDoesNotHoldThePass) {
    LinkThread link;
    connectStandardPort();
    const std::uint64_t before = serialLink().passes.load();
    const std::int64_t end = platform::counterNow() + 5 * platform::counterFrequency();
    while (serialLink().passes.load() < before + 50 && platform::counterNow() < end) controller_.send(Bytes(4096, 0));
    EXPECT_GE(serialLink().passes.load(), before + 50);
}

// Pause and stop wait neither for a probe of a silent device nor for writes
// to a controller that answered once and then stopped reading (the line
// fills and every write runs out of time).
TEST(SerialLinkDeaf, PauseAndStopReturnPromptly) {
    for (const int c : {0, 1, 2, 3}) {
        const bool answers = c & 1, stop = c & 2;
        linkFlags().reset();
        mailbox().clearAll();
        // Linux: the line gets its USB identity here; under Wine the script
        // has registered the pair's near port as a USB serial adapter.
        std::unique_ptr<sim::FakeSysfs> sysfs;
        if (sim::FakeSysfs::supported()) sysfs = std::make_unique<sim::FakeSysfs>();
        sim::PtyPair line;
        std::string why;
        if (!line.open(why)) GTEST_SKIP() << why;
        ASSERT_TRUE(!sysfs || sysfs->addUsbPort(line.portName(), "1A86", "7523", "0264"));
        if (!checkUsbId(line.portName())) GTEST_SKIP() << line.portName() << " has no USB identity the library accepts";
        setStandartPort(line.portName().c_str());
        auto link = std::make_unique<LinkThread>();
        std::thread host([] { resumeInterface(); });
        unsigned char request[16];
        for (int got = 0, tries = 0; got < 16 && tries < 5; ++tries) got += std::max(0, line.read(request + got, 16 - got, 2000));
        if (answers) {
            line.write({0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x0A, 0x0D});
            host.join();
            Bytes longest(512, 0x11);
            longest[510] = 0x0A, longest[511] = 0x0D;
            for (int i = 0; i < 150; ++i) sendMessagemmf(longest.data());
            ASSERT_TRUE(eventually([] { return mailbox().serialTxQueue.size() < 150; }));
        }
        const std::int64_t start = platform::counterNow();
        stop ? stopREZadEdudid_Thread() : (void)pauseInterface();
        EXPECT_LT(platform::counterNow() - start, platform::counterFrequency() / 2) << "case " << c;
        if (!answers) host.join();
        link.reset();
    }
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

// One link loop at a time: a second start returns 0 at once, and one that
// comes while a stop waits for the old loop (held here by the port lock)
// runs only once that loop has left. The lent thread gets its priority back.
TEST_F(SerialLinkAlone, OneLoopAtATime) {
    platform::setEnvironmentVariable("REZ_REALTIME", "1");  // Linux raises only when asked
    std::atomic<long> before{0}, after{0};
    std::thread first([&] { before = platform::threadSchedulingNow(), startREZadEdudid_Thread(), after = platform::threadSchedulingNow(); });
    ASSERT_TRUE(eventually([] { return linkFlags().linkRunning.load(); }));
    EXPECT_EQ(startREZadEdudid_Thread(), 0);
    std::atomic<int> later{-1};
    std::thread stopper, second;
    {
        std::lock_guard<std::mutex> hold(serialLink().portUse);
        const std::uint64_t generation = serialLink().stopGeneration.load();
        stopper = std::thread([] { stopREZadEdudid_Thread(); });
        ASSERT_TRUE(eventually([&] { return serialLink().stopGeneration.load() != generation; }));
        second = std::thread([&] { later = startREZadEdudid_Thread(); });
        ASSERT_TRUE(eventually([] { return serialLink().activeLoops.load() == 2; }));
        EXPECT_FALSE(eventually([] { return linkFlags().linkRunning.load(); }, 200)) << "ran beside the old loop";
    }
    stopper.join();
    first.join();
    platform::unsetEnvironmentVariable("REZ_REALTIME");
    EXPECT_EQ(after.load(), before.load());
    ASSERT_TRUE(eventually([] { return linkFlags().linkRunning.load(); }));
    stopREZadEdudid_Thread();
    second.join();
    EXPECT_EQ(later.load(), 1);
}

#if !defined(_WIN32)
// The multicast sender beside the other loops, in a network namespace.
// Stale messages never go out; each one the sender removes is one it sent,
// though another consumer takes from the same queue; a second sender
// returns at once; an old sender's end stops no loop started after the stop.
TEST(SenderTransport, TakesOnlyWhatItSendsAndEndsOnlyItsOwnRun) {
    const sim::NetworkRun run = sim::runInNetwork([](sim::MulticastMember& member) -> std::string {
        auto numbered = [](int i) { return std::vector<std::uint8_t>{0xFC, 0xFC, std::uint8_t(i >> 8), std::uint8_t(i), 0x0A, 0x0D}; };
        for (int i = 0; i < 3; ++i) mailbox().udpTxQueue.push(numbered(0));
        std::thread first([] { startUPDMulticastSenderThread(); });
        std::string failure = eventually([] { return linkFlags().udpStarted.load(); }, 5000) ? "" : "no start\n";
        std::set<int> seen;
        std::atomic<bool> pushing{true};
        std::thread other([&] {
            while (pushing.load())
                if (auto m = mailbox().udpTxQueue.takeFront()) seen.insert((*m)[2] << 8 | (*m)[3]);
        });
        for (int i = 1; i <= 3000; ++i) {
            while (!mailbox().udpTxQueue.push(numbered(i))) std::this_thread::yield();
            mailbox().udpTxWake.signal();
        }
        pushing = false;
        other.join();
        auto all = [&] {
            std::set<int> both = seen;
            for (const auto& r : member.received()) both.insert(r.bytes[2] << 8 | r.bytes[3]);
            return both;
        };
        eventually([&] { return all().size() >= 3000; });
        if (all().count(0) != 0 || all().size() != 3000) failure += std::to_string(all().size()) + " seen\n";
        startUPDMulticastSenderThread();  // returns at once beside the first
        linkFlags().interfaceRunning = false;  // the first idles in 100 ms sleeps
        const std::uint64_t generation = serialLink().stopGeneration.load();
        std::thread stopper([] { stopREZadEdudid_Thread(); });
        eventually([&] { return serialLink().stopGeneration.load() != generation; });
        std::thread listener([] { startUPDListenThread(); });
        eventually([] { return linkFlags().udpRunning.load(); });
        stopper.join();
        first.join();
        if (!linkFlags().udpRunning.load()) failure += "the old sender's end stopped the newer listener\n";
        stopREZadEdudid_Thread();
        listener.join();
        return failure;
    });
    if (run.outcome == sim::NetworkRun::NoNamespace) GTEST_SKIP() << run.text;
    EXPECT_EQ(run.text, "");
}

#endif

}  // namespace
}  // namespace rez
