// The client on its own: cutting the received stream into messages, the
// configuration files and the order in which endpoints are tried.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "core/bytes.h"
#include "platform/simconnect_transport.h"
#include "platform/udp_socket.h"
#include "sources/simconnect/client_connection.h"
#include "tests/simconnect/simconnect_test_util.h"
#include "sim/fake_simconnect_server.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

using Server = sim::FakeSimConnectServer;
using Bytes = std::vector<std::uint8_t>;

Bytes message(std::uint32_t size, std::uint32_t id = 99) {
    Bytes m(size >= 12 ? size : 12, 0);
    store_le<std::uint32_t>(m.data(), size);
    store_le<std::uint32_t>(m.data() + 8, id);
    m.resize(size >= 4 ? size : 4);
    return m;
}

// Plays the stream into the client in pieces and takes every message out.
struct Played {
    std::vector<std::uint32_t> sizes;
    std::int32_t endResult = 0;
    std::size_t largestBuffer = 0;
};

Played play(const Bytes& stream, std::size_t piece, std::uint32_t maxReceive = kSmallestMaxReceiveSize) {
    ClientClient client;
    client.maxReceiveSize = maxReceive;
    client.reset();
    Played out;
    for (std::size_t at = 0; at < stream.size();) {
        const std::size_t n = std::min({piece, stream.size() - at, client.receiveRoomSize()});
        std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(at), n, client.receiveRoom());
        at += n;
        out.largestBuffer = std::max(out.largestBuffer, client.receiveBufferSize());
        if (!client.receivedInto(n)) break;
    }
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    while ((out.endResult = client.getNextDispatch(&data, &size)) == kSimConnectOk) {
        EXPECT_EQ(load_le<std::uint32_t>(data), size);
        out.sizes.push_back(size);
    }
    return out;
}

TEST(SimConnectStream, MessagesComeOutWholeAndInOrderWhateverThePieces) {
    const double v[15] = {};
    const Bytes stream = sim::joined({Server::data(v, 0, 1), Server::event(7), message(8), Server::exception(3, 2, 1),
                                       Server::quit(), message(5000), Server::data(v, 1, 0)});
    for (std::size_t piece : {1u, 2u, 3u, 7u, 12u, 100u, 176u, 1000u, 4096u, 100000u}) {
        SCOPED_TRACE(piece);
        const Played p = play(stream, piece);
        EXPECT_EQ(p.sizes, (std::vector<std::uint32_t>{176, 24, 24, 12, 5000, 176})) << "the 8-byte one has no header";
        EXPECT_EQ(p.endResult, kSimConnectFail);
        EXPECT_EQ(p.largestBuffer, 6144u) << "grown in 2048-byte steps to hold 5000 bytes";
    }
}

TEST(SimConnectStream, BadSizesEndTheStreamOrAreDroppedWithoutLosingOthers) {
    const double v[15] = {};
    const Bytes good = Server::data(v, 0, 0);
    struct Case {
        const char* what;
        Bytes stream;
        std::uint32_t maxReceive;
        std::vector<std::uint32_t> sizes;
        std::int32_t endResult;
    };
    const Case cases[] = {
        {"larger than accepted", sim::joined({good, message(kSmallestMaxReceiveSize + 1), good}),
         kSmallestMaxReceiveSize, {176}, kSimConnectAborted},
        {"raised limit accepts it", sim::joined({good, message(kSmallestMaxReceiveSize + 1), good}), 100000,
         {176, kSmallestMaxReceiveSize + 1, 176}, kSimConnectFail},
        {"size below 4 cannot be framed", sim::joined({good, message(3), good}), kSmallestMaxReceiveSize, {176},
         kSimConnectAborted},
        {"size 0", sim::joined({good, message(0), good}), kSmallestMaxReceiveSize, {176}, kSimConnectAborted},
        {"shorter than a header is skipped", sim::joined({message(4), message(11), good}), kSmallestMaxReceiveSize,
         {176}, kSimConnectFail},
        {"beyond the largest buffer is dropped", sim::joined({good, message(0x100010), good}), 0x200000,
         {176, 176}, kSimConnectFail},
    };
    for (const Case& c : cases) {
        for (std::size_t piece : {1u, 9u, 5000u, 0x200000u}) {
            if (piece == 1 && c.stream.size() > 100000) continue;
            SCOPED_TRACE(std::string(c.what) + ", piece " + std::to_string(piece));
            const Played p = play(c.stream, piece, c.maxReceive);
            EXPECT_EQ(p.sizes, c.sizes);
            EXPECT_EQ(p.endResult, c.endResult);
            EXPECT_LE(p.largestBuffer, kLargestReceiveBuffer + kReceiveStep);
        }
    }
}

