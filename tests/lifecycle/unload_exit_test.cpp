// Unloading the library and ending the process while the game-source thread
// runs. Each run is a host program in a child process (lifecycle_host) that
// loads the library, starts the thread and leaves without stopping it; the
// test judges only how and when the child ends.
#include <gtest/gtest.h>

#include "platform/shared_memory.h"
#include "sim/fake_simconnect_server.h"
#include "sim/game_writers.h"
#include "tests/lifecycle/host_run.h"
#include "tests/simconnect/simconnect_test_util.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

struct Case {
    const char* state;  // search, tick
    const char* end;    // unload, exit, reload
    int runs;           // child processes
    int cycles;         // load/unload cycles inside one child (reload)
};

void runCases(std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
        for (int run = 0; run < c.runs; ++run) {
            // The moment of the unload or exit moves through a detection
            // pass (about 300 ms) or a few ticks.
            const std::string delay = std::to_string(5 + 61 * run % 250);
            const std::vector<std::string> args = {c.state, c.end, std::to_string(c.cycles), delay};
            const platform::ProgramEnd end = test::runLifecycleHost(args);
            EXPECT_TRUE(end.started && !end.timedOut && end.exitCode == 0) << test::describe(args, end);
        }
    }
}

TEST(UnloadAndExit, WhileSearchingTheHostEndsCleanly) {
    platform::SharedMemory::removeName("Local\\acpmf_graphics");
    runCases({{"search", "unload", 5, 1}, {"search", "exit", 5, 1}, {"search", "reload", 1, 6}});
}

TEST(UnloadAndExit, WhileTickingTheHostEndsCleanly) {
    sim::AssettoCorsaWriter game;
    ASSERT_TRUE(game.ok());
    game.setStatus(2);
    sim::AcPhysics sample;
    sample.packetId = 1;
    sample.accG[0] = 0.25f;
    game.publish(sample);
    runCases({{"tick", "unload", 4, 1}, {"tick", "exit", 4, 1}, {"tick", "reload", 1, 3}});
}

// The flight simulator's connection is held when the host leaves: the
// library's teardown closes it and takes it off the process's client list,
// which must still exist then (it was once destroyed before the engine).
TEST(UnloadAndExit, WhileAFlightSimulatorIsConnectedTheHostEndsCleanly) {
    test::ConfigFolders folders;  // the child inherits the folders' variables
    sim::FakeSimConnectServer server;
    ASSERT_TRUE(server.listening());
    folders.write("user", server.configText());
    test::ChildGame flightSim("FlightSimulator.exe");
    ASSERT_TRUE(flightSim.started());
    runCases({{"tick", "unload", 3, 1}, {"tick", "exit", 3, 1}});
}

}  // namespace
}  // namespace rez
