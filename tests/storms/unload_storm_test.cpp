// Load/unload cycles with every thread left running: a host program
// (storm_host) lends threads to the loops, starts the game-source thread and
// unloads the library under them, many times over. It must end cleanly.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "platform/run_program.h"
#include "tests/lifecycle/host_run.h"

namespace rez {
namespace {

TEST(Storms, UnloadingUnderRunningThreadsEndsCleanly) {
    const char* cyclesText = std::getenv("REZ_STORM_CYCLES");
    const int cycles = cyclesText != nullptr && std::atoi(cyclesText) > 0 ? std::atoi(cyclesText) : 40;
    const char* seedText = std::getenv("REZ_STORM_SEED");
    const std::string seed = seedText != nullptr ? seedText : std::to_string(std::random_device{}() >> 1);
    std::printf("storm_host seed %s\n", seed.c_str());
    const std::vector<std::string> args = {test::shippedLibraryPath(), std::to_string(cycles), seed};
    const platform::ProgramEnd end = platform::runProgram(test::helperPath("storm_host"), args, 5 * 60 * 1000);
    ASSERT_TRUE(end.started) << end.whyNot;
    EXPECT_FALSE(end.timedOut) << "storm_host hung (seed " << seed << ")";
    EXPECT_EQ(end.exitCode, 0) << "storm_host " << cycles << " cycles, seed " << seed;
}

}  // namespace
}  // namespace rez
