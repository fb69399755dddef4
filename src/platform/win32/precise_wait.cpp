#include "platform/precise_wait.h"

#include <windows.h>

#include "platform/clock.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace rez::platform {

PreciseTimer::PreciseTimer() {
    // Windows before 10 1803 refuses the flag (ERROR_INVALID_PARAMETER); a
    // plain waitable timer would wake on the millisecond tick like Sleep, so
    // there is then no timer at all and the caller keeps to its 1 ms sleep.
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          SYNCHRONIZE | TIMER_MODIFY_STATE);
    timer_ = timer;
}

PreciseTimer::~PreciseTimer() {
    if (timer_ != nullptr) CloseHandle(static_cast<HANDLE>(timer_));
}

bool PreciseTimer::available() const noexcept { return timer_ != nullptr; }

namespace {

// Arms the timer for `deadline`; the time in 100 ns units, 0 when the
// deadline has passed or the timer cannot be set.
std::int64_t arm(HANDLE timer, std::int64_t deadline) {
    const std::int64_t remaining = deadline - counterNow();
    if (remaining <= 0) return 0;
    // A relative due time, negative, in 100 ns units. The counter runs at
    // 10 MHz on current systems; the general conversion keeps it right on
    // any other frequency.
    const std::int64_t frequency = counterFrequency();
    const std::int64_t units =
        (remaining / frequency) * 10'000'000 + (remaining % frequency) * 10'000'000 / frequency;
    if (units <= 0) return 0;
    LARGE_INTEGER due;
    due.QuadPart = -units;
    if (!SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) return 0;
    return units;
}

}  // namespace

void PreciseTimer::sleepUntil(std::int64_t deadline) noexcept {
    if (timer_ == nullptr) return;
    const std::int64_t units = arm(static_cast<HANDLE>(timer_), deadline);
    if (units == 0) return;
    // The time-out only guards against a timer that never fires.
    WaitForSingleObject(static_cast<HANDLE>(timer_), static_cast<DWORD>(units / 10'000 + 50));
}

}  // namespace rez::platform