TEST(SimConnectConfig, LaterFilesOverrideKeyByKey) {
    struct Case {
        const char* what;
        const char* common;
        const char* user;
        const char* current;
        unsigned index;
        SimConnectProtocol protocol;
        const char* address;
        const char* port;
        std::uint32_t maxReceive;
        bool noDelay;
    };
    const auto P = SimConnectProtocol::Pipe, V4 = SimConnectProtocol::IPv4, V6 = SimConnectProtocol::IPv6;
    const Case cases[] = {
        {"no files", "", "", "", 0, P, "", "", kSmallestMaxReceiveSize, false},
        {"one file", "[SimConnect]\nProtocol=IPv4\nAddress=10.1.1.1\nPort=500\n", "", "", 0, V4, "10.1.1.1", "500",
         kSmallestMaxReceiveSize, false},
        {"key by key", "[SimConnect]\nProtocol=IPv4\nAddress=10.1.1.1\nPort=500\n", "[SimConnect]\nPort=600\n",
         "[SimConnect]\nAddress=10.2.2.2\n", 0, V4, "10.2.2.2", "600", kSmallestMaxReceiveSize, false},
        {"user over common", "[SimConnect]\nPort=1\n", "[SimConnect]\nPort=2\nProtocol=IPv6\n", "", 0, V6, "", "2",
         kSmallestMaxReceiveSize, false},
        {"section of the index", "[SimConnect]\nProtocol=IPv4\nPort=1\n[SimConnect.2]\nProtocol=IPv6\nPort=2\n", "",
         "", 2, V6, "", "2", kSmallestMaxReceiveSize, false},
        {"index without its section", "[SimConnect]\nProtocol=IPv4\nPort=1\n", "", "", 1, P, "", "",
         kSmallestMaxReceiveSize, false},
        {"TCP without a port takes the registry's", "[SimConnect]\nProtocol=IPv6\n", "", "", 0, V6, "", "6006",
         kSmallestMaxReceiveSize, false},
        {"IPv4 registry port", "", "[SimConnect]\nProtocol=IPv4\n", "", 0, V4, "", "4004", kSmallestMaxReceiveSize,
         false},
        {"pipe keeps its name", "[SimConnect]\nProtocol=Pipe\nPort=Custom\n", "", "", 0, P, "", "Custom",
         kSmallestMaxReceiveSize, false},
        {"unknown protocol is the pipe", "[SimConnect]\nProtocol=IPv4\n", "", "[SimConnect]\nProtocol=Carrier\n", 0,
         P, "", "", kSmallestMaxReceiveSize, false},
        {"names without regard to case", "[simconnect]\nPROTOCOL=ipv4\nport = 7 \n", "", "", 0, V4, "", "7",
         kSmallestMaxReceiveSize, false},
        {"receive size only rises", "[SimConnect]\nMaxReceiveSize=100\n", "", "", 0, P, "", "",
         kSmallestMaxReceiveSize, false},
        {"receive size raised", "[SimConnect]\nMaxReceiveSize=90000\nDisableNagle=1\n", "", "", 0, P, "", "", 90000,
         true},
        {"no-delay switched off later", "[SimConnect]\nDisableNagle=1\n", "[SimConnect]\nDisableNagle=0\n", "", 0, P,
         "", "", kSmallestMaxReceiveSize, false},
    };
    test::ConfigFolders folders;
    folders.enterCurrent();
    const auto registry = [](platform::IpFamily f) { return std::string(f == platform::IpFamily::V6 ? "6006" : "4004"); };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        folders.write("common", c.common);
        folders.write("user", c.user);
        folders.write("current", c.current);
        const SimConnectConfig config = readSimConnectConfig(simConnectConfigFolders(), c.index, registry);
        EXPECT_EQ(config.protocol, c.protocol);
        EXPECT_EQ(config.address, c.address);
        EXPECT_EQ(config.port, c.port);
        EXPECT_EQ(config.maxReceiveSize, c.maxReceive);
        EXPECT_EQ(config.disableNagle, c.noDelay);
    }
}

