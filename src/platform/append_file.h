#pragma once
// A text file that is only ever appended to, shared with other writers and
// readers (other objects and processes may have it open at the same time).
// Each append is one system write at the end of the file, so texts from
// different writers never mix inside one append.
#include <string>

namespace rez::platform {

class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens or creates the file; false when it cannot be opened for writing.
    bool open(const std::string& path);
    bool isOpen() const;
    // Appends `text` in one write, with '\n' written as the system's text
    // line end (CR LF on Windows). False when not open or the write failed.
    bool append(const std::string& text);
    void close();

private:
#if defined(_WIN32)
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

}  // namespace rez::platform
