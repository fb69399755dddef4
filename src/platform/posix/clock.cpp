#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace rez::platform {

std::int64_t counterNow() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

std::int64_t counterFrequency() { return 1'000'000'000; }

void sleepNs(std::int64_t ns) {
    if (ns <= 0) return;
    timespec until{};
    clock_gettime(CLOCK_MONOTONIC, &until);
    std::int64_t total = until.tv_nsec + ns;
    until.tv_sec += static_cast<time_t>(total / 1'000'000'000);
    until.tv_nsec = static_cast<long>(total % 1'000'000'000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

void sleepMs(std::int64_t ms) { sleepNs(ms * 1'000'000); }

void requestTimerResolution() {}

std::int64_t threadCpuTimeNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

}  // namespace rez::platform
