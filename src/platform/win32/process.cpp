#include "platform/process.h"

#include <windows.h>
#include <tlhelp32.h>

#include <utility>

#include "platform/win32/wide.h"

namespace rez::platform {

std::optional<std::vector<std::string>> processNames() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<std::string> names;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        names.push_back(narrow(entry.szExeFile));
    CloseHandle(snapshot);
    return names;
}

ChildProcess::~ChildProcess() { kill(); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : process_(std::exchange(other.process_, nullptr)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        kill();
        process_ = std::exchange(other.process_, nullptr);
    }
    return *this;
}

bool ChildProcess::start(const std::string& exePath, const std::string&, const std::vector<std::string>& args) {
    kill();
    std::wstring commandLine = L"\"" + widen(exePath) + L"\"";
    for (const auto& arg : args) commandLine += L" \"" + widen(arg) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(widen(exePath).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return false;
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    return true;
}

void ChildProcess::kill() {
    if (process_ == nullptr) return;
    TerminateProcess(process_, 1);
    WaitForSingleObject(process_, 5000);
    CloseHandle(process_);
    process_ = nullptr;
}

bool ChildProcess::running() const {
    return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

}  // namespace rez::platform