TEST(SimConnectConfig, OpenFollowsTheWinningFile) {
    test::ConfigFolders folders;
    folders.enterCurrent();
    Server server;
    ASSERT_TRUE(server.listening());
    platform::SimConnectListener closed;  // a port that nobody answers on
    ASSERT_TRUE(closed.listen(platform::IpFamily::V4, 0));
    const std::string deadPort = std::to_string(closed.port());
    closed.close();

    folders.write("common", "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" + std::to_string(server.port()) + "\n");
    folders.write("user", "[SimConnect]\nPort=" + deadPort + "\n");
    std::unique_ptr<ClientClient> client;
    EXPECT_LT(ClientClient::open(client, "Rovandelix", 0), 0) << "the user's file overrides the common port";
    folders.write("current", "[SimConnect]\nPort=" + std::to_string(server.port()) + "\n");
    ASSERT_EQ(ClientClient::open(client, "Rovandelix", 0), kSimConnectOk) << "the current directory's file wins";
    EXPECT_TRUE(test::eventually([&] { return server.requests(0).size() == 1; }));
    EXPECT_EQ(liveSimConnectClients(), 1u);
    ClientClient::close(client);
    EXPECT_EQ(liveSimConnectClients(), 0u);
    EXPECT_TRUE(test::eventually([&] { return server.clientClosed(0); }));
}

class NullStream : public platform::SimConnectStream {
public:
    int send(const void*, std::size_t size) override { return static_cast<int>(size); }
    int receive(void*, std::size_t) override { return 0; }
    bool waitReadable(int) override { return false; }
    int lastError() const override { return 0; }
};

class RecordingConnector : public SimConnectConnector {
public:
    std::set<std::string> answering;
    std::string v4 = "4004", v6 = "6006";
    std::vector<std::string> tried;
    std::unique_ptr<platform::SimConnectStream> pipe(const std::string& path) override { return attempt("pipe " + path); }
    std::unique_ptr<platform::SimConnectStream> tcp(platform::IpFamily f, const std::string& host,
                                                    const std::string& port, bool) override {
        return attempt(std::string(f == platform::IpFamily::V6 ? "tcp6 " : "tcp4 ") + host + " " + port);
    }
    std::string registryPort(platform::IpFamily f) override { return f == platform::IpFamily::V6 ? v6 : v4; }

private:
    std::unique_ptr<platform::SimConnectStream> attempt(const std::string& what) {
        tried.push_back(what);
        if (answering.count(what) != 0) return std::make_unique<NullStream>();
        return nullptr;
    }
};

