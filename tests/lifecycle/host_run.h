#pragma once
// Runs tests/helpers/hosts/lifecycle_host on the shipped library as a child
// process and describes how it ended.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/run_program.h"
#include "tests/support/child_game.h"

namespace rez::test {

inline std::string shippedLibraryPath() {
#if defined(_WIN32)
    return "rezadedudid.dll";  // tests run in the build folder
#else
    return REZ_LIBRARY_PATH;
#endif
}

// The host is built beside the tests; a test run from another folder (as the
// Wine serial script does) finds it beside its own executable.
inline std::string lifecycleHostPath() {
    const std::string path = helperPath("lifecycle_host");
    if (std::filesystem::exists(path)) return path;
    const std::vector<std::string> argv = testing::internal::GetArgvs();
    if (argv.empty()) return path;
    return (std::filesystem::path(argv[0]).parent_path() / std::filesystem::path(path).filename()).string();
}

// A clean run ends within a second or two; the limit only catches a hang.
// Wine now and then refuses to create a process (error 1359); what is judged
// is how the host ends, so a host that never started is started again.
inline platform::ProgramEnd runLifecycleHost(std::vector<std::string> args) {
    args.insert(args.begin(), shippedLibraryPath());
    platform::ProgramEnd end;
    for (int attempt = 0; attempt < 3 && !end.started; ++attempt)
        end = platform::runProgram(lifecycleHostPath(), args, 30000);
    return end;
}

inline std::string describe(const std::vector<std::string>& args, const platform::ProgramEnd& end) {
    std::string text = "lifecycle_host";
    for (const std::string& arg : args) text += " " + arg;
    if (!end.started) return text + ": not started (" + end.whyNot + ")";
    if (end.timedOut) return text + ": still running after 30 s (hung)";
    return text + ": exit code " + std::to_string(end.exitCode);
}

}  // namespace rez::test
