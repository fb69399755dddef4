#include "sim/game_process.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "platform/clock.h"

namespace rez::sim {

namespace fs = std::filesystem;

namespace {

struct HolderSetting {
    std::mutex mutex;
    ProcessHolder holder;
};

HolderSetting& holderSetting() {
    static HolderSetting setting;
    return setting;
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A folder of its own for each copy, so that two programs playing the same
// game never share (or delete) one file.
[[maybe_unused]] fs::path copyFolder() {
    static std::atomic<int> counter{0};
    return fs::temp_directory_path() / "rez_games" /
           (std::to_string(platform::counterNow()) + "_" + std::to_string(++counter));
}

}  // namespace

void setProcessHolder(const ProcessHolder& holder) {
    std::lock_guard<std::mutex> lock(holderSetting().mutex);
    holderSetting().holder = holder;
}

ProcessHolder processHolder() {
    std::lock_guard<std::mutex> lock(holderSetting().mutex);
    return holderSetting().holder;
}

ProcessHolder simulatorHolderBeside(const std::string& program) {
    const std::string::size_type cut = program.find_last_of("/\\");
    const std::string folder = cut == std::string::npos ? std::string() : program.substr(0, cut + 1);
    const bool exe = endsWith(program, ".exe") || endsWith(program, ".EXE");
    return {folder + "rezadedudid-sim" + (exe ? ".exe" : ""), {"--hold"}};
}

bool GameProcess::start(const std::string& exeName, const ProcessHolder& holder, std::string& error) {
    stop();
    if (holder.program.empty()) {
        error = "no program to stand for the process " + exeName;
        return false;
    }
    std::string program = holder.program;
#if defined(_WIN32)
    // Windows lists a process by its file name: the holder runs from a copy
    // named like the game. Elsewhere argv[0] gives the name.
    std::error_code ec;
    const fs::path folder = copyFolder();
    fs::create_directories(folder, ec);
    copy_ = (folder / exeName).string();
    fs::copy_file(holder.program, copy_, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        error = "cannot copy " + holder.program + " to " + copy_ + ": " + ec.message();
        stop();
        return false;
    }
    program = copy_;
#endif
    exeName_ = exeName;
    if (!child_.start(program, exeName, holder.args)) {
        error = "cannot start " + program;
        stop();
        return false;
    }
    started_ = true;
    if (!waitForProcess(exeName)) {
        error = "the process list does not show " + exeName;
        stop();
        return false;
    }
    return true;
}

void GameProcess::stop() {
    child_.kill();
    if (started_) waitForProcess(exeName_, false);
    started_ = false;
    if (!copy_.empty()) {
        // Windows may hold the file a little after the process ended.
        std::error_code ec;
        const fs::path folder = fs::path(copy_).parent_path();
        for (int i = 0; i < 50; ++i) {
            fs::remove_all(folder, ec);
            if (!ec) break;
            platform::sleepMs(20);
        }
        copy_.clear();
    }
}

bool waitForProcess(const std::string& exeName, bool present) {
    // Wall time, generous: a loaded machine (and Wine) can take seconds to
    // start or reap a process.
    const std::int64_t deadline = platform::counterNow() + platform::counterFrequency() * 20;
    do {
        if (platform::isProcessRunning(exeName) == present) return true;
        platform::sleepMs(20);
    } while (platform::counterNow() < deadline);
    return platform::isProcessRunning(exeName) == present;
}

}  // namespace rez::sim
