#include "tests/support/child_game.h"

#include <cstdint>
#include <filesystem>
#include <system_error>

#include "platform/clock.h"

namespace rez::test {

namespace fs = std::filesystem;

std::string helperPath(const std::string& name) {
#if defined(_WIN32)
    return name + ".exe";  // tests run in the build folder
#else
    return std::string(REZ_TEST_HELPER_DIR) + "/" + name;
#endif
}

ChildGame::ChildGame(const std::string& exeName) : exeName_(exeName) {
#if defined(_WIN32)
    fs::path dir = fs::temp_directory_path() / "rez_games";
    std::error_code ec;
    fs::create_directories(dir, ec);
    copy_ = (dir / exeName).string();
    fs::copy_file(helperPath("rez_sleeper"), copy_, fs::copy_options::overwrite_existing, ec);
    if (ec) return;
    started_ = child_.start(copy_, exeName, {"60"});
#else
    started_ = child_.start(helperPath("rez_sleeper"), exeName, {"60"});
#endif
    if (started_) started_ = waitForProcess(exeName);
}

ChildGame::~ChildGame() {
    child_.kill();
    // A later test must not still find the game in the process list.
    if (started_) waitForProcess(exeName_, false);
    if (!copy_.empty()) {
        std::error_code ec;
        for (int i = 0; i < 50 && fs::exists(copy_, ec); ++i) {
            fs::remove(copy_, ec);
            if (!ec) break;
            platform::sleepMs(20);
        }
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

}  // namespace rez::test
