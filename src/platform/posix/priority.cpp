#include "platform/priority.h"

#include <pthread.h>
#include <sched.h>

#include <cstdlib>
#include <cstring>

namespace rez::platform {

namespace {

bool realtimeWanted() {
    const char* wanted = std::getenv("REZ_REALTIME");
    return wanted != nullptr && std::strcmp(wanted, "1") == 0;
}

}  // namespace

void raiseProcessPriority() {}

void raiseThreadPriority() {
    if (!realtimeWanted()) return;
    sched_param param{};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO);
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);  // refusal is fine
}

LentThreadPriority::LentThreadPriority() {
    if (!realtimeWanted()) return;
    sched_param param{};
    if (pthread_getschedparam(pthread_self(), &threadPolicy_, &param) != 0) return;
    threadPriority_ = param.sched_priority;
    threadRaised_ = true;
    raiseThreadPriority();
}

LentThreadPriority::~LentThreadPriority() {
    if (!threadRaised_) return;
    sched_param param{};
    param.sched_priority = threadPriority_;
    pthread_setschedparam(pthread_self(), threadPolicy_, &param);
}

long threadSchedulingNow() {
    int policy = 0;
    sched_param param{};
    if (pthread_getschedparam(pthread_self(), &policy, &param) != 0) return -1;
    return policy * 1000L + param.sched_priority;
}

}  // namespace rez::platform
