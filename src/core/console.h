#pragma once
// Short fixed messages to the process's standard output. All messages go
// through here as narrow text: mixing wide and narrow writes on one C stream
// would silently drop whichever came second.
namespace rez {

void consolePrint(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace rez
