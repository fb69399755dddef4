#include "platform/environment.h"

#include <stdlib.h>

namespace rez::platform {

std::optional<std::string> environmentVariable(const std::string& name) {
    const char* value = ::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

bool setEnvironmentVariable(const std::string& name, const std::string& value) {
    return ::setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool unsetEnvironmentVariable(const std::string& name) { return ::unsetenv(name.c_str()) == 0; }

}  // namespace rez::platform
