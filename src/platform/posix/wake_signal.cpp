#include "platform/wake_signal.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

#include "platform/posix/futex_wait.h"

namespace rez::platform {

WakeSignal::WakeSignal() = default;
WakeSignal::~WakeSignal() = default;

void WakeSignal::signal() noexcept {
    // The increment comes before the look at the waiters, and a waiter
    // registers before its last look at the counter, so one of the two always
    // sees the other.
    count_.fetch_add(1);
    if (waiters_.load() > 0)
        syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&count_), FUTEX_WAKE | FUTEX_PRIVATE_FLAG, INT_MAX,
                nullptr, nullptr, 0);
}

bool WakeSignal::waitUntil(std::int64_t deadline, std::uint32_t ticket) noexcept {
    return futexWaitUntil(*this, deadline, ticket);
}

bool futexWaitUntil(WakeSignal& wake, std::int64_t deadline, std::uint32_t ticket) noexcept {
    // The counter is CLOCK_MONOTONIC in nanoseconds, the clock an absolute
    // FUTEX_WAIT_BITSET time-out is measured on.
    if (deadline < 0) return wake.signalledSince(ticket);
    timespec until{};
    until.tv_sec = static_cast<time_t>(deadline / 1'000'000'000);
    until.tv_nsec = static_cast<long>(deadline % 1'000'000'000);
    wake.waiters().fetch_add(1);
    bool woken = false;
    for (;;) {
        if (wake.signalledSince(ticket)) {
            woken = true;
            break;
        }
        const long result = syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&wake.counter()),
                                    FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG, ticket, &until, nullptr,
                                    FUTEX_BITSET_MATCH_ANY);
        if (result == -1 && errno == ETIMEDOUT) break;
        // Woken, interrupted, or the counter moved before the kernel looked:
        // look again.
    }
    wake.waiters().fetch_sub(1);
    return woken;
}

}  // namespace rez::platform
