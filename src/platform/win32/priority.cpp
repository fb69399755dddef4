#include "platform/priority.h"

#include <windows.h>
#include <mmsystem.h>

#include <mutex>

namespace rez::platform {

namespace {

// The process class is one for the whole process: the first lent loop
// raises it and the last one to leave puts back what the first found,
// unless something raised it for good in between (the engine's own thread).
struct ProcessClass {
    std::mutex mutex;
    int loops = 0;
    DWORD before = 0;
    bool keptRaised = false;
};

ProcessClass& processClass() {
    static ProcessClass state;
    return state;
}

}  // namespace

void raiseProcessPriority() {
    ProcessClass& state = processClass();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.keptRaised = true;
    SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS);
}

void raiseThreadPriority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL); }

LentThreadPriority::LentThreadPriority() {
    timeBeginPeriod(1);
    {
        ProcessClass& state = processClass();
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.loops++ == 0) state.before = GetPriorityClass(GetCurrentProcess());
        SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS);
    }
    threadPriority_ = GetThreadPriority(GetCurrentThread());
    threadRaised_ = threadPriority_ != THREAD_PRIORITY_ERROR_RETURN;
    raiseThreadPriority();
}

LentThreadPriority::~LentThreadPriority() {
    if (threadRaised_) SetThreadPriority(GetCurrentThread(), threadPriority_);
    {
        ProcessClass& state = processClass();
        std::lock_guard<std::mutex> lock(state.mutex);
        // A class someone set since (the host itself) is left alone.
        if (--state.loops == 0 && !state.keptRaised && state.before != 0 &&
            GetPriorityClass(GetCurrentProcess()) == REALTIME_PRIORITY_CLASS)
            SetPriorityClass(GetCurrentProcess(), state.before);
    }
    timeEndPeriod(1);
}

long threadSchedulingNow() { return GetThreadPriority(GetCurrentThread()); }

}  // namespace rez::platform
