#pragma once
// Shared pieces of the SimConnect tests: a private folder that stands for the
// common and user documents (and, on request, the current directory), so
// that no "SimConnect.cfg" of the machine takes part, and a polling wait.
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/clock.h"
#include "platform/environment.h"

namespace rez::test {

class ConfigFolders {
public:
    ConfigFolders() {
        static int counter = 0;
        root_ = std::filesystem::temp_directory_path() /
                ("rez_simconnect_" + std::to_string(platform::counterNow()) + "_" + std::to_string(++counter));
        for (const char* sub : {"common", "user", "current"}) std::filesystem::create_directories(root_ / sub);
        saveEnv("REZ_COMMON_DOCUMENTS_DIR", savedCommon_);
        saveEnv("REZ_DOCUMENTS_DIR", savedUser_);
        platform::setEnvironmentVariable("REZ_COMMON_DOCUMENTS_DIR", (root_ / "common").string());
        platform::setEnvironmentVariable("REZ_DOCUMENTS_DIR", (root_ / "user").string());
        savedCwd_ = std::filesystem::current_path();
    }
    // Makes "current" the current directory until the end of the test (the
    // Windows child-game helper is found relative to the build folder, so
    // tests that start games stay there).
    void enterCurrent() const { std::filesystem::current_path(root_ / "current"); }
    ~ConfigFolders() {
        std::filesystem::current_path(savedCwd_);
        restoreEnv("REZ_COMMON_DOCUMENTS_DIR", savedCommon_);
        restoreEnv("REZ_DOCUMENTS_DIR", savedUser_);
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    // Writes (or with empty text removes) SimConnect.cfg in "common", "user" or "current".
    void write(const std::string& folder, const std::string& text) const {
        const auto path = root_ / folder / "SimConnect.cfg";
        if (text.empty()) {
            std::error_code ec;
            std::filesystem::remove(path, ec);
            return;
        }
        std::ofstream(path, std::ios::trunc) << text;
    }
    std::string path(const std::string& folder) const { return (root_ / folder).string(); }

private:
    static void saveEnv(const char* name, std::string& saved) {
        auto v = platform::environmentVariable(name);
        saved = v ? *v : std::string();
    }
    static void restoreEnv(const char* name, const std::string& saved) {
        if (saved.empty())
            platform::unsetEnvironmentVariable(name);
        else
            platform::setEnvironmentVariable(name, saved);
    }
    std::filesystem::path root_;
    std::filesystem::path savedCwd_;
    std::string savedCommon_, savedUser_;
};

// Polls until the condition holds or `ms` of wall time have passed.
template <class F>
bool eventually(F condition, int ms = 10000) {
    const std::int64_t end = platform::counterNow() + platform::counterFrequency() * ms / 1000;
    while (platform::counterNow() < end) {
        if (condition()) return true;
        platform::sleepMs(2);
    }
    return condition();
}

}  // namespace rez::test
