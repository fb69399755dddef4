#include "platform/thread_name.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace rez::platform {

namespace {

// The kernel keeps 15 characters and refuses a longer name outright.
constexpr std::size_t kNameRoom = 16;

void setName(const char* name) {
    char cut[kNameRoom] = {};
    std::strncpy(cut, name, kNameRoom - 1);
    pthread_setname_np(pthread_self(), cut);  // a refusal leaves the old name: harmless
}

// A small /proc file in one go; "" when the thread has gone meanwhile.
std::string readSmallFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    char buffer[1024];
    ssize_t n;
    do n = ::read(fd, buffer, sizeof buffer - 1);
    while (n < 0 && errno == EINTR);
    ::close(fd);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// schedstat's first field is the time on a CPU in nanoseconds. Kernels built
// without scheduler statistics lack the file; there stat's utime and stime
// (fields 14 and 15, in clock ticks) give the same at a coarser grain.
std::int64_t threadCpuNs(const std::string& task) {
    const std::string schedstat = readSmallFile(task + "/schedstat");
    if (!schedstat.empty()) return std::strtoll(schedstat.c_str(), nullptr, 10);
    const std::string stat = readSmallFile(task + "/stat");
    // The name in field 2 may hold spaces and parentheses: count from its end.
    const std::size_t nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos) return -1;
    char state = 0;
    long long utime = 0, stime = 0;
    if (std::sscanf(stat.c_str() + nameEnd + 1, " %c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lld %lld", &state, &utime,
                    &stime) != 3)
        return -1;
    const long perSecond = sysconf(_SC_CLK_TCK);
    if (perSecond <= 0) return -1;
    return (utime + stime) * (1'000'000'000LL / perSecond);
}

}  // namespace

void nameThisThread(const char* name) { setName(name); }

std::string thisThreadName() {
    char name[kNameRoom] = {};
    if (pthread_getname_np(pthread_self(), name, sizeof name) != 0) return {};
    return name;
}

LentThreadName::LentThreadName(const char* name) {
    char old[kNameRoom] = {};
    restore_ = pthread_getname_np(pthread_self(), old, sizeof old) == 0;
    previous_ = old;
    setName(name);
}

LentThreadName::~LentThreadName() {
    if (restore_) setName(previous_.c_str());
}

std::vector<ThreadCpu> libraryThreadsCpu() {
    std::vector<ThreadCpu> threads;
    DIR* tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr) return threads;
    const std::size_t prefix = std::strlen(kLibraryThreadPrefix);
    while (const dirent* entry = ::readdir(tasks)) {
        char* end = nullptr;
        const unsigned long long tid = std::strtoull(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0') continue;
        const std::string task = std::string("/proc/self/task/") + entry->d_name;
        std::string name = readSmallFile(task + "/comm");
        if (!name.empty() && name.back() == '\n') name.pop_back();
        if (name.compare(0, prefix, kLibraryThreadPrefix) != 0) continue;
        const std::int64_t cpuNs = threadCpuNs(task);
        if (cpuNs < 0) continue;  // ended while it was read
        threads.push_back({name, cpuNs, tid});
    }
    ::closedir(tasks);
    return threads;
}

}  // namespace rez::platform
