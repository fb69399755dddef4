#include "log/error_log.h"

#include <cstdio>

#include "platform/documents_folder.h"
#include "platform/local_time.h"

namespace rez {

std::string ErrorLog::folderPath() {
    const std::string base = platform::logBaseFolder();
    return base.empty() ? std::string() : platform::childPath(base, "rovandelix");
}

std::string ErrorLog::filePath() {
    const std::string folder = folderPath();
    return folder.empty() ? std::string() : platform::childPath(folder, "errorlog.txt");
}

ErrorLog::ErrorLog(const std::string& /*name*/) {
    const std::string folder = folderPath();
    if (folder.empty()) {
        std::fputs("Failed to retrieve the Documents path\n", stderr);
        return;
    }
    // Its parents too: on a fresh Linux machine not even the state folder
    // exists. An existing folder is the usual case.
    platform::createFolders(folder);
    if (!file_.open(platform::childPath(folder, "errorlog.txt"))) std::fputs("Failed to open log file\n", stderr);
}

ErrorLog::~ErrorLog() = default;

bool ErrorLog::isOpen() const { return file_.isOpen(); }

void ErrorLog::logInfo(const std::string& message) { write("[INFO] [", message); }

void ErrorLog::logError(const std::string& message) { write("[ERROR] [", message); }

void ErrorLog::write(const char* tag, const std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_.isOpen()) {
        std::fputs("Log failed: Unable to write to log file.\n", stderr);
        return;
    }
    // The whole line goes out in one append, so lines of other objects and
    // processes sharing the file never cut into it.
    std::string line = tag;
    line += platform::localTimeText("%Y-%m-%d %H:%M:%S");
    line += "] ";
    line += message;
    line += '\n';
    file_.append(line);
}

}  // namespace rez
