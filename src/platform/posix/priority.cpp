#include "platform/priority.h"

#include <pthread.h>
#include <sched.h>

#include <cstdlib>
#include <cstring>

namespace rez::platform {

void raiseProcessPriority() {}

void raiseThreadPriority() {
    const char* wanted = std::getenv("REZ_REALTIME");
    if (wanted == nullptr || std::strcmp(wanted, "1") != 0) return;
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);  // refusal is fine
}

}  // namespace rez::platform
