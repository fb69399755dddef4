#include "platform/clock.h"

#include <windows.h>
#include <mmsystem.h>

#include <mutex>

namespace rez::platform {

std::int64_t counterNow() {
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return value.QuadPart;
}

std::int64_t counterFrequency() {
    static const std::int64_t frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return value.QuadPart;
    }();
    return frequency;
}

void sleepNs(std::int64_t ns) {
    if (ns <= 0) return;
    std::int64_t ms = (ns + 999'999) / 1'000'000;
    Sleep(static_cast<DWORD>(ms));
}

void sleepMs(std::int64_t ms) {
    if (ms > 0) Sleep(static_cast<DWORD>(ms));
}

void requestTimerResolution() {
    static std::once_flag once;
    std::call_once(once, [] { timeBeginPeriod(1); });
}

std::int64_t threadCpuTimeNs() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    auto toNs = [](FILETIME t) {
        return ((static_cast<std::int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 100;
    };
    return toNs(kernel) + toNs(user);
}

}  // namespace rez::platform
