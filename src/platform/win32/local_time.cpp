#include "platform/local_time.h"

#include <ctime>

namespace rez::platform {

std::string localTimeText(const char* format) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_s(&local, &now) != 0) return {};
    char text[128];
    std::size_t n = std::strftime(text, sizeof text, format, &local);
    return std::string(text, n);
}

}  // namespace rez::platform
