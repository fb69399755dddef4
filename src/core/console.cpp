#include "core/console.h"

#include <cstdarg>
#include <cstdio>

namespace rez {

void consolePrint(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fflush(stdout);
}

}  // namespace rez
