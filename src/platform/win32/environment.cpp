#include "platform/environment.h"

#include <stdlib.h>
#include <windows.h>

#include "platform/win32/wide.h"

namespace rez::platform {

// _wputenv_s keeps the C runtime's copy and the process block in step, so
// getenv and GetEnvironmentVariable agree afterwards.
std::optional<std::string> environmentVariable(const std::string& name) {
    const wchar_t* value = ::_wgetenv(widen(name).c_str());
    if (value == nullptr) return std::nullopt;
    return narrow(value);
}

bool setEnvironmentVariable(const std::string& name, const std::string& value) {
    return ::_wputenv_s(widen(name).c_str(), widen(value).c_str()) == 0;
}

bool unsetEnvironmentVariable(const std::string& name) { return ::_wputenv_s(widen(name).c_str(), L"") == 0; }

}  // namespace rez::platform
