// The socket and error-text services behave the same on both systems where a
// caller can tell, so what the Linux build tests holds for Windows too.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/serial_port.h"
#include "platform/simconnect_transport.h"
#include "platform/tcp_client.h"
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

// Every kind of socket refuses to open outside a network start-up on both
// systems, so a caller that forgot it fails in the Linux tests too.
TEST(Sockets, NoneOpensOutsideNetworkStartUp) {
    struct Kind {
        const char* name;
        std::function<int()> open;  // 0 when it opened, else the error
        bool opensInForce;          // a connect to a closed port is refused instead
    };
    const std::vector<Kind> kinds = {
        {"UDP socket", [] { UdpSocket s; return s.open() ? 0 : lastSocketError(); }, true},
        {"TCP client", [] { TcpClient c; return c.open() ? 0 : lastSocketError(); }, true},
        {"TCP listener", [] { TcpListener l; return l.listen(47233) ? 0 : lastSocketError(); }, true},
        {"SimConnect listener",
         [] { SimConnectListener l; return l.listen(IpFamily::V4, 47234) ? 0 : lastSocketError(); }, true},
        // Nothing listens on this port: in force, the connect is refused
        // rather than never tried.
        {"SimConnect connect", [] {
             int error = 0;
             return connectSimConnectTcp(IpFamily::V4, "127.0.0.1", "47235", false, 1000, &error) ? 0 : error;
         }, false},
    };
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        EXPECT_EQ(kind.open(), socketErrorNotStarted) << "before start-up";
        ASSERT_EQ(netStartup(), 0);
        ASSERT_EQ(netStartup(), 0);
        netCleanup();
        const int inForce = kind.open();
        EXPECT_NE(inForce, socketErrorNotStarted) << "one start-up is still in force";
        if (kind.opensInForce) {
            EXPECT_EQ(inForce, 0);
        }
        netCleanup();
        EXPECT_EQ(kind.open(), socketErrorNotStarted) << "after the last clean-up";
    }
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

// The sender's frames must leave by the wired adapter and stay near it,
// whatever the route table prefers; the system reports back what it holds.
TEST(UdpSocket, MulticastInterfaceAndHopsAreThoseSet) {
    ASSERT_EQ(netStartup(), 0);
    {
        UdpSocket sender;
        std::uint32_t address = 0;
        int hops = 0;
        ASSERT_TRUE(sender.open() && sender.setMulticastInterface(0x7F000001u) && sender.setMulticastTtl(3));
        ASSERT_TRUE(sender.multicastInterface(address) && sender.multicastTtl(hops));
        EXPECT_EQ(address, 0x7F000001u);
        EXPECT_EQ(hops, 3) << "1, the usual default, would not show a setter that does nothing";
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
