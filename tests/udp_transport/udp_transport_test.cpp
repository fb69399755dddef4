// The network controller link: its settings, the listen thread, and the
// multicast sender from a veth adapter to a group member in a network
// namespace of its own. On Linux each test makes its namespaces; the Windows
// build meets the member in the namespaces that scripts/wine-network-test.sh
// runs it in under Wine, and skips those tests without them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "controller/frame_parser.h"
#include "controller/link_flags.h"
#include "controller/mailbox.h"
#include "network/ethernet_adapter.h"
#include "network/multicast_sender.h"
#include "network/udp_listen.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"
#include "tests/network/log_folder.h"
#include "sim/multicast_member.h"

#if !defined(_WIN32)
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace rez::sim;  // the stand-ins for games, controllers and networks
#endif

namespace rez {
namespace {

using test::LogFolder;
using Bytes = std::vector<std::uint8_t>;

void resetLink() {
    linkFlags().reset();
    mailbox().clearAll();
    networkSettings().reset();
    controllerVersionLatch() = 0;
}

const std::string kRefused = "[INFO] UDP Controller Thread: Failed to validate multicast IP address. Using default Multicast address: ";
const std::string kTaken = "[INFO] UDP Controller Thread: Validated multicast IP address. using Multicast address: ";

TEST(NetworkSettings, TakeOnlyFourDottedDecimalPartsThatFit) {
    LogFolder folder;
    struct Case {
        const char* text;
        unsigned port;
        std::string address;  // the group afterwards
        int storedPort;
    };
    const std::vector<Case> cases = {
        {"239.1.2.3", 5000, "239.1.2.3", 5000},
        {"239.1.2", 6000, "239.1.2.3", 5000},
        {"239.1.2.256", 6000, "239.1.2.3", 5000},
        {"239.1..3", 6000, "239.1.2.3", 5000},
        {"239.1.2.3x", 6000, "239.1.2.3", 5000},
        {"239.1.2.3.4", 6000, "239.1.2.3", 5000},
        {"[1.2.3.4", 6000, "239.1.2.3", 5000},
        {"239.1.2. 3", 6000, "239.1.2.3", 5000},
        {"239.+1.2.3", 6000, "239.1.2.3", 5000},
        {"", 6000, "239.1.2.3", 5000},
        {"232.011.12.14", 0x10000 + 7, "232.011.12.14", 7},
        {"000232.0011.0012.14", 1, "000232.0011.0012.14", 1},  // 19 characters: fits
        {"0000232.0011.0012.14", 2, "000232.0011.0012.14", 1},  // 20: would overrun, refused
    };
    resetLink();
    for (const auto& c : cases) {
        const std::string before = networkSettings().address();
        const int beforePort = networkSettings().multicastPort;
        setMulticastAddr(c.text, c.port);
        EXPECT_EQ(networkSettings().address(), c.address) << c.text;
        EXPECT_EQ(networkSettings().multicastPort.load(), c.storedPort) << c.text;
        const bool taken = c.address == c.text && c.storedPort == static_cast<int>(c.port & 0xFFFF);
        EXPECT_EQ(folder.entries().back(),
                  (taken ? kTaken + c.address + " and Port: " + std::to_string(c.storedPort)
                         : kRefused + before + " and Port: " + std::to_string(beforePort)))
            << c.text;
    }
    setMulticastAddr(nullptr, 9);
    EXPECT_EQ(folder.entries().back(), kRefused + "000232.0011.0012.14 and Port: 1");

    // A part with a leading zero is read the platform's way: octal.
    std::uint32_t group = 0;
    ASSERT_TRUE(platform::inetAddr("232.011.12.14", group));
    EXPECT_EQ(group, (232u << 24) | (9u << 16) | (12u << 8) | 14u);

    setUDPport(70000);
    EXPECT_EQ(networkSettings().udpListenPort.load(), 70000 & 0xFFFF);
    EXPECT_EQ(folder.entries().back(), "[INFO] UDP Controller Thread : Set UdpPort : 4464");
    resetLink();
}

TEST(MulticastSender, EndsWithUdpEndedWhenNoWiredAdapterIsUp) {
    LogFolder folder;
    resetLink();
#if defined(_WIN32)
    {
        ErrorLog probe("error_log.txt");
        if (!GetPreferredEthernetAdapter(probe).empty())
            GTEST_SKIP() << "this system has a wired adapter; the sender would send on it";
    }
    startUPDMulticastSenderThread();
#else
    // In a network namespace of its own the only adapter is loopback.
    const pid_t child = ::fork();
    if (child == 0) {
        if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) ::_exit(3);
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0)
            ::_exit(3);
        linkFlags().udpRunning = true;
        startUPDMulticastSenderThread();
        ::_exit(linkFlags().udpEnded && !linkFlags().udpRunning ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "no network namespace can be made here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
    auto entries = folder.entries();
    // On Windows the probe above has logged its own lines first.
    const auto started = std::find(entries.begin(), entries.end(), "[INFO] Multicast Thread started.");
    ASSERT_NE(started, entries.end());
    entries.erase(entries.begin(), started + 1);
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(entries.front(), "[INFO] Starting GetPreferredEthernetAdapter routine.");
    EXPECT_EQ(entries[entries.size() - 2], "[ERROR] No suitable adapter found.");
    EXPECT_EQ(entries.back(), "[INFO] Multicastthread:No suitable Ethernet found , exiting");
#if defined(_WIN32)
    EXPECT_TRUE(linkFlags().udpEnded);
    EXPECT_FALSE(linkFlags().udpRunning);
#endif
    resetLink();
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        platform::sleepMs(5);
    }
    return true;
}

bool hasEntry(const LogFolder& folder, const std::string& entry) {
    for (const auto& line : folder.entries())
        if (line == entry) return true;
    return false;
}

Bytes shortFrame(std::uint8_t command, std::uint8_t value) { return {0xF9, 0xF9, command, 0, value, 0, 0x0A, 0x0D}; }

Bytes readOne() {
    Bytes buffer(kMaxMessageLength);
    const int n = readMessagemmf(buffer.data());
    buffer.resize(static_cast<std::size_t>(n > 0 ? n : 0));
    return buffer;
}


// A datagram the member should get: the group's port and the bytes.
struct Expected {
    std::uint16_t port;
    Bytes bytes;
};

// The member at the far end of the wired adapter: what it took since the
// scenario began, and the link the wired adapter's frames come in on there.
class FarEnd {
public:
    virtual ~FarEnd() = default;
    virtual std::vector<sim::Received> received() = 0;
    virtual std::string wiredLink() const = 0;
    std::size_t count() { return received().size(); }
};

#if defined(_WIN32)

// The namespaces of scripts/wine-network-test.sh: two wired adapters, rez0
// (10.9.0.1/24, listed first, route metric 5) and rez1 (10.8.0.1/24, route
// metric 25, and the route of the multicast groups), whose far ends are
// rez0-far (10.9.0.2) and rez1-far (10.8.0.2) in the member's namespace.
class FarEndAcross : public FarEnd {
public:
    explicit FarEndAcross(sim::MemberClient member) : client(std::move(member)) {}
    std::vector<sim::Received> received() override { return client.received(); }
    std::string wiredLink() const override { return "rez0-far"; }
    sim::MemberClient client;
};

constexpr const char* kNoFarEnd = "needs scripts/wine-network-test.sh: no namespace with a multicast member";

// Runs `scenario` beside the member of the script's namespaces; the
// scenario's text is empty when all went as expected.
void inNetwork(const std::function<std::string(FarEnd&)>& scenario) {
    auto client = sim::MemberClient::fromEnvironment();
    if (!client) GTEST_SKIP() << kNoFarEnd;
    ASSERT_TRUE(client->markNow()) << "the member's helper did not answer";
    FarEndAcross far(std::move(*client));
    EXPECT_EQ(scenario(far), "");
}

#else

using sim::MulticastMember;

class MemberHere : public FarEnd {
public:
    explicit MemberHere(MulticastMember& member) : member_(member) {}
    std::vector<sim::Received> received() override { return member_.received(); }
    std::string wiredLink() const override { return "e2"; }

private:
    MulticastMember& member_;
};

// Runs `scenario` in a network namespace of its own with the member at the
// far end of a veth pair; the scenario's text is empty when all went as
// expected.
void inNetwork(const std::function<std::string(FarEnd&)>& scenario) {
    const sim::NetworkRun run = sim::runInNetwork([&](MulticastMember& member) {
        MemberHere far(member);
        return scenario(far);
    });
    if (run.outcome == sim::NetworkRun::NoNamespace) GTEST_SKIP() << "no network namespace can be made here: " << run.text;
    ASSERT_NE(run.outcome, sim::NetworkRun::ChildFailed) << run.text;
    ASSERT_NE(run.outcome, sim::NetworkRun::MemberFailed) << run.text;
    EXPECT_EQ(run.text, "");
}

#endif

Bytes withChecksum(Bytes message) {
    writeChecksumTrailer(message);
    return message;
}

template <class List>
std::string describe(const List& list) {
    std::string text;
    for (const auto& r : list) {
        text += std::to_string(r.port) + ":";
        for (auto b : r.bytes) text += " " + std::to_string(b);
        text += "\n";
    }
    return text;
}

// Waits until the member holds `expected` and nothing more comes within a
// few passes; the difference as text. Every datagram must have left by the
// wired adapter, whatever the route table prefers for the group.
std::string expectReceived(FarEnd& member, const std::vector<Expected>& expected) {
    waitFor([&] { return member.count() >= expected.size(); });
    platform::sleepMs(100);
    const auto got = member.received();
    for (const auto& r : got)
        if (r.link != member.wiredLink()) return "came in on " + r.link + ", not " + member.wiredLink() + "\n";
    const bool same = std::equal(got.begin(), got.end(), expected.begin(), expected.end(),
                                 [](const sim::Received& r, const Expected& e) { return r.port == e.port && r.bytes == e.bytes; });
    return same ? "" : "expected\n" + describe(expected) + "got\n" + describe(got);
}

#if !defined(_WIN32)

// The listener hears the adapter it is bound to; this controller sends from
// that adapter's own address, which is on its subnet.
TEST(UdpListenThread, GoesLiveOnFramesStandsAsideForSerialAndExpiresAfterEightSeconds) {
    LogFolder folder;
    resetLink();
    const std::uint16_t port = 53241 + 7;
    setUDPport(port);
    inNetwork([&](FarEnd&) -> std::string {
        platform::netStartup();
        platform::UdpSocket game;
        if (!game.open()) return "no socket";
        std::string failure;
        auto send = [&](const Bytes& datagram) {
            if (game.sendTo(datagram.data(), static_cast<int>(datagram.size()), "10.9.0.1", port) != static_cast<int>(datagram.size()))
                failure += "a send failed\n";
        };
        auto expect = [&](bool condition, const char* what) {
            if (!condition) failure += std::string(what) + "\n";
        };

        std::thread listener([] { startUPDListenThread(); });
        expect(waitFor([&] { return hasEntry(folder, "[INFO] Port " + std::to_string(port) + " opened successfully."); }), "not opened");
        expect(linkFlags().udpRunning && linkFlags().udpStarted, "not running");

        // Two whole frames and the start of a third: the cut one is lost.
        Bytes datagram = shortFrame(3, 1);
        Bytes second = shortFrame(3, 2);
        second[6] = 0xAB;  // checksum form
        writeChecksumTrailer(second);
        datagram.insert(datagram.end(), second.begin(), second.end());
        datagram.insert(datagram.end(), {0xF9, 0xF9, 0x03});
        send(datagram);
        expect(waitFor([] { return linkFlags().udpLive.load() && mailbox().udpRxQueue.size() == 2; }), "not live");
        expect(readOne() == shortFrame(3, 1) && readOne() == shortFrame(3, 2), "not both whole frames");
        send({0x00, 0xF9, 0x03});  // no valid frame: ignored
        send(shortFrame(4, 0));     // the second datagram still counts on its own
        expect(waitFor([] { return newMessagemmf() == 1; }) && readOne() == shortFrame(4, 0), "second datagram");

        // While the serial controller is live the datagram waits in the socket.
        linkFlags().serialLive = true;
        platform::sleepMs(150);
        send(shortFrame(5, 0));
        platform::sleepMs(300);
        expect(mailbox().udpRxQueue.empty(), "read while standing aside");
        linkFlags().serialLive = false;
        expect(waitFor([] { return mailbox().udpRxQueue.size() == 1; }) && readOne() == shortFrame(5, 0), "never read");

        // Eight seconds after the last frame: not live, and nothing stale is sent later.
        const auto lastFrame = std::chrono::steady_clock::now();
        mailbox().serialTxQueue.push(shortFrame(6, 0));
        mailbox().udpTxQueue.push(shortFrame(6, 0));
        expect(waitFor([] { return !linkFlags().udpLive.load(); }, std::chrono::seconds(30)), "never expired");
        expect(std::chrono::steady_clock::now() - lastFrame >= std::chrono::milliseconds(7900), "expired early");
        expect(mailbox().serialTxQueue.empty() && mailbox().udpTxQueue.empty(), "stale messages kept");

        stopREZadEdudid_Thread();
        listener.join();
        expect(linkFlags().udpEnded && !linkFlags().udpRunning, "flags not those of an ended loop");
        expect(folder.entries().back() == "[INFO] Port closed.", "no closing line");
        return failure;
    });
    resetLink();
}
// The listener hears the wired adapter's subnet only: a frame from anywhere
// else would stand the serial link aside and reach the host. And the live
// state it set ends with it, or a serial session afterwards stays held aside.
TEST(UdpListenThread, HearsOnlyTheAdaptersSubnetAndItsLiveStateEndsWithIt) {
    LogFolder folder;
    resetLink();
    inNetwork([&folder](FarEnd&) -> std::string {
        const std::uint64_t foreignBefore = udpListenState().foreignDatagrams.load();
        std::thread listener([] { startUPDListenThread(); });
        if (!waitFor([&] { return hasEntry(folder, "[INFO] Port 53241 opened successfully."); })) return "not opened";
        platform::netStartup();
        platform::UdpSocket forger, controller;
        if (std::system("ip addr add 10.77.0.1/32 dev lo") != 0 || !forger.open() || !forger.bindAddress("10.77.0.1", 0) ||
            !controller.open())
            return "no forger";
        const Bytes forged = shortFrame(2, 9), reply = shortFrame(3, 1);
        // Off the subnet, then to an address the listener is not bound to.
        forger.sendTo(forged.data(), 8, "10.9.0.1", 53241);
        forger.sendTo(forged.data(), 8, "127.0.0.1", 53241);
        controller.sendTo(reply.data(), 8, "10.9.0.1", 53241);
        std::string failure;
        if (!waitFor([] { return linkFlags().udpLive.load() && newMessagemmf() == 1; })) failure += "the reply was lost\n";
        if (readOne() != reply || newMessagemmf() != 0) failure += "a forged frame reached the host\n";
        if (udpListenState().foreignDatagrams.load() != foreignBefore + 1) failure += "the foreign datagram was not counted\n";
        mailbox().udpTxQueue.push(reply);
        stopREZadEdudid_Thread();
        listener.join();
        if (linkFlags().udpLive.load() || !mailbox().udpTxQueue.empty()) failure += "live outlived the listener\n";
        return failure;
    });
    resetLink();
}

#endif

TEST(MulticastSender, SendsEachMessageWithItsChecksumAndRepeatsTheAutoMessageTwelveTimes) {
    LogFolder folder;
    resetLink();
    inNetwork([](FarEnd& member) -> std::string {
        const Bytes three{0x41, 0x0A, 0x0D};
        const Bytes autoA = shortFrame(7, 1), autoB = shortFrame(7, 2), autoC = shortFrame(7, 3);
        // The sender drops what was queued before it took the controller.
        std::thread sender([] { startUPDMulticastSenderThread(); });
        if (!waitFor([] { return linkFlags().udpStarted.load(); })) return "the sender did not start";
        mailbox().udpTxQueue.push(three);
        mailbox().udpTxQueue.push(Bytes{0x0A, 0x0D});  // too short: dropped unsent
        mailbox().udpTxQueue.push(shortFrame(2, 5));
        mailbox().autoQueue.push(autoA);
        std::thread listener([] { startUPDListenThread(); });

        // Latch clear: the auto message goes out as queued, 12 times.
        std::vector<Expected> expected{{51324, withChecksum(three)}, {51324, withChecksum(shortFrame(2, 5))}};
        for (int i = 0; i < 12; ++i) expected.push_back({51324, autoA});
        std::string failure = expectReceived(member, expected);

        // Latch set: with its checksum; a newer auto message replaces the older
        // on the next pass. Both are queued while the sender idles.
        linkFlags().interfaceRunning = false;
        platform::sleepMs(250);
        controllerVersionLatch() = 1;
        mailbox().autoQueue.push(autoB);
        mailbox().autoQueue.push(autoC);
        linkFlags().interfaceRunning = true;
        expected.push_back({51324, withChecksum(autoB)});
        for (int i = 0; i < 12; ++i) expected.push_back({51324, withChecksum(autoC)});
        if (failure.empty()) failure = expectReceived(member, expected);

        stopREZadEdudid_Thread();
        sender.join();
        listener.join();
        if (!linkFlags().udpEnded || linkFlags().udpRunning) failure += "flags not those of an ended loop\n";
        return failure;
    });
    if (IsSkipped()) return;
    EXPECT_TRUE(hasEntry(folder, "[INFO] Multicastthread: Bound to Ip: 10.9.0.1"));
    EXPECT_TRUE(hasEntry(folder, "[INFO] Udp listen thread: closing"));
    // The two threads end in either order.
    const auto entries = folder.entries();
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(),
                            [](const std::string& e) { return e.rfind("[INFO] Multicastthread: Exiting:", 0) == 0; }));
    resetLink();
}

