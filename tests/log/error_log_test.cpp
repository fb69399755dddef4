// The diagnostic log as its readers and other writers see the file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "log/error_log.h"
#include "platform/environment.h"
#include "platform/local_time.h"

namespace rez {
namespace {

namespace fs = std::filesystem;

#if defined(_WIN32)
const std::string kLineEnd = "\r\n";
#else
const std::string kLineEnd = "\n";
#endif

// Points the log at a fresh folder of its own and puts the environment back
// afterwards.
class ErrorLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"REZ_DOCUMENTS_DIR", "XDG_DOCUMENTS_DIR", "XDG_STATE_HOME", "HOME"})
            saved_[name] = platform::environmentVariable(name);
        root_ = fs::temp_directory_path() /
                ("rez_log_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_);
        platform::setEnvironmentVariable("REZ_DOCUMENTS_DIR", root_.string());
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            if (value)
                platform::setEnvironmentVariable(name, *value);
            else
                platform::unsetEnvironmentVariable(name);
        }
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    std::string fileText() const {
        std::ifstream in(root_ / "rovandelix" / "errorlog.txt", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path root_;
    std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(ErrorLogTest, LinesCarryTagTimeAndMessageAndLaterLogsAppend) {
    const std::string before = platform::localTimeText("%Y-%m-%d %H:%M:%S");
    {
        ErrorLog first("error_log.txt");
        EXPECT_TRUE(first.isOpen()) << "the missing folder is made";
        first.logInfo("Port 53241 opened successfully.");
    }
    {
        ErrorLog second("another name, same file");
        second.logError("two\nlines");
    }
    const std::string after = platform::localTimeText("%Y-%m-%d %H:%M:%S");

    const std::regex line(R"(\[(INFO|ERROR)\] \[(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\] )");
    struct Expected {
        std::string tag;
        std::string message;
    };
    const std::vector<Expected> expected = {{"INFO", "Port 53241 opened successfully."},
                                            {"ERROR", "two" + kLineEnd + "lines"}};
    std::string text = fileText();
    for (const auto& entry : expected) {
        std::smatch match;
        ASSERT_TRUE(std::regex_search(text, match, line, std::regex_constants::match_continuous)) << text;
        EXPECT_EQ(match[1].str(), entry.tag);
        EXPECT_LE(before, match[2].str());
        EXPECT_GE(after, match[2].str());
        text = match.suffix();
        const std::string body = entry.message + kLineEnd;
        ASSERT_EQ(text.substr(0, body.size()), body);
        text = text.substr(body.size());
    }
    EXPECT_EQ(text, "") << "nothing but the two entries";
}

// Two objects on several threads each: every line arrives whole, none lost,
// each writer's lines in the order it wrote them.
TEST_F(ErrorLogTest, WritersSharingTheFileInterleaveWholeLines) {
    constexpr int kThreads = 4;
    constexpr int kLines = 1000;
    const std::string padding(150, 'x');
    {
        ErrorLog a("a");
        ErrorLog b("b");
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                ErrorLog& log = t % 2 == 0 ? a : b;
                for (int i = 0; i < kLines; ++i) {
                    const std::string message = "w" + std::to_string(t) + " n" + std::to_string(i) + " " + padding;
                    t < 2 ? log.logInfo(message) : log.logError(message);
                }
            });
        }
        for (auto& thread : threads) thread.join();
    }
    std::istringstream lines(fileText());
    const std::regex whole(R"(\[(INFO|ERROR)\] \[[0-9: -]{19}\] w(\d) n(\d+) x{150}\r?)");
    std::vector<int> next(kThreads, 0);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, whole)) << "line " << count << ": " << line;
        const int t = std::stoi(match[2]);
        EXPECT_EQ(match[1].str(), t < 2 ? "INFO" : "ERROR");
        EXPECT_EQ(std::stoi(match[3]), next[t]) << "writer " << t;
        next[t] = std::stoi(match[3]) + 1;
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
}

