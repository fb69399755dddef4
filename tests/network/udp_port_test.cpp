// The receiving UDP port on loopback, and what it writes to the log.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "network/udp_port.h"
#include "platform/environment.h"
#include "platform/udp_socket.h"
#include "tests/network/log_folder.h"

namespace rez {
namespace {

using test::LogFolder;

TEST(UdpPort, OpenAndCloseWriteTheirLines) {
    LogFolder folder;
    {
        UdpPort port;
        ASSERT_EQ(port.openPort(47301), 1);
        EXPECT_EQ(port.senderPort(), 47301) << "the bind address until a datagram comes";
        EXPECT_EQ(port.closePort(), 0);
    }
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"[INFO] Udp class init", "[INFO] Opening port: 47301",
                                                          "[INFO] Port 47301 opened successfully.",
                                                          "[INFO] Port closed."}));
}

// The number is logged as given, before the system decides about it.
TEST(UdpPort, NegativePortIsLoggedAsGiven) {
    LogFolder folder;
    UdpPort port;
    const int opened = port.openPort(-1);
    port.closePort();
    const auto entries = folder.entries();
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(entries[1], "[INFO] Opening port: -1");
    EXPECT_EQ(entries[2].rfind(opened ? "[INFO] Port -1 opened successfully." : "[ERROR] ", 0), 0u) << entries[2];
}

TEST(UdpPort, PortHeldByAnotherSocketIsRefusedAndThePortStaysUsable) {
    LogFolder folder;
    const std::uint16_t held = 47302;
    ASSERT_EQ(platform::netStartup(), 0);
    platform::UdpSocket holder;
    ASSERT_TRUE(holder.open());
    ASSERT_TRUE(holder.bindAny(held));

    UdpPort port;
    EXPECT_EQ(port.openPort(held), 0);
    EXPECT_EQ(port.openPort(held + 1), 1) << "a failed open leaves the object usable";
    port.closePort();
    holder.close();
    platform::netCleanup();

    const auto entries = folder.entries();
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(entries[2], "[ERROR] Binding socket failed with error: " + std::to_string(platform::socketErrorAddressInUse));
}

// Polls `receive` until something comes or a generous deadline passes.
template <typename Receive>
auto pollUntilSomething(Receive receive) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto got = receive();
    while (!got && std::chrono::steady_clock::now() < deadline) got = receive();
    return got;
}

TEST(UdpPort, ReceivesQueuedDatagramsInOrderWithTheirSender) {
    LogFolder folder;
    const std::uint16_t listen = 47303;
    const std::uint16_t from = 47304;
    UdpPort port;
    ASSERT_EQ(port.openPort(listen), 1);
    EXPECT_TRUE(port.receive().empty()) << "nothing queued";
    EXPECT_EQ(port.receiveIntoArea(), 0) << "nothing queued";

    ASSERT_EQ(platform::netStartup(), 0);
    platform::UdpSocket sender;
    ASSERT_TRUE(sender.open());
    ASSERT_TRUE(sender.bindAddress("127.0.0.1", from));
    ASSERT_EQ(sender.sendTo("one", 3, "127.0.0.1", listen), 3);
    ASSERT_EQ(sender.sendTo("second", 6, "127.0.0.1", listen), 6);

    const auto first = pollUntilSomething([&] {
        auto d = port.receive();
        return d.empty() ? std::optional<std::vector<std::uint8_t>>() : d;
    });
    ASSERT_TRUE(first);
    EXPECT_EQ(std::string(first->begin(), first->end()), "one");
    EXPECT_EQ(port.senderAddress(), 0x7F000001u);
    EXPECT_EQ(port.senderPort(), from);

    const auto second = pollUntilSomething([&] {
        int n = port.receiveIntoArea();
        return n > 0 ? std::optional<int>(n) : std::nullopt;
    });
    ASSERT_TRUE(second);
    EXPECT_EQ(std::string(port.receiveArea.begin(), port.receiveArea.begin() + *second), "second");
    EXPECT_TRUE(port.receive().empty()) << "both taken";

    port.closePort();
    sender.close();
    platform::netCleanup();
}

}  // namespace
}  // namespace rez
