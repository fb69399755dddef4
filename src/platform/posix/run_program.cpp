#include "platform/run_program.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

#include "platform/clock.h"

extern char** environ;

namespace rez::platform {

ProgramEnd runProgram(const std::string& exePath, const std::vector<std::string>& args, int timeoutMs) {
    ProgramEnd end;
    std::vector<std::string> texts;
    texts.push_back(exePath);
    texts.insert(texts.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int error = posix_spawn(&pid, exePath.c_str(), nullptr, nullptr, argv.data(), environ);
    if (error != 0) {
        end.whyNot = std::strerror(error);
        return end;
    }
    end.started = true;
    const std::int64_t deadline = counterNow() + counterFrequency() * timeoutMs / 1000;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) {
            end.whyNot = std::strerror(errno);
            return end;
        }
        if (counterNow() > deadline) {
            end.timedOut = true;
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            break;
        }
        sleepMs(5);
    }
    if (WIFEXITED(status))
        end.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        end.exitCode = 128 + WTERMSIG(status);
    return end;
}

}  // namespace rez::platform
