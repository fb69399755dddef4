#include "platform/precise_wait.h"

#include <sys/prctl.h>

#include <cerrno>
#include <ctime>


namespace rez::platform {

PreciseTimer::PreciseTimer() = default;
PreciseTimer::~PreciseTimer() = default;

bool PreciseTimer::available() const noexcept { return true; }

namespace {

// The default slack of 50 us lets the kernel batch a wake-up with others;
// the pacing wants it as close to the deadline as it can get.
void setTightSlack() {
    thread_local bool slackSet = false;
    if (!slackSet) {
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        slackSet = true;
    }
}

}  // namespace

void PreciseTimer::sleepUntil(std::int64_t deadline) noexcept {
    setTightSlack();
    // The counter is CLOCK_MONOTONIC in nanoseconds (platform/posix/clock.cpp).
    timespec until{};
    until.tv_sec = static_cast<time_t>(deadline / 1'000'000'000);
    until.tv_nsec = static_cast<long>(deadline % 1'000'000'000);
    if (until.tv_nsec < 0) return;  // a negative deadline lies in the past
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

}  // namespace rez::platform
