#pragma once
// Process environment variables, read and set the same way on both systems
// (tests point services at their stand-ins through them).
#include <optional>
#include <string>

namespace rez::platform {

std::optional<std::string> environmentVariable(const std::string& name);
// Sets (or, with an empty value on Windows, removes) a variable of this process.
bool setEnvironmentVariable(const std::string& name, const std::string& value);
bool unsetEnvironmentVariable(const std::string& name);

}  // namespace rez::platform
