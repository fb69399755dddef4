// Telemetry servers that drop the connection in the middle of a message while
// the engine ticks on them: the half message is never used, and the engine
// goes on as the source's design says.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "sim/fake_nolimits_server.h"
#include "sim/fake_simconnect_server.h"
#include "sources/tcp/nolimits_ride.h"
#include "tests/faults/fault_util.h"
#include "tests/simconnect/simconnect_test_util.h"
#include "tests/support/child_game.h"

namespace rez {
namespace {

NoLimitsTelemetry riding(std::int32_t frame) {
    NoLimitsTelemetry t;
    t.state = 1;
    t.frame = frame;
    t.speed = 12.5f;
    t.gForce = {0, 1, 0};
    return t;
}

// The server has quit mid-reply: the engine misses its samples, lets the game
// go after more than 1000 empty ticks, finds the server again and rides on.
TEST(ServerDrop, NoLimitsReplyCutByTheServerIsNeverUsedAndTheEngineReconnects) {
    noLimitsRide() = {};
    sim::FakeNoLimitsServer server;
    ASSERT_TRUE(server.listening());
    auto engine = std::make_unique<GamesourceEngine>();
    faults::keepOnly(engine->sources, {kNoLimits2});

    // Keeps a few replies queued, each with the next frame number.
    std::atomic<std::int32_t> nextFrame{1};
    std::atomic<bool> feeding{true}, running{true};
    std::thread feeder([&] {
        while (running) {
            if (feeding && server.queued() < 3) server.queueTelemetry(riding(nextFrame++));
            platform::sleepMs(1);
        }
    });
    std::vector<double> framesSeen;
    auto collect = [&] {
        for (const AccelerationSnapshot& s : engine->takeAccelerationHistory()) framesSeen.push_back(s.values[kLandingGear]);
    };
    auto seesFrameFrom = [&](double first) {
        return faults::eventually(
            [&] {
                collect();
                return !framesSeen.empty() && framesSeen.back() >= first;
            },
            30000);
    };

    testing::internal::CaptureStderr();  // the client reports its failed sends there
    engine->startThread();
    engine->setMotionSystemReady(1);
    ASSERT_TRUE(faults::eventually([&] { return engine->gameConnected.load(); }, 20000));
    EXPECT_TRUE(seesFrameFrom(5)) << "the ride drives the engine";

    // Half of the next reply goes out, then the server closes the connection.
    feeding = false;
    ASSERT_TRUE(faults::eventually([&] { return server.queued() == 0; }));
    const long sendsBefore = server.sends();
    constexpr std::int32_t kCutFrame = 900000;
    server.queueSplitReply(sim::telemetryReply(riding(kCutFrame)), 40);
    ASSERT_TRUE(server.waitForSends(sendsBefore + 1));
    server.closeConnections();
    const long acceptedBefore = server.connectionsAccepted();

    EXPECT_TRUE(faults::eventually(
        [&] {
            collect();
            return !engine->gameConnected.load();
        },
        30000))
        << "a server that stopped answering is let go";
    nextFrame = kCutFrame + 1;
    feeding = true;
    EXPECT_TRUE(seesFrameFrom(kCutFrame + 1)) << "found again and riding on";
    EXPECT_GT(server.connectionsAccepted(), acceptedBefore);
    engine->stopThread();
    running = false;
    feeder.join();
    testing::internal::GetCapturedStderr();
    collect();
    for (double frame : framesSeen) ASSERT_NE(frame, static_cast<double>(kCutFrame)) << "the half reply was used";
}

// The simulator goes away without a quit message, half-way through a data
// message: nothing of the half message shows, the engine lets the broken
// connection go once its misses run out, and finds the simulator again when
// it listens anew (the stand-in never stopped listening, as a restarted
// simulator listens where it did before).
TEST(ServerDrop, SimConnectDataMessageCutByTheServerIsNeverUsedAndTheSimulatorIsFoundAgain) {
    using Server = sim::FakeSimConnectServer;
    test::ConfigFolders folders;
    Server server;
    ASSERT_TRUE(server.listening());
    folders.write("user", server.configText());
    test::ChildGame sim("FlightSimulator.exe");
    ASSERT_TRUE(sim.started());

    auto engine = std::make_unique<GamesourceEngine>();
    faults::keepOnly(engine->sources, {kMsfs2020, kMsfs2024});
    engine->startThread();
    engine->setMotionSystemReady(1);
    ASSERT_TRUE(faults::eventually([&] { return engine->gameConnected.load(); }, 20000));
    int client = -1;
    ASSERT_TRUE(faults::eventually([&] {
        for (int c = server.clientCount() - 1; c >= 0; --c)
            if (server.requests(c).size() == 24) return (client = c) >= 0;
        return false;
    }));

    double whole[15] = {};
    whole[12] = 0.5;  // heading, radians
    double cut[15] = {};
    cut[12] = 1.5;
    for (int i = 0; i < 15; ++i) cut[i] += 0.25;
    const double wholeYaw = 0.5 * 180.0 / 3.14159265358979;
    ASSERT_TRUE(server.send(client, Server::data(whole, 0, 0)));
    ASSERT_TRUE(faults::eventually([&] {
        const auto history = engine->takeAccelerationHistory();
        return !history.empty() && history.back().values[kYawPosition] == wholeYaw;
    }));

    const std::vector<std::uint8_t> message = Server::data(cut, 1, 1);
    ASSERT_TRUE(server.send(client, std::vector<std::uint8_t>(message.begin(), message.begin() + 100)));
    server.drop(client);

    bool onlyWhole = true;
    EXPECT_TRUE(faults::eventually(
        [&] {
            for (const AccelerationSnapshot& s : engine->takeAccelerationHistory())
                onlyWhole = onlyWhole && s.values[kYawPosition] == wholeYaw;
            const int newest = server.clientCount() - 1;
            return newest > client && server.requests(newest).size() == 24;
        },
        30000))
        << "the broken connection is let go and the simulator found again";
    EXPECT_TRUE(onlyWhole) << "only the last whole sample stands";
    EXPECT_EQ(engine->activeGroundState.load(), 0) << "the half message's ground state was not taken";
    engine->stopThread();
}

}  // namespace
}  // namespace rez
