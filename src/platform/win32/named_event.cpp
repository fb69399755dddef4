#include "platform/named_event.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace rez::platform {

NamedEvent::~NamedEvent() { close(); }

bool NamedEvent::openExisting(const std::string& name) {
    close();
    HANDLE h = OpenEventW(SYNCHRONIZE, FALSE, widen(name).c_str());
    if (h == nullptr) return false;
    handle_ = h;
    created_ = false;
    name_ = name;
    return true;
}

bool NamedEvent::create(const std::string& name) {
    close();
    SetLastError(0);
    HANDLE h = CreateEventW(nullptr, TRUE, FALSE, widen(name).c_str());
    if (h == nullptr) return false;
    created_ = GetLastError() != ERROR_ALREADY_EXISTS;
    handle_ = h;
    name_ = name;
    return true;
}

bool NamedEvent::signal() { return isOpen() && SetEvent(handle_) != 0; }

void NamedEvent::close() {
    if (isOpen()) CloseHandle(handle_);
    handle_ = nullptr;
    created_ = false;
    name_.clear();
}

void NamedEvent::removeName(const std::string&) {}

}  // namespace rez::platform
