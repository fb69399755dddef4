#include "platform/append_file.h"

#include <windows.h>

namespace rez::platform {

AppendFile::~AppendFile() { close(); }

bool AppendFile::open(const std::string& path) {
    close();
    // Append-only access makes every WriteFile land at the current end of the
    // file as one piece, whoever else writes to it.
    HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    handle_ = h;
    return true;
}

bool AppendFile::isOpen() const { return handle_ != nullptr; }

bool AppendFile::append(const std::string& text) {
    if (handle_ == nullptr) return false;
    // Text mode, as a stream opened in text mode would write it.
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '\n') out.push_back('\r');
        out.push_back(c);
    }
    DWORD written = 0;
    return WriteFile(handle_, out.data(), static_cast<DWORD>(out.size()), &written, nullptr) && written == out.size();
}

void AppendFile::close() {
    if (handle_ == nullptr) return;
    CloseHandle(handle_);
    handle_ = nullptr;
}

}  // namespace rez::platform
