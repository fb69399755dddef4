#pragma once
// Runs a program to its end and reports how it ended (tests start hosts of
// the library this way and judge their exit).
#include <string>
#include <vector>

namespace rez::platform {

struct ProgramEnd {
    bool started = false;
    bool timedOut = false;  // still running after the time limit: it was killed
    // Exit status; on Linux 128 + the signal number for a program ended by a
    // signal, on Windows the process exit code (an exception code for a crash).
    long exitCode = -1;
    std::string whyNot;     // when it could not be started
};

// The child inherits this process's environment and standard streams.
ProgramEnd runProgram(const std::string& exePath, const std::vector<std::string>& args, int timeoutMs);

}  // namespace rez::platform
