#pragma once
// The diagnostic log: one append-only text file, "rovandelix/errorlog.txt" in
// the user's Documents folder, shared by every ErrorLog object (and every
// process) that writes to it. Lines read
//   [INFO] [2024-03-07 18:05:09] message
//   [ERROR] [2024-03-07 18:05:09] message
// Problems of the log itself go to standard error, never to the caller.
#include <mutex>
#include <string>

#include "platform/append_file.h"

namespace rez {

class ErrorLog {
public:
    // `name` has no effect on the file used: all logs share the one file.
    explicit ErrorLog(const std::string& name);
    ~ErrorLog();
    ErrorLog(const ErrorLog&) = delete;
    ErrorLog& operator=(const ErrorLog&) = delete;

    void logInfo(const std::string& message);
    void logError(const std::string& message);
    // False for good when the folder or the file was not reachable at
    // construction; the log is never opened again.
    bool isOpen() const;

    // The folder and file the logs write to; empty when the Documents
    // folder is unknown.
    static std::string folderPath();
    static std::string filePath();

private:
    void write(const char* tag, const std::string& message);

    std::mutex mutex_;
    platform::AppendFile file_;
};

}  // namespace rez
