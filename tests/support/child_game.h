#pragma once
// Starts the sleeper helper so that the process list shows a game's
// executable name (the simulator's game process, with the test helper as the
// program that stands for the game).
#include <string>

#include "sim/game_process.h"

namespace rez::test {

class ChildGame {
public:
    explicit ChildGame(const std::string& exeName);
    bool started() const { return process_.running(); }

private:
    sim::GameProcess process_;
};

using sim::waitForProcess;

// Path of a helper program built beside the tests.
std::string helperPath(const std::string& name);

// The sleeper helper as the holder of game processes.
sim::ProcessHolder sleeperHolder();

}  // namespace rez::test
