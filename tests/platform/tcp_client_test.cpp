// A TCP connection over loopback works alike for both address families and
// for text that names the host, and says "nothing now" in the one number
// that the SimConnect stream reads as no failure.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/tcp_client.h"
#include "platform/udp_socket.h"

namespace rez::platform {
namespace {

TEST(TcpClient, ConnectsToAnyFreeLoopbackPortOfEitherFamily) {
    struct Row {
        const char* name;
        IpFamily family;
        const char* host;
    };
    const Row rows[] = {{"IPv4 address", IpFamily::V4, "127.0.0.1"},
                        {"IPv6 address", IpFamily::V6, "::1"},
                        {"IPv4 host name", IpFamily::V4, "localhost"}};
    ASSERT_EQ(netStartup(), 0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TcpListener listener;
        ASSERT_TRUE(listener.listen(row.family, 0)) << lastSocketError();
        ASSERT_NE(listener.port(), 0);
        TcpClient client, server;
        ASSERT_TRUE(client.open(row.family) && client.setNonBlocking() && client.setNoDelay());
        ASSERT_TRUE(client.connect(row.host, std::to_string(listener.port()), 5000)) << lastSocketError();
        ASSERT_TRUE(listener.accept(server, 5000));
        char buffer[8] = {};
        EXPECT_EQ(client.receive(buffer, sizeof buffer), -1);
        EXPECT_EQ(lastSocketError(), socketErrorWouldBlock) << "nothing to read is no failure";
        ASSERT_EQ(client.send("ping", 4), 4);
        ASSERT_EQ(server.waitReadable(5000), 1);
        ASSERT_EQ(server.receive(buffer, sizeof buffer), 4);
        EXPECT_EQ(std::memcmp(buffer, "ping", 4), 0);
        ASSERT_TRUE(server.close());
        ASSERT_EQ(client.waitReadable(5000), 1);
        EXPECT_EQ(client.receive(buffer, sizeof buffer), 0) << "the peer's close";
    }
    netCleanup();
}

}  // namespace
}  // namespace rez::platform
