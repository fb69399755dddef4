// The flight simulator through the shipped game table and the engine's
// thread, over TCP and, where there are named pipes, over the pipe: found,
// attached, its ground state blending the AIR and GROUND profiles, and let
// go after a broken connection or a quit once the engine's misses run out.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "engine/gamesource_engine.h"
#include "tests/simconnect/simconnect_test_util.h"
#include "tests/support/child_game.h"
#include "sim/fake_simconnect_server.h"
#include "tests/support/test_reader.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

using Server = sim::FakeSimConnectServer;

class FlightSimThroughTheEngine : public ::testing::TestWithParam<bool> {};

TEST_P(FlightSimThroughTheEngine, LandingTakeOffABrokenConnectionAndAQuit) {
    test::ConfigFolders folders;
    const auto made = GetParam() ? std::make_unique<Server>("RezEngine" + std::to_string(platform::counterNow()))
                                 : std::make_unique<Server>();
    Server& server = *made;
    if (GetParam() && !server.listening()) GTEST_SKIP() << "no named pipes on this system";
    ASSERT_TRUE(server.listening());
    folders.write("user", server.configText());
    test::ChildGame sim("FlightSimulator.exe");
    ASSERT_TRUE(sim.started());

    auto engine = std::make_unique<GamesourceEngine>();
    engine->sources.detectPauseMs = 0;
    for (int id = 0; id < kGameCount; ++id)
        if (id != kMsfs2020 && id != kMsfs2024) engine->sources.setReader(id, std::make_unique<test::AbsentReader>());
    engine->startThread();
    engine->setMotionSystemReady(1);
    ASSERT_TRUE(test::eventually([&] { return engine->gameConnected.load(); }, 20000));
    EXPECT_EQ(engine->sources.presentGame(), kMsfs2020);
    int client = -1;
    ASSERT_TRUE(test::eventually([&] {
        for (int c = server.clientCount() - 1; c >= 0; --c)
            if (server.requests(c).size() == 24) return (client = c) >= 0;
        return false;
    }));

    std::atomic<int> onGround{0};
    std::atomic<bool> feeding{true};
    std::thread feeder([&] {
        double v[15] = {};
        v[14] = 0.05;  // a little nose up
        while (feeding && server.send(client, Server::data(v, onGround.load(), onGround.load()))) platform::sleepMs(2);
    });

    EXPECT_TRUE(test::eventually([&] {
        for (const AccelerationSnapshot& s : engine->takeAccelerationHistory())
            if (s.values[kPitchPosition] < -2.8) return true;
        return false;
    }));
    EXPECT_EQ(engine->activeGroundState.load(), 0);
    EXPECT_EQ(engine->airWeight.load(), 1.0);

    onGround = 1;  // landing
    EXPECT_TRUE(test::eventually([&] { return engine->activeGroundState.load() == 1; }));
    EXPECT_TRUE(test::eventually([&] { return engine->groundWeight.load() == 1.0 && engine->airWeight.load() == 0.0; }));

    onGround = 0;  // take-off
    EXPECT_TRUE(test::eventually([&] { return engine->activeGroundState.load() == 0; }));
    EXPECT_TRUE(test::eventually([&] { return engine->airWeight.load() == 1.0 && engine->groundWeight.load() == 0.0; }));

    feeding = false;
    feeder.join();

    // A broken connection (the simulator crashed) ends the game as a quit
    // does: once the engine's misses run out it closes the source, and the
    // simulator's process still being there, detection attaches again.
    for (const bool broken : {true, false}) {
        SCOPED_TRACE(broken ? "broken connection" : "quit");
        const int clientsBefore = server.clientCount();
        if (broken) server.drop(client);
        else ASSERT_TRUE(server.send(client, Server::quit()));
        const std::int64_t endedAt = platform::counterNow();
        EXPECT_TRUE(test::eventually([&] { return server.clientClosed(client); }));
        ASSERT_TRUE(test::eventually([&] {
            for (int c = server.clientCount() - 1; c >= clientsBefore; --c)
                if (server.requests(c).size() == 24) return (client = c) >= 0;
            return false;
        }, 30000)) << "attached again";
        const double ms = static_cast<double>(platform::counterNow() - endedAt) * 1000.0 /
                          static_cast<double>(platform::counterFrequency());
        EXPECT_GT(ms, 1500.0) << "more than 1000 misses at 2 ms each";
        EXPECT_TRUE(test::eventually([&] { return engine->gameConnected.load(); }));
    }
    engine->stopThread();
}

INSTANTIATE_TEST_SUITE_P(Transports, FlightSimThroughTheEngine, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Pipe" : "Tcp"; });

}  // namespace
}  // namespace rez
