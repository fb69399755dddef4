#pragma once
// Makes the process list show a game's executable name, for the games whose
// detection looks for their process. A small holder program (one that only
// waits until it is ended) is started under that name: on Windows from a
// copy of it named like the game's executable, since Windows lists a process
// by its file name; on Linux with that name as its argv[0].
#include <string>
#include <vector>

#include "platform/process.h"

namespace rez::sim {

// The program that stands for a game's process, and its arguments.
struct ProcessHolder {
    std::string program;  // a path; empty: no holder known
    std::vector<std::string> args;
};

// The holder the game players use. Until one is set, games that need a
// process cannot start. The simulator sets itself (`rezadedudid-sim --hold`).
void setProcessHolder(const ProcessHolder& holder);
ProcessHolder processHolder();
// The simulator's holder beside another program of the build: the
// `rezadedudid-sim` (with `.exe` when `program` has it) in the folder of
// `program`, with "--hold".
ProcessHolder simulatorHolderBeside(const std::string& program);

class GameProcess {
public:
    GameProcess() = default;
    ~GameProcess() { stop(); }
    GameProcess(const GameProcess&) = delete;
    GameProcess& operator=(const GameProcess&) = delete;

    // Starts the holder as `exeName` and waits (up to 20 s) until the process
    // list shows it; false with the reason in `error`.
    bool start(const std::string& exeName, const ProcessHolder& holder, std::string& error);
    bool start(const std::string& exeName, std::string& error) { return start(exeName, processHolder(), error); }
    // Ends the process, waits until the list no longer shows it (a later
    // detection must not still find the game) and removes the copy.
    void stop();
    bool running() const { return started_; }

private:
    platform::ChildProcess child_;
    std::string exeName_;
    std::string copy_;
    bool started_ = false;
};

// Waits until the process list shows `exeName`, or no longer shows it
// (`present` false); gives up after 20 s.
bool waitForProcess(const std::string& exeName, bool present = true);

}  // namespace rez::sim
