#pragma once
// Names for the library's threads, so that a debugger, `top -H`, Process
// Explorer and our own CPU figures can tell them apart, and what each named
// thread has cost in CPU so far.
#include <cstdint>
#include <string>
#include <vector>

namespace rez::platform {

// Every thread of the library is named with this prefix, and only those are
// counted by libraryThreadsCpu().
inline constexpr const char* kLibraryThreadPrefix = "rez-";

// Names the calling thread. Linux keeps the first 15 characters; a Windows
// without SetThreadDescription (before Windows 10 1607, some Wine versions)
// leaves the thread unnamed.
void nameThisThread(const char* name);

// The calling thread's name, "" when it has none or it cannot be read.
std::string thisThreadName();

// For a loop that runs on a thread the host lent: names the thread while the
// loop lives and gives it its own name back when the loop returns.
class LentThreadName {
public:
    explicit LentThreadName(const char* name);
    ~LentThreadName();
    LentThreadName(const LentThreadName&) = delete;
    LentThreadName& operator=(const LentThreadName&) = delete;

private:
    std::string previous_;
    bool restore_ = false;
};

struct ThreadCpu {
    std::string name;
    std::int64_t cpuNs = 0;  // user and kernel time since the thread began
    std::uint64_t id = 0;    // the system's thread id, to pair two samples of one thread
};

// Every thread of this process whose name begins with kLibraryThreadPrefix,
// each listed on its own even when several share a name. Empty where thread
// names cannot be read.
std::vector<ThreadCpu> libraryThreadsCpu();

}  // namespace rez::platform
