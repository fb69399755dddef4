#pragma once
// Process list by executable name, and child processes for tests and tools.
#include <optional>
#include <string>
#include <vector>

namespace rez::platform {

// Executable file names of all running processes, or nothing when the
// snapshot cannot be taken. Windows: Toolhelp32 exe names. Linux: the last
// path component of argv[0] (split at '/' and '\'), so a Windows game run
// through a compatibility layer shows up by its ".exe" name.
std::optional<std::vector<std::string>> processNames();

// Fresh snapshot; exact, case-sensitive comparison. No snapshot = not running.
bool isProcessRunning(const std::string& exeName);

// A child process started from an executable file. On Linux `argv0` becomes
// the child's argv[0] (so a helper can pose as "DCS.exe"); on Windows the
// process name is the file name, so callers copy the helper to that name.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;

    bool start(const std::string& exePath, const std::string& argv0, const std::vector<std::string>& args);
    // Ends the child at once and waits for it.
    void kill();
    bool running() const;

private:
#if defined(_WIN32)
    void* process_ = nullptr;
#else
    int pid_ = -1;
#endif
};

}  // namespace rez::platform
