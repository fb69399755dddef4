#include "platform/append_file.h"

#include <windows.h>

namespace rez::platform {

AppendFile::~AppendFile() { close(); }

bool AppendFile::open(const std::string& path) {
    close();
    // Append-only access makes every write land at the current end of the
    // file. Read access is there only because LockFileEx asks for it.
    HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA | GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
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
    // Windows itself appends each write whole, but Wine finds the end and
    // writes there in two steps, so writers with their own handles could
    // overwrite each other. Every writer therefore takes one lock byte far
    // past any real end of the file first: readers never touch it.
    OVERLAPPED lockByte{};
    lockByte.OffsetHigh = 0x7FFFFFFF;
    const bool locked = LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lockByte) != 0;
    DWORD written = 0;
    const bool ok = WriteFile(handle_, out.data(), static_cast<DWORD>(out.size()), &written, nullptr) && written == out.size();
    if (locked) UnlockFileEx(handle_, 0, 1, 0, &lockByte);
    return ok;
}

void AppendFile::close() {
    if (handle_ == nullptr) return;
    CloseHandle(handle_);
    handle_ = nullptr;
}

}  // namespace rez::platform
