// The network controller link: its settings, the listen thread on loopback,
// and the multicast sender from a veth adapter to a receiver in a network
// namespace of its own (Linux only).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
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

#if !defined(_WIN32)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#endif

namespace rez {
namespace {

using test::LogFolder;
using Bytes = std::vector<std::uint8_t>;

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

Bytes shortFrame(std::uint8_t command, std::uint8_t value) { return {0xF9, 0xF9, command, 0, value, 0, 0x0A, 0x0D}; }

Bytes readOne() {
    Bytes buffer(kMaxMessageLength);
    const int n = readMessagemmf(buffer.data());
    buffer.resize(static_cast<std::size_t>(n > 0 ? n : 0));
    return buffer;
}

TEST(UdpListenThread, GoesLiveOnFramesStandsAsideForSerialAndExpiresAfterEightSeconds) {
    LogFolder folder;
    resetLink();
    const std::uint16_t port = 53241 + 7;
    setUDPport(port);
    ASSERT_EQ(platform::netStartup(), 0);
    platform::UdpSocket game;
    ASSERT_TRUE(game.open());
    auto send = [&](const Bytes& datagram) {
        return game.sendTo(datagram.data(), static_cast<int>(datagram.size()), "127.0.0.1", port) ==
               static_cast<int>(datagram.size());
    };

    std::thread listener([] { startUPDListenThread(); });
    ASSERT_TRUE(waitFor([&] { return hasEntry(folder, "[INFO] Port " + std::to_string(port) + " opened successfully."); }));
    EXPECT_TRUE(linkFlags().udpRunning && linkFlags().udpStarted);

    // Two whole frames and the start of a third: the cut one is lost.
    Bytes datagram = shortFrame(3, 1);
    Bytes second = shortFrame(3, 2);
    second[6] = 0xAB;  // checksum form
    writeChecksumTrailer(second);
    datagram.insert(datagram.end(), second.begin(), second.end());
    datagram.insert(datagram.end(), {0xF9, 0xF9, 0x03});
    ASSERT_TRUE(send(datagram));
    ASSERT_TRUE(waitFor([] { return linkFlags().udpLive.load() && newMessagemmf() == 1; }));
    EXPECT_EQ(readOne(), shortFrame(3, 1));
    ASSERT_TRUE(waitFor([] { return newMessagemmf() == 1; }));
    EXPECT_EQ(readOne(), shortFrame(3, 2));
    ASSERT_TRUE(send({0x00, 0xF9, 0x03}));  // no valid frame: ignored
    ASSERT_TRUE(send(shortFrame(4, 0)));     // the second datagram still counts on its own
    ASSERT_TRUE(waitFor([] { return newMessagemmf() == 1; }));
    EXPECT_EQ(readOne(), shortFrame(4, 0));

    // While the serial controller is live the datagram waits in the socket.
    linkFlags().serialLive = true;
    platform::sleepMs(150);
    ASSERT_TRUE(send(shortFrame(5, 0)));
    platform::sleepMs(300);
    EXPECT_TRUE(mailbox().udpRxQueue.empty());
    linkFlags().serialLive = false;
    ASSERT_TRUE(waitFor([] { return mailbox().udpRxQueue.size() == 1; }));
    EXPECT_EQ(readOne(), shortFrame(5, 0));

    // Eight seconds after the last frame: not live, and nothing stale is sent later.
    const auto lastFrame = std::chrono::steady_clock::now();
    ASSERT_TRUE(mailbox().serialTxQueue.push(shortFrame(6, 0)));
    ASSERT_TRUE(mailbox().udpTxQueue.push(shortFrame(6, 0)));
    ASSERT_TRUE(waitFor([] { return !linkFlags().udpLive.load(); }, std::chrono::seconds(30)));
    EXPECT_GE(std::chrono::steady_clock::now() - lastFrame, std::chrono::milliseconds(7900));
    EXPECT_TRUE(mailbox().serialTxQueue.empty());
    EXPECT_TRUE(mailbox().udpTxQueue.empty());

    stopREZadEdudid_Thread();
    listener.join();
    EXPECT_TRUE(linkFlags().udpEnded);
    EXPECT_FALSE(linkFlags().udpRunning);
    EXPECT_EQ(folder.entries().back(), "[INFO] Port closed.");
    game.close();
    platform::netCleanup();
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


#if !defined(_WIN32)

// Datagrams that arrived at the receiver, by destination port.
struct Received {
    std::uint16_t port;
    Bytes bytes;
    bool operator==(const Received&) const = default;
};

// The far end of a veth pair in a network namespace of its own, joined to the
// default group (port 51324) and to 239.1.2.3 (port 5000) on 10.9.0.2.
class Receiver {
public:
    // Call in a namespace made for the test; false with `why` set on failure.
    bool start(std::string& why) {
        int ready[2], go[2], data[2];
        if (::pipe(ready) || ::pipe(go) || ::pipe(data)) return why = "pipe", false;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(go[1]);
            ::close(data[0]);
            listen(ready[1], go[0], data[1]);
        }
        ::close(ready[1]);
        ::close(go[0]);
        ::close(data[1]);
        go_ = go[1];
        char byte = 0;
        if (::read(ready[0], &byte, 1) != 1 || byte != 'r') return why = "receiver: no namespace", false;
        const std::string pair = "ip link add e1 type veth peer name e2 netns " + std::to_string(pid_) +
                                 " && ip addr add 10.9.0.1/24 dev e1 && ip link set e1 up"
                                 " && ip route add 224.0.0.0/4 dev e1";
        if (std::system(pair.c_str()) != 0) return why = "set-up failed: " + pair, false;
        if (::write(go_, "g", 1) != 1 || ::read(ready[0], &byte, 1) != 1 || byte != 'j')
            return why = "receiver did not join the groups", false;
        ::close(ready[0]);
        // The wired side counts as up only once the kernel has seen the
        // carrier, which it does a while after both ends are up.
        if (!waitFor([] {
                std::ifstream state("/sys/class/net/e1/operstate");
                std::string text;
                return std::getline(state, text) && text == "up";
            }))
            return why = "e1 never came up", false;
        reader_ = std::thread([this, fd = data[0]] {
            unsigned char head[4];
            while (readAll(fd, head, 4)) {
                Received got{static_cast<std::uint16_t>(head[0] | head[1] << 8), Bytes(head[2] | head[3] << 8)};
                if (!readAll(fd, got.bytes.data(), got.bytes.size())) break;
                std::lock_guard<std::mutex> use(mutex_);
                received_.push_back(std::move(got));
            }
            ::close(fd);
        });
        return true;
    }
    ~Receiver() {
        if (go_ >= 0) ::close(go_);
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
        if (reader_.joinable()) reader_.join();
    }
    std::vector<Received> received() {
        std::lock_guard<std::mutex> use(mutex_);
        return received_;
    }

private:
    static bool readAll(int fd, void* to, std::size_t count) {
        auto* p = static_cast<unsigned char*>(to);
        while (count > 0) {
            const ssize_t n = ::read(fd, p, count);
            if (n <= 0) return false;
            p += n;
            count -= static_cast<std::size_t>(n);
        }
        return true;
    }
    static int joined(std::uint16_t port, const char* group) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(port);
        ip_mreq join{};
        ::inet_pton(AF_INET, group, &join.imr_multiaddr);
        ::inet_pton(AF_INET, "10.9.0.2", &join.imr_interface);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 ||
            ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof join) != 0)
            ::_exit(1);
        return fd;
    }
    [[noreturn]] static void listen(int ready, int go, int data) {
        char byte = 0;
        if (::unshare(CLONE_NEWNET) != 0) ::_exit(1);
        if (::write(ready, "r", 1) != 1 || ::read(go, &byte, 1) != 1) ::_exit(1);
        if (std::system("ip link set lo up && ip addr add 10.9.0.2/24 dev e2 && ip link set e2 up") != 0) ::_exit(1);
        pollfd fds[3] = {{joined(51324, "232.11.12.14"), POLLIN, 0}, {joined(5000, "239.1.2.3"), POLLIN, 0}, {go, POLLIN, 0}};
        const std::uint16_t ports[2] = {51324, 5000};
        if (::write(ready, "j", 1) != 1) ::_exit(1);
        for (;;) {
            if (::poll(fds, 3, -1) < 0) ::_exit(1);
            if (fds[2].revents) ::_exit(0);  // the test closed its end
            for (int i = 0; i < 2; ++i) {
                if (!fds[i].revents) continue;
                unsigned char record[4 + 2048];
                const ssize_t n = ::recv(fds[i].fd, record + 4, 2048, 0);
                if (n < 0) continue;
                record[0] = ports[i] & 0xFF;
                record[1] = ports[i] >> 8;
                record[2] = static_cast<unsigned char>(n & 0xFF);
                record[3] = static_cast<unsigned char>(n >> 8);
                if (::write(data, record, static_cast<std::size_t>(4 + n)) != 4 + n) ::_exit(1);
            }
        }
    }

    pid_t pid_ = -1;
    int go_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::vector<Received> received_;
};