TEST(SimConnectConnect, TriesPipeThenIpv6ThenIpv4ThenPipeFromLocalAddressesOnly) {
    const std::string defaultPipe = "pipe \\\\.\\pipe\\Microsoft Flight Simulator\\SimConnect";
    struct Case {
        const char* what;
        SimConnectProtocol protocol;
        const char* address;
        const char* port;
        bool registry;
        const char* answers;  // the attempt that succeeds, or ""
        std::vector<std::string> tried;
    };
    const auto P = SimConnectProtocol::Pipe, V4 = SimConnectProtocol::IPv4, V6 = SimConnectProtocol::IPv6;
    const Case cases[] = {
        {"defaults, nothing answers", P, "", "", true, "",
         {defaultPipe, "tcp6 ::1 6006", "tcp4 127.0.0.1 4004", defaultPipe}},
        {"no registry ports", P, "", "", false, "", {defaultPipe, defaultPipe}},
        {"pipe of another machine", P, "simpc", "", true, "", {"pipe \\\\simpc\\pipe\\Microsoft Flight Simulator\\SimConnect"}},
        {"named pipe", P, ".", "Custom", true, "", {"pipe \\\\.\\pipe\\Custom", "tcp6 ::1 6006", "tcp4 127.0.0.1 4004", defaultPipe}},
        {"IPv6 on loopback", V6, "::1", "7", true, "", {"tcp6 ::1 7", "tcp4 127.0.0.1 4004", defaultPipe}},
        {"IPv6 elsewhere", V6, "simpc", "7", true, "", {"tcp6 simpc 7"}},
        {"IPv4 on loopback", V4, "127.0.0.1", "8", true, "", {"tcp4 127.0.0.1 8", defaultPipe}},
        {"IPv4 elsewhere", V4, "10.0.0.9", "8", true, "", {"tcp4 10.0.0.9 8"}},
        {"IPv6 answers", P, "", "", true, "tcp6 ::1 6006", {defaultPipe, "tcp6 ::1 6006"}},
        {"pipe answers", P, "", "", true, "pipe \\\\.\\pipe\\Microsoft Flight Simulator\\SimConnect", {defaultPipe}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingConnector connector;
        if (!c.registry) connector.v4 = connector.v6 = "";
        if (*c.answers != '\0') connector.answering.insert(c.answers);
        SimConnectConfig config;
        config.protocol = c.protocol;
        config.address = c.address;
        config.port = c.port;
        CClient::Transport transport = CClient::Transport::Pipe;
        const bool connected = connectInOrder(config, connector, &transport) != nullptr;
        EXPECT_EQ(connector.tried, c.tried);
        EXPECT_EQ(connected, *c.answers != '\0');
        if (connected) {
            EXPECT_EQ(transport, std::string(c.answers).rfind("pipe", 0) == 0 ? CClient::Transport::Pipe
                                                                               : CClient::Transport::Socket);
        }
    }
}

}  // namespace
}  // namespace rez

namespace rez {
namespace {

TEST(SimConnectPipe, RequestsAndMessagesOverTheNamedPipe) {
    sim::FakeSimConnectServer server("RezSimConnectTest" + std::to_string(platform::counterNow() % 100000));
    if (!server.listening()) GTEST_SKIP() << "no named pipes on this system";
    test::ConfigFolders folders;
    folders.write("user", server.configText());
    std::unique_ptr<ClientClient> client;
    ASSERT_EQ(ClientClient::open(client, "Rovandelix", 0), kSimConnectOk);
    EXPECT_EQ(client->transport(), CClient::Transport::Pipe);
    EXPECT_EQ(client->subscribeToSystemEvent(7, "Quit"), kSimConnectOk);
    ASSERT_TRUE(test::eventually([&] { return server.requests(0).size() == 2; }));
    EXPECT_TRUE(server.faults().empty()) << ::testing::PrintToString(server.faults());

    ASSERT_TRUE(server.send(0, sim::FakeSimConnectServer::event(7), 5));
    std::vector<std::uint32_t> ids;
    ASSERT_TRUE(test::eventually([&] {
        const std::uint8_t* data = nullptr;
        std::uint32_t size = 0;
        if (client->getNextDispatch(&data, &size) == kSimConnectOk) ids.push_back(load_le<std::uint32_t>(data + 8));
        return ids.size() == 2;
    }));
    EXPECT_EQ(ids, (std::vector<std::uint32_t>{2, 4})) << "open reply, then the event";
    server.drop(0);
    EXPECT_TRUE(test::eventually([&] { return client->getNextDispatch(nullptr, nullptr) == kSimConnectBroken; }));
    ClientClient::close(client);
}

// Both ends of a stream on one system, by the transport the row names.
struct StreamPair {
    platform::SimConnectListener listener;
    std::unique_ptr<platform::SimConnectStream> client;
    std::unique_ptr<platform::SimConnectStream> server;
};

bool connectPair(bool pipe, StreamPair& p) {
    int error = 0;
    if (pipe) {
        const std::string name = "RezStreamTest" + std::to_string(platform::counterNow() % 1000000);
        if (!p.listener.listenPipe(name)) return false;
        p.client = platform::openSimConnectPipe("\\\\.\\pipe\\" + name, 1000, &error);
    } else {
        if (!p.listener.listen(platform::IpFamily::V4, 0)) return false;
        p.client = platform::connectSimConnectTcp(platform::IpFamily::V4, "127.0.0.1", std::to_string(p.listener.port()),
                                                  true, 5000, &error);
    }
    if (p.client) p.server = p.listener.accept(5000);
    return p.client && p.server;
}

class SimConnectStreamPair : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        started_ = platform::netStartup() == 0;
        ASSERT_TRUE(started_);
        StreamPair probe;
        if (GetParam() && !probe.listener.listenPipe("RezStreamProbe")) GTEST_SKIP() << "no named pipes here";
    }
    void TearDown() override {
        if (started_) platform::netCleanup();
    }
    bool started_ = false;
};

