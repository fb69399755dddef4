#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <utility>

namespace rez::platform {

namespace {

// Last path component of argv[0], split at both kinds of separator.
std::string exeNameFromCmdline(const std::string& cmdline) {
    std::string argv0 = cmdline.substr(0, cmdline.find('\0'));
    std::size_t cut = argv0.find_last_of("/\\");
    return cut == std::string::npos ? argv0 : argv0.substr(cut + 1);
}

// A process's command line, or nothing when it is gone. A process that ends
// while it is read makes the read fail (ESRCH): with plain reads that is an
// empty line, where a file stream would throw out of the detection.
std::string readCmdline(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::string cmdline;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (n < 0) {
            if (errno == EINTR) continue;
            cmdline.clear();
            break;
        }
        cmdline.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return cmdline;
}

}  // namespace

std::optional<std::vector<std::string>> processNames() {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return std::nullopt;
    std::vector<std::string> names;
    while (dirent* entry = readdir(proc)) {
        if (!std::isdigit(static_cast<unsigned char>(entry->d_name[0]))) continue;
        const std::string cmdline = readCmdline(std::string("/proc/") + entry->d_name + "/cmdline");
        if (cmdline.empty()) continue;  // kernel threads and zombies have none
        names.push_back(exeNameFromCmdline(cmdline));
    }
    closedir(proc);
    return names;
}

ChildProcess::~ChildProcess() { kill(); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        kill();
        pid_ = std::exchange(other.pid_, -1);
    }
    return *this;
}

bool ChildProcess::start(const std::string& exePath, const std::string& argv0, const std::vector<std::string>& args) {
    kill();
    std::vector<std::string> strings;
    strings.push_back(argv0.empty() ? exePath : argv0);
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        execv(exePath.c_str(), argv.data());
        _exit(127);
    }
    pid_ = pid;
    return true;
}

void ChildProcess::kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

bool ChildProcess::running() const {
    if (pid_ <= 0) return false;
    int status = 0;
    return waitpid(pid_, &status, WNOHANG) == 0;
}

}  // namespace rez::platform
