#include "platform/run_program.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace rez::platform {
namespace {

// One argument quoted the way the C runtime splits a command line.
std::wstring quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

}  // namespace

ProgramEnd runProgram(const std::string& exePath, const std::vector<std::string>& args, int timeoutMs) {
    ProgramEnd end;
    std::wstring commandLine = quoted(widen(exePath));
    for (const std::string& arg : args) commandLine += L" " + quoted(widen(arg));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(widen(exePath).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        end.whyNot = "CreateProcess failed with error " + std::to_string(GetLastError());
        return end;
    }
    end.started = true;
    CloseHandle(process.hThread);
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
        end.timedOut = true;
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    end.exitCode = static_cast<long>(code);
    CloseHandle(process.hProcess);
    return end;
}

}  // namespace rez::platform
