#include "platform/thread_name.h"

#include <windows.h>
#include <tlhelp32.h>

#include "platform/win32/wide.h"

namespace rez::platform {

namespace {

// Thread descriptions came with Windows 10 1607 and with some Wine version:
// looked up at run time, so the DLL still loads where they are missing.
struct DescriptionCalls {
    HRESULT(WINAPI* set)(HANDLE, PCWSTR) = nullptr;
    HRESULT(WINAPI* get)(HANDLE, PWSTR*) = nullptr;
};

template <class Call>
Call kernelCall(HMODULE kernel, const char* name) {
    // Through a plain function pointer type, which converts to any other
    // without a warning about the mismatch.
    return reinterpret_cast<Call>(reinterpret_cast<void (*)()>(GetProcAddress(kernel, name)));
}

const DescriptionCalls& descriptionCalls() {
    static const DescriptionCalls calls = [] {
        DescriptionCalls found;
        if (HMODULE kernel = GetModuleHandleW(L"kernel32.dll")) {
            found.set = kernelCall<decltype(found.set)>(kernel, "SetThreadDescription");
            found.get = kernelCall<decltype(found.get)>(kernel, "GetThreadDescription");
        }
        return found;
    }();
    return calls;
}

bool describe(HANDLE thread, const std::string& name) {
    const DescriptionCalls& calls = descriptionCalls();
    return calls.set != nullptr && SUCCEEDED(calls.set(thread, widen(name).c_str()));
}

// False when the description cannot be read (no call, no access).
bool description(HANDLE thread, std::string& name) {
    const DescriptionCalls& calls = descriptionCalls();
    PWSTR text = nullptr;
    if (calls.get == nullptr || FAILED(calls.get(thread, &text))) return false;
    name = text != nullptr ? narrow(text) : std::string();
    LocalFree(text);
    return true;
}

std::int64_t fileTimeNs(const FILETIME& t) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 100;
}

}  // namespace

void nameThisThread(const char* name) { describe(GetCurrentThread(), name); }

std::string thisThreadName() {
    std::string name;
    description(GetCurrentThread(), name);
    return name;
}

LentThreadName::LentThreadName(const char* name) {
    restore_ = description(GetCurrentThread(), previous_) && describe(GetCurrentThread(), name);
}

LentThreadName::~LentThreadName() {
    if (restore_) describe(GetCurrentThread(), previous_);
}

std::vector<ThreadCpu> libraryThreadsCpu() {
    std::vector<ThreadCpu> threads;
    if (descriptionCalls().get == nullptr) return threads;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return threads;
    const DWORD self = GetCurrentProcessId();
    const std::string prefix = kLibraryThreadPrefix;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != self) continue;
        const HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID);
        if (thread == nullptr) continue;  // ended since the snapshot
        std::string name;
        FILETIME created, exited, kernel, user;
        if (description(thread, name) && name.compare(0, prefix.size(), prefix) == 0 &&
            GetThreadTimes(thread, &created, &exited, &kernel, &user))
            threads.push_back({name, fileTimeNs(kernel) + fileTimeNs(user), entry.th32ThreadID});
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
    return threads;
}

}  // namespace rez::platform