// Runs `scenario` in a child with a network namespace, a sysfs of its own and
// a receiver at the far end of a veth pair; the scenario's text is empty
// when all went as expected.
void inNetwork(const std::function<std::string(Receiver&)>& scenario) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        auto report = [&](const std::string& text) {
            (void)!::write(fds[1], text.data(), text.size());
            ::_exit(0);
        };
        if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("sysfs", "/sys", "sysfs", 0, nullptr) != 0)
            report(std::string("S") + std::strerror(errno));
        std::string why;
        std::string result;
        {
            Receiver receiver;
            result = receiver.start(why) ? "O" + scenario(receiver) : "F" + why;
        }
        report(result);
    }
    ::close(fds[1]);
    std::string got;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) got.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "the child died";
    ASSERT_EQ(WEXITSTATUS(status), 0) << "the child ended the process with " << WEXITSTATUS(status);
    ASSERT_FALSE(got.empty()) << "the child reported nothing";
    if (got[0] == 'S') GTEST_SKIP() << "no network namespace can be made here: " << got.substr(1);
    EXPECT_EQ(got, "O");
}

Bytes withChecksum(Bytes message) {
    writeChecksumTrailer(message);
    return message;
}

std::string describe(const std::vector<Received>& list) {
    std::string text;
    for (const auto& r : list) {
        text += std::to_string(r.port) + ":";
        for (auto b : r.bytes) text += " " + std::to_string(b);
        text += "\n";
    }
    return text;
}

