#include "platform/process.h"

namespace rez::platform {

bool isProcessRunning(const std::string& exeName) {
    auto names = processNames();
    if (!names) return false;
    for (const auto& name : *names)
        if (name == exeName) return true;
    return false;
}

}  // namespace rez::platform