// A log that cannot reach its file says so on standard error, once at
// construction and once per entry, and writes nothing.
TEST_F(ErrorLogTest, UnreachableFileIsReportedOnStandardError) {
    struct Case {
        const char* what;
        bool linuxOnly;
        std::function<void(const fs::path&)> arrange;
        const char* atConstruction;
    };
    const std::vector<Case> cases = {
        {"a directory in the file's place", false,
         [](const fs::path& root) { fs::create_directories(root / "rovandelix" / "errorlog.txt"); },
         "Failed to open log file\n"},
        {"a Documents folder that cannot be made (a file in its path)", false,
         [](const fs::path& root) {
             std::ofstream(root / "afile") << "x";
             platform::setEnvironmentVariable("REZ_DOCUMENTS_DIR", (root / "afile" / "deeper").string());
         },
         "Failed to open log file\n"},
        {"no Documents folder at all", true,
         [](const fs::path&) {
             for (const char* name : {"REZ_DOCUMENTS_DIR", "XDG_DOCUMENTS_DIR", "XDG_STATE_HOME", "HOME"})
                 platform::unsetEnvironmentVariable(name);
         },
         "Failed to retrieve the Documents path\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
#if defined(_WIN32)
        if (c.linuxOnly) continue;  // the shell always knows a Documents folder
#endif
        TearDown();
        SetUp();
        c.arrange(root_);
        ::testing::internal::CaptureStderr();
        {
            ErrorLog log("error_log.txt");
            EXPECT_FALSE(log.isOpen());
            log.logInfo("lost");
            log.logError("lost too");
        }
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), std::string(c.atConstruction) +
                                                               "Log failed: Unable to write to log file.\n"
                                                               "Log failed: Unable to write to log file.\n");
        EXPECT_FALSE(fs::is_regular_file(root_ / "rovandelix" / "errorlog.txt"));
    }
}

#if !defined(_WIN32)
// Which folder the log uses when no override is set: the documents folder
// when it exists, else the XDG state folder, made with its parents (a fresh
// machine has neither).
TEST_F(ErrorLogTest, LogFolderFollowsTheUsersSettings) {
    struct Case {
        const char* xdg;    // XDG_DOCUMENTS_DIR under the test's folder; null: unset
        const char* state;  // XDG_STATE_HOME likewise
        const char* home;
        bool documentsThere;  // whether the documents folder exists beforehand
        fs::path expected;
    };
    const std::vector<Case> cases = {
        {"xdg", nullptr, "home", true, "xdg"},
        {nullptr, nullptr, "home", true, fs::path("home") / "Documents"},
        {"", nullptr, "home", true, fs::path("home") / "Documents"},
        {nullptr, nullptr, "bare", false, fs::path("bare") / ".local" / "state"},
        {"gone", "state/deep", "home2", false, fs::path("state") / "deep"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected.string());
        platform::unsetEnvironmentVariable("REZ_DOCUMENTS_DIR");
        for (const auto& [name, value] : {std::pair{"XDG_DOCUMENTS_DIR", c.xdg}, std::pair{"XDG_STATE_HOME", c.state}}) {
            if (value == nullptr)
                platform::unsetEnvironmentVariable(name);
            else
                platform::setEnvironmentVariable(name, *value ? (root_ / value).string() : "");
        }
        platform::setEnvironmentVariable("HOME", (root_ / c.home).string());
        if (c.documentsThere) fs::create_directories(root_ / c.expected);
        ErrorLog("error_log.txt").logInfo("here");
        EXPECT_TRUE(fs::is_regular_file(root_ / c.expected / "rovandelix" / "errorlog.txt"));
        fs::remove_all(root_ / c.expected / "rovandelix");
    }
}
#else
// Without the override the shell's Documents folder takes the log.
TEST_F(ErrorLogTest, DocumentsFolderComesFromTheShell) {
    platform::unsetEnvironmentVariable("REZ_DOCUMENTS_DIR");
    const std::string marker =
        "shell folder " + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    ErrorLog("error_log.txt").logInfo(marker);
    const std::string path = ErrorLog::filePath();
    ASSERT_FALSE(path.empty());
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find(marker), std::string::npos) << path;
}
#endif

}  // namespace
}  // namespace rez
