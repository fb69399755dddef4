#include "platform/shared_memory.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdint>
#include <utility>

#include "platform/win32/wide.h"

namespace rez::platform {

namespace {

// Full access for the system, administrators and the owner. The library's
// own blocks give everyone read views, so headset software started without
// elevation can read the pose that an elevated host writes. A block made in a
// game's place gives everyone read and write views, since the game that
// opens it later writes it. The low integrity label lets sandboxed readers in
// as well; it keeps the no-write-up rule.
constexpr const wchar_t* kOwnBlockSddl = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;OW)(A;;GR;;;WD)S:(ML;;NW;;;LW)";
constexpr const wchar_t* kGameBlockSddl = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;OW)(A;;GRGW;;;WD)S:(ML;;NW;;;LW)";

enum class BlockKind { Own, Game };

// Built once per kind and kept for the life of the process. Null (the
// system's default) if the system will not build it.
PSECURITY_DESCRIPTOR descriptorFor(BlockKind kind) {
    const auto build = [](const wchar_t* sddl) {
        PSECURITY_DESCRIPTOR sd = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr)) return PSECURITY_DESCRIPTOR{};
        return sd;
    };
    static const PSECURITY_DESCRIPTOR own = build(kOwnBlockSddl);
    static const PSECURITY_DESCRIPTOR game = build(kGameBlockSddl);
    return kind == BlockKind::Own ? own : game;
}

HANDLE createSection(const std::string& name, std::size_t size, BlockKind kind) {
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptorFor(kind), FALSE};
    return CreateFileMappingW(INVALID_HANDLE_VALUE, attributes.lpSecurityDescriptor != nullptr ? &attributes : nullptr,
                              PAGE_READWRITE, static_cast<DWORD>(std::uint64_t{size} >> 32),
                              static_cast<DWORD>(size & 0xFFFFFFFFu), widen(name).c_str());
}

bool isAnyUser(PSID sid) {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID everyone = nullptr;
    PSID authenticated = nullptr;
    bool match = false;
    if (AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) {
        match = EqualSid(sid, everyone) != FALSE;
        FreeSid(everyone);
    }
    if (!match && AllocateAndInitializeSid(&nt, 1, SECURITY_AUTHENTICATED_USER_RID, 0, 0, 0, 0, 0, 0, 0, &authenticated)) {
        match = EqualSid(sid, authenticated) != FALSE;
        FreeSid(authenticated);
    }
    return match;
}

}  // namespace

std::size_t SharedMemory::pageSize() {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwPageSize != 0 ? info.dwPageSize : 4096;
}

bool SharedMemory::createOrOpen(const std::string& name, std::size_t size) {
    close();
    SetLastError(0);
    HANDLE h = createSection(name, size, BlockKind::Own);
    if (h == nullptr) return false;
    created_ = GetLastError() != ERROR_ALREADY_EXISTS;
    handle_ = h;
    openAccess_ = MapAccess::ReadWrite;
    name_ = name;
    return true;
}

bool SharedMemory::openReadOnlyOrCreate(const std::string& name, std::size_t size) {
    close();
    HANDLE h = OpenFileMappingW(FILE_MAP_READ, FALSE, widen(name).c_str());
    bool made = false;
    if (h == nullptr) {
        if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
        // Made writable, as the game would make it: a game that starts later
        // opens this block and must be able to write it. This side only ever
        // maps it read-only. If the game made it meanwhile, this opens the
        // game's block without changing its size.
        SetLastError(0);
        h = createSection(name, size, BlockKind::Game);
        if (h == nullptr) return false;
        made = GetLastError() != ERROR_ALREADY_EXISTS;
    }
    handle_ = h;
    created_ = made;
    openAccess_ = MapAccess::Read;
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

bool SharedMemory::openToAnyUser(MapAccess access) const {
    if (!isOpen()) return false;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetSecurityInfo(handle_, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &sd) !=
        ERROR_SUCCESS)
        return false;
    bool open = dacl == nullptr;  // no DACL: no restriction at all
    const DWORD wanted = access == MapAccess::Read ? GENERIC_READ | GENERIC_ALL | SECTION_MAP_READ
                                                   : GENERIC_WRITE | GENERIC_ALL | SECTION_MAP_WRITE;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) break;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            if ((allowed->Mask & wanted) != 0 && isAnyUser(&allowed->SidStart)) {
                open = true;
                break;
            }
        } else if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
            auto* denied = static_cast<ACCESS_DENIED_ACE*>(ace);
            if ((denied->Mask & wanted) != 0 && isAnyUser(&denied->SidStart)) break;
        }
    }
    LocalFree(sd);
    return open;
}

bool SharedMemory::map(MapAccess access, std::size_t size) {
    if (!isOpen()) return false;
    unmap();
    if (access == MapAccess::ReadWrite && openAccess_ == MapAccess::Read) return false;
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

// The held handle keeps the mapping and its name alive.
bool SharedMemory::stillUnderItsName() const { return isOpen(); }

void SharedMemory::removeName(const std::string&) {}

}  // namespace rez::platform