// Bursts larger than what either side queues or buffers must arrive whole
// and in order while both directions run at once.
TEST_P(SimConnectStreamPair, LargeBurstsArriveWholeAndInOrderBothWays) {
    StreamPair p;
    ASSERT_TRUE(connectPair(GetParam(), p));
    const std::size_t total = std::size_t{6} << 20;
    auto pattern = [](std::size_t i) { return static_cast<char>((i * 131 + i / 7919) & 0xFF); };
    std::vector<char> out(total);
    for (std::size_t i = 0; i < total; ++i) out[i] = pattern(i);
    platform::SimConnectStream* ends[2] = {p.client.get(), p.server.get()};
    std::size_t sent[2] = {0, 0};
    std::vector<char> got[2];
    std::vector<char> chunk(50000);
    const bool done = test::eventually(
        [&] {
            for (int e = 0; e < 2; ++e) {
                if (sent[e] < total) {
                    const int n = ends[e]->send(out.data() + sent[e], std::min<std::size_t>(total - sent[e], 300000));
                    if (n < 0) return true;
                    sent[e] += static_cast<std::size_t>(n);
                }
                int n = 0;
                while ((n = ends[1 - e]->receive(chunk.data(), chunk.size())) > 0)
                    got[1 - e].insert(got[1 - e].end(), chunk.data(), chunk.data() + n);
                if (n < 0) return true;
            }
            return got[0].size() >= total && got[1].size() >= total;
        },
        60000);
    ASSERT_TRUE(done);
    for (int e = 0; e < 2; ++e) {
        ASSERT_EQ(got[e].size(), total) << "end " << e;
        EXPECT_TRUE(got[e] == out) << "end " << e << " got the bytes changed or out of order";
    }
}

// Closing an end while its read waits and its write is still in flight must
// neither crash nor hang, and the other end must see the stream end.
TEST_P(SimConnectStreamPair, ClosingWithIoUnderWayEndsTheStreamCleanly) {
    const std::vector<char> burst(std::size_t{1} << 20, 'x');
    for (int round = 0; round < 20; ++round) {
        StreamPair p;
        ASSERT_TRUE(connectPair(GetParam(), p)) << "round " << round;
        ASSERT_GT(p.client->send(burst.data(), burst.size()), 0);
        p.client.reset();
        std::vector<char> sink(65536);
        ASSERT_TRUE(test::eventually([&] { return p.server->receive(sink.data(), sink.size()) < 0; }))
            << "round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(Transports, SimConnectStreamPair, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Pipe" : "Tcp"; });

}  // namespace
}  // namespace rez
