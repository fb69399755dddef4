#pragma once
// The local calendar time, for time stamps people read.
#include <string>

namespace rez::platform {

// Now, in the local time zone, formatted by strftime rules ("%Y-%m-%d" ...);
// whole seconds.
std::string localTimeText(const char* format);

}  // namespace rez::platform
