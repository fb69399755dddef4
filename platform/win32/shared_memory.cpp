#include "platform/shared_memory.h"

#include <windows.h>

#include <utility>

#include "platform/win32/wide.h"

namespace rez::platform {

bool SharedMemory::createOrOpen(const std::string& name, std::size_t size) {
    close();
    SetLastError(0);
    HANDLE h = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, static_cast<DWORD>(std::uint64_t{size} >> 32),
                                  static_cast<DWORD>(size & 0xFFFFFFFFu), widen(name).c_str());
    if (h == nullptr) return false;
    created_ = GetLastError() != ERROR_ALREADY_EXISTS;
    handle_ = h;
    openAccess_ = MapAccess::ReadWrite;
    name_ = name;
    return true;
}

bool SharedMemory::openExisting(const std::string& name, MapAccess access) {
    close();
    DWORD desired = access == MapAccess::Read ? FILE_MAP_READ : FILE_MAP_READ | FILE_MAP_WRITE;
    HANDLE h = OpenFileMappingW(desired, FALSE, widen(name).c_str());
    if (h == nullptr) return false;
    handle_ = h;
    created_ = false;
    openAccess_ = access;
    name_ = name;
    return true;
}

std::size_t SharedMemory::objectSize() const {
    if (!isOpen()) return 0;
    // The section's size is not queryable directly; a whole view tells it,
    // rounded up to pages.
    void* p = MapViewOfFile(handle_, FILE_MAP_READ, 0, 0, 0);
    if (p == nullptr) return 0;
    MEMORY_BASIC_INFORMATION info{};
    std::size_t size = VirtualQuery(p, &info, sizeof info) != 0 ? info.RegionSize : 0;
    UnmapViewOfFile(p);
    return size;
}

bool SharedMemory::map(MapAccess access, std::size_t size) {
    if (!isOpen()) return false;
    unmap();
    DWORD desired = access == MapAccess::Read ? FILE_MAP_READ : FILE_MAP_READ | FILE_MAP_WRITE;
    void* p = MapViewOfFile(handle_, desired, 0, 0, size);
    if (p == nullptr) return false;
    if (size == 0) {
        MEMORY_BASIC_INFORMATION info{};
        size = VirtualQuery(p, &info, sizeof info) != 0 ? info.RegionSize : 0;
    }
    view_ = p;
    viewSize_ = size;
    return true;
}

void SharedMemory::unmap() {
    if (view_ != nullptr) UnmapViewOfFile(view_);
    view_ = nullptr;
    viewSize_ = 0;
}

void SharedMemory::close() {
    unmap();
    if (isOpen()) CloseHandle(handle_);
    handle_ = invalidHandle;
    created_ = false;
    name_.clear();
}

void SharedMemory::removeName(const std::string&) {}

}  // namespace rez::platform
