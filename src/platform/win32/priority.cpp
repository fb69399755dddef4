#include "platform/priority.h"

#include <windows.h>

namespace rez::platform {

void raiseProcessPriority() { SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS); }

void raiseThreadPriority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL); }

}  // namespace rez::platform
