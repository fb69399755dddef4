// The socket and error-text services behave the same on both systems where a
// caller can tell, so what the Linux build tests holds for Windows too.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/serial_port.h"
#include "platform/udp_socket.h"
#include "tests/support/child_game.h"

namespace rez::platform {
namespace {

// A child started while a port is bound must not keep the port once the
// socket is closed here.
TEST(UdpSocket, ChildProcessesDoNotInheritTheSocket) {
    const std::uint16_t port = 47231;
    ASSERT_EQ(netStartup(), 0);
    {
        UdpSocket probe;
        ASSERT_TRUE(probe.open());
        ASSERT_TRUE(probe.bindAddress("127.0.0.1", port));
        EXPECT_FALSE(probe.inheritable());
        test::ChildGame child("RezSocketChild.exe");
        ASSERT_TRUE(child.started());
        ASSERT_TRUE(probe.close());
        UdpSocket again;
        ASSERT_TRUE(again.open());
        EXPECT_TRUE(again.bindAddress("127.0.0.1", port)) << "the child holds the port: error " << lastSocketError();
    }
    netCleanup();
}

TEST(UdpSocket, NoSocketOutsideNetworkStartUp) {
    UdpSocket socket;
    EXPECT_FALSE(socket.open()) << "before start-up";
    EXPECT_EQ(lastSocketError(), socketErrorNotStarted);
    ASSERT_EQ(netStartup(), 0);
    ASSERT_EQ(netStartup(), 0);
    netCleanup();
    EXPECT_TRUE(socket.open()) << "one start-up is still in force";
    socket.close();
    netCleanup();
    EXPECT_FALSE(socket.open()) << "after the last clean-up";
    EXPECT_EQ(lastSocketError(), socketErrorNotStarted);
}

TEST(UdpSocket, DatagramLongerThanTheBufferIsDroppedAsAnError) {
    const std::uint16_t port = 47232;
    ASSERT_EQ(netStartup(), 0);
    {
        UdpSocket receiver;
        ASSERT_TRUE(receiver.open());
        ASSERT_TRUE(receiver.bindAddress("127.0.0.1", port));
        UdpSocket sender;
        ASSERT_TRUE(sender.open());
        const std::vector<unsigned char> longer(100, 0x11);
        const std::vector<unsigned char> fits(10, 0x22);
        ASSERT_EQ(sender.sendTo(longer.data(), 100, "127.0.0.1", port), 100);
        ASSERT_EQ(sender.sendTo(fits.data(), 10, "127.0.0.1", port), 10);

        unsigned char buffer[10] = {};
        ASSERT_EQ(receiver.waitReadable(5000), 1);
        EXPECT_EQ(receiver.receiveFrom(buffer, sizeof buffer, nullptr), -1);
        EXPECT_EQ(lastSocketError(), socketErrorTooLong);
        ASSERT_EQ(receiver.waitReadable(5000), 1);
        EXPECT_EQ(receiver.receiveFrom(buffer, sizeof buffer, nullptr), 10) << "the next datagram comes whole";
        EXPECT_EQ(buffer[9], 0x22);
    }
    netCleanup();
}

// Code 2 is "file not found" on both systems.
TEST(ErrorText, OneLineForAKnownCodeNothingForAnUnknownOne) {
    std::string text = "stale";
    ASSERT_TRUE(serialErrorText(2, text));
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
    EXPECT_FALSE(serialErrorText(0x7ABC1234u, text));
    EXPECT_TRUE(text.empty()) << text;
}

}  // namespace
}  // namespace rez::platform