// Waits until the receiver holds `expected` and nothing more comes within a
// few passes; the difference as text.
std::string expectReceived(Receiver& receiver, const std::vector<Received>& expected) {
    waitFor([&] { return receiver.received().size() >= expected.size(); });
    platform::sleepMs(100);
    const auto got = receiver.received();
    return got == expected ? "" : "expected\n" + describe(expected) + "got\n" + describe(got);
}

TEST(MulticastSender, SendsEachMessageWithItsChecksumAndRepeatsTheAutoMessageTwelveTimes) {
    LogFolder folder;
    resetLink();
    inNetwork([](Receiver& receiver) -> std::string {
        const Bytes three{0x41, 0x0A, 0x0D};
        const Bytes autoA = shortFrame(7, 1), autoB = shortFrame(7, 2), autoC = shortFrame(7, 3);
        mailbox().udpTxQueue.push(three);
        mailbox().udpTxQueue.push(Bytes{0x0A, 0x0D});  // too short: dropped unsent
        mailbox().udpTxQueue.push(shortFrame(2, 5));
        mailbox().autoQueue.push(autoA);
        std::thread listener([] { startUPDListenThread(); });
        std::thread sender([] { startUPDMulticastSenderThread(); });

        // Latch clear: the auto message goes out as queued, 12 times.
        std::vector<Received> expected{{51324, withChecksum(three)}, {51324, withChecksum(shortFrame(2, 5))}};
        for (int i = 0; i < 12; ++i) expected.push_back({51324, autoA});
        std::string failure = expectReceived(receiver, expected);

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
        if (failure.empty()) failure = expectReceived(receiver, expected);

        stopREZadEdudid_Thread();
        sender.join();
        listener.join();
        if (!linkFlags().udpEnded || linkFlags().udpRunning) failure += "flags not those of an ended loop\n";
        return failure;
    });
    EXPECT_TRUE(hasEntry(folder, "[INFO] Multicastthread: Bound to Ip: 10.9.0.1"));
    EXPECT_TRUE(hasEntry(folder, "[INFO] Udp listen thread: closing"));
    // The two threads end in either order.
    const auto entries = folder.entries();
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(),
                            [](const std::string& e) { return e.rfind("[INFO] Multicastthread: Exiting:", 0) == 0; }));
    resetLink();
}

TEST(MulticastSender, TakesANewGroupAtItsNextStartAndSurvivesAFailedClose) {
    LogFolder folder;
    resetLink();
    inNetwork([](Receiver& receiver) -> std::string {
        std::thread first([] { startUPDMulticastSenderThread(); });
        if (!waitFor([] { return linkFlags().udpRunning.load(); })) {
            first.join();
            return "the sender did not start";
        }
        setMulticastAddr("239.1.2.3", 5000);
        mailbox().udpTxQueue.push(shortFrame(1, 1));
        std::string failure = expectReceived(receiver, {{51324, withChecksum(shortFrame(1, 1))}});
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
            failure = expectReceived(receiver, {{51324, withChecksum(shortFrame(1, 1))}, {5000, withChecksum(shortFrame(1, 2))}});
        stopREZadEdudid_Thread();
        second.join();
        senderSocketCloser() = nullptr;
        if (!linkFlags().udpEnded || linkFlags().udpRunning) failure += "flags not those of an ended loop\n";
        return failure;
    });
    EXPECT_EQ(folder.entries().back().rfind("[INFO] Multicastthread: Closing Socket failed:", 0), 0u)
        << folder.entries().back();
    resetLink();
}

#endif

}  // namespace
}  // namespace rez
