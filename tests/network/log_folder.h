#pragma once
// Points the diagnostic log at a fresh folder for one test, and reads back
// its entries without their time stamps.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "platform/environment.h"

namespace rez::test {

class LogFolder {
public:
    LogFolder()
        : saved_(platform::environmentVariable("REZ_DOCUMENTS_DIR")),
          root_(std::filesystem::temp_directory_path() /
                ("rez_net_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()))) {
        std::filesystem::create_directories(root_);
        platform::setEnvironmentVariable("REZ_DOCUMENTS_DIR", root_.string());
    }
    ~LogFolder() {
        saved_ ? platform::setEnvironmentVariable("REZ_DOCUMENTS_DIR", *saved_)
               : platform::unsetEnvironmentVariable("REZ_DOCUMENTS_DIR");
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    const std::filesystem::path& root() const { return root_; }

    // "[INFO] text" per line of the file, in file order.
    std::vector<std::string> entries() const {
        std::ifstream in(root_ / "rovandelix" / "errorlog.txt");
        const std::regex line(R"(\[(INFO|ERROR)\] \[[0-9: -]{19}\] (.*?)\r?)");
        std::vector<std::string> out;
        std::string text;
        while (std::getline(in, text)) {
            std::smatch match;
            out.push_back(std::regex_match(text, match, line) ? "[" + match[1].str() + "] " + match[2].str()
                                                              : "unreadable: " + text);
        }
        return out;
    }

private:
    std::optional<std::string> saved_;
    std::filesystem::path root_;
};

}  // namespace rez::test