// Messages go out the moment they are queued, between passes: a burst from
// several host threads still leaves once each, in queue order, and a lone auto
// message queued meanwhile keeps its 12 sends, one per 2 ms pass.
TEST(MulticastSender, BurstFromSeveralThreadsGoesOutOnceEachInOrderBesideTheAutoMessage) {
    LogFolder folder;
    resetLink();
    inNetwork([](FarEnd& member) -> std::string {
        constexpr int kThreads = 4;
        constexpr int kEach = 60;
        std::thread sender([] { startUPDMulticastSenderThread(); });
        if (!waitFor([] { return linkFlags().udpRunning.load(); })) return "the sender did not start";
        // Live: a full queue then refuses the message instead of dropping it.
        linkFlags().udpLive = true;
        const Bytes lone = shortFrame(7, 9);
        mailbox().autoQueue.push(lone);
        std::vector<std::thread> hosts;
        for (int t = 0; t < kThreads; ++t) {
            hosts.emplace_back([t] {
                for (int i = 0; i < kEach; ++i) {
                    Bytes m = shortFrame(static_cast<std::uint8_t>(0x10 + t), static_cast<std::uint8_t>(i));
                    while (sendMessagemmf(m.data()) != 1) platform::sleepNs(50'000);  // queue full: try again
                    platform::sleepNs(200'000);
                }
            });
        }
        for (auto& h : hosts) h.join();
        waitFor([&] { return member.count() >= kThreads * kEach + 12; });
        platform::sleepMs(100);
        stopREZadEdudid_Thread();
        sender.join();

        std::string failure;
        int next[kThreads] = {};
        std::vector<std::int64_t> autoSends;
        for (const auto& r : member.received()) {
            if (r.bytes == lone) {
                autoSends.push_back(r.queued != 0 ? r.queued : r.arrival);
                continue;
            }
            const int t = r.bytes.size() == 8 ? r.bytes[2] - 0x10 : -1;
            if (t < 0 || t >= kThreads || r.bytes[4] != next[t] || r.bytes != withChecksum(shortFrame(r.bytes[2], r.bytes[4])))
                return "out of order, twice or changed:\n" + describe(std::vector<sim::Received>{r});
            ++next[t];
        }
        for (int t = 0; t < kThreads; ++t)
            if (next[t] != kEach) failure += "thread " + std::to_string(t) + ": " + std::to_string(next[t]) + " arrived\n";
        if (autoSends.size() != 12) return failure + std::to_string(autoSends.size()) + " sends of the auto message\n";
        // Twelve passes take 22 ms. Sent on every wake instead, the twelve
        // would leave within the few milliseconds of a dozen of the hosts'
        // wakes. But a sender held up for a while makes up the passes it
        // missed one after another, so when it was held up (a pause of 5 ms
        // or more in what it sent, up to 20 ms before the first send) the
        // span says nothing and is not judged.
        const double perMs = static_cast<double>(platform::counterFrequency()) / 1000.0;
        const double spanMs = static_cast<double>(autoSends.back() - autoSends.front()) / perMs;
        bool heldUp = false;
        std::int64_t previous = 0;
        for (const auto& r : member.received()) {
            const std::int64_t at = r.queued != 0 ? r.queued : r.arrival;
            if (at >= autoSends.front() - static_cast<std::int64_t>(20 * perMs) && at <= autoSends.back() && previous != 0 &&
                static_cast<double>(at - previous) >= 5 * perMs)
                heldUp = true;
            previous = at;
        }
        if (spanMs < 6.0 && !heldUp) failure += "the auto message's sends span only " + std::to_string(spanMs) + " ms\n";
        return failure;
    });
    resetLink();
}

TEST(MulticastSender, TakesANewGroupAtItsNextStartAndSurvivesAFailedClose) {
    LogFolder folder;
    resetLink();
    inNetwork([](FarEnd& member) -> std::string {
        std::thread first([] { startUPDMulticastSenderThread(); });
        if (!waitFor([] { return linkFlags().udpRunning.load(); })) {
            first.join();
            return "the sender did not start";
        }
        setMulticastAddr("239.1.2.3", 5000);
        mailbox().udpTxQueue.push(shortFrame(1, 1));
        std::string failure = expectReceived(member, {{51324, withChecksum(shortFrame(1, 1))}});
        stopREZadEdudid_Thread();
        first.join();

        // A close that fails is reported and ends the sender, not the host.
        senderSocketCloser() = [](platform::UdpSocket& socket) {
            socket.close();
            return false;
        };
        std::thread second([] { startUPDMulticastSenderThread(); });
        if (!waitFor([] { return linkFlags().udpRunning.load(); })) {
            second.join();
            return failure + "the sender did not restart";
        }
        mailbox().udpTxQueue.push(shortFrame(1, 2));
        if (failure.empty())
            failure = expectReceived(member, {{51324, withChecksum(shortFrame(1, 1))}, {5000, withChecksum(shortFrame(1, 2))}});
        stopREZadEdudid_Thread();
        second.join();
        senderSocketCloser() = nullptr;
        if (!linkFlags().udpEnded || linkFlags().udpRunning) failure += "flags not those of an ended loop\n";
        return failure;
    });
    if (IsSkipped()) return;
    EXPECT_EQ(folder.entries().back().rfind("[INFO] Multicastthread: Closing Socket failed:", 0), 0u)
        << folder.entries().back();
    resetLink();
}

#if defined(_WIN32)

// The adapters as GetAdaptersAddresses lists them in the script's namespace:
// loopback skipped, both veth links up and Ethernet, the first kept (its
// route metric is the lower, and under Wine, which gives every adapter the
// same metric, it also wins the tie), with its /24 subnet.
TEST(EthernetAdapterChoice, TakesTheFirstOfTwoWiredAdaptersFromGetAdaptersAddresses) {
    if (!sim::MemberClient::fromEnvironment()) GTEST_SKIP() << kNoFarEnd;
    LogFolder folder;
    ErrorLog log("error_log.txt");
    const WiredAdapter chosen = choosePreferredEthernetAdapter(log);
    EXPECT_EQ(chosen.text, "10.9.0.1");
    EXPECT_EQ(chosen.prefixLength, 24);
    // The figures are the system's; the steps are what is checked.
    std::vector<std::string> steps;
    for (auto entry : folder.entries()) {
        for (const std::string cut : {"Adapter has lower metric (", "with metric: "})
            if (const auto at = entry.find(cut); at != std::string::npos) entry.erase(at + cut.size());
        steps.push_back(entry);
    }
    const std::vector<std::string> expected = {
        "[INFO] Starting GetPreferredEthernetAdapter routine.",
        "[INFO] Examining adapter: lo",
        "[INFO] Adapter is either inactive or not of type Ethernet. Skipping.",
        "[INFO] Examining adapter: rez0",
        "[INFO] Adapter is active and of type Ethernet.",
        "[INFO] Adapter has lower metric (",
        "[INFO] Examining adapter: rez1",
        "[INFO] Adapter is active and of type Ethernet.",
        "[INFO] Best adapter selected: rez0 with metric: ",
        "[INFO] Selected adapter IP: 10.9.0.1",
    };
    EXPECT_EQ(steps, expected);
}

// Frames from the wired adapter's far end reach the host; one from the other
// adapter's far end, off the wired subnet, is dropped and counted.
TEST(UdpListenThread, TakesTheWiredSubnetsFramesFromTheFarEnd) {
    LogFolder folder;
    resetLink();
    inNetwork([&folder](FarEnd& far) -> std::string {
        const sim::MemberClient& across = static_cast<FarEndAcross&>(far).client;
        const std::uint64_t foreignBefore = udpListenState().foreignDatagrams.load();
        std::thread listener([] { startUPDListenThread(); });
        std::string failure;
        if (!waitFor([&] { return hasEntry(folder, "[INFO] Port 53241 opened successfully."); })) failure += "not opened\n";
        Bytes replies = shortFrame(3, 1);
        const Bytes second = shortFrame(3, 2), forged = shortFrame(2, 9);
        replies.insert(replies.end(), second.begin(), second.end());
        if (!across.send("10.8.0.2", "10.9.0.1", 53241, forged) || !across.send("10.9.0.2", "10.9.0.1", 53241, replies))
            failure += "a send failed\n";
        if (!waitFor([&] { return mailbox().udpRxQueue.size() == 2 && udpListenState().foreignDatagrams.load() == foreignBefore + 1; }))
            failure += "the replies or the foreign datagram never came\n";
        if (!linkFlags().udpLive.load() || readOne() != shortFrame(3, 1) || readOne() != second || newMessagemmf() != 0)
            failure += "not live on the replies alone\n";
        stopREZadEdudid_Thread();
        listener.join();
        return failure;
    });
    resetLink();
}

#endif

}  // namespace
}  // namespace rez
