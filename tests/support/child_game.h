#pragma once
// Starts the sleeper helper so that the process list shows a game's
// executable name: on Linux through argv[0], on Windows through a copy of the
// helper under that name (the process name there is the file name).
#include <string>

#include "platform/process.h"

namespace rez::test {

class ChildGame {
public:
    explicit ChildGame(const std::string& exeName);
    ~ChildGame();
    bool started() const { return started_; }

private:
    platform::ChildProcess child_;
    std::string exeName_;
    std::string copy_;
    bool started_ = false;
};

// Waits until the process list shows `exeName`, or no longer shows it
// (`present` false); gives up after 20 s.
bool waitForProcess(const std::string& exeName, bool present = true);

// Path of a helper program built beside the tests.
std::string helperPath(const std::string& name);

}  // namespace rez::test
