#include "platform/wake_signal.h"

#include <linux/futex.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

#include "platform/clock.h"
#include "platform/posix/futex_wait.h"

namespace rez::platform {

WakeSignal::WakeSignal() { pollable_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

WakeSignal::~WakeSignal() {
    if (pollable_ >= 0) close(pollable_);
}

void WakeSignal::signal() noexcept {
    // The increment comes before the look at the waiters, and a waiter
    // registers before its last look at the counter, so one of the two always
    // sees the other.
    count_.fetch_add(1);
    if (waiters_.load() > 0) {
        syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&count_), FUTEX_WAKE | FUTEX_PRIVATE_FLAG, INT_MAX,
                nullptr, nullptr, 0);
        // A waiter that polls a port sleeps on the eventfd instead. A count
        // left there by a signal nobody polled for only makes the next poll
        // look at the counter once more.
        if (pollable_ >= 0) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t n = write(pollable_, &one, sizeof one);
        }
    }
}

bool WakeSignal::waitUntil(std::int64_t deadline, std::uint32_t ticket) noexcept {
    return futexWaitUntil(*this, deadline, ticket);
}

WakeSignal::WaitEnd WakeSignal::waitUntil(std::int64_t deadline, std::uint32_t ticket, std::intptr_t watched) noexcept {
    if (watched < 0 || pollable_ < 0) return waitUntil(deadline, ticket) ? WaitEnd::Signal : WaitEnd::Deadline;
    waiters_.fetch_add(1);
    WaitEnd end = WaitEnd::Deadline;
    // The port is looked at once even when the deadline has passed: what
    // came during a pass is taken in that pass.
    for (bool looked = false;; looked = true) {
        if (signalledSince(ticket)) {
            end = WaitEnd::Signal;
            break;
        }
        std::int64_t remaining = deadline - counterNow();  // nanoseconds
        if (remaining <= 0) {
            if (looked) break;
            remaining = 0;
        }
        const timespec timeout{static_cast<time_t>(remaining / 1'000'000'000), static_cast<long>(remaining % 1'000'000'000)};
        pollfd fds[2] = {{pollable_, POLLIN, 0}, {static_cast<int>(watched), POLLIN, 0}};
        if (ppoll(fds, 2, &timeout, nullptr) < 0) {
            if (errno == EINTR) continue;
            break;  // cannot happen with valid descriptors; the pass simply ends
        }
        if (fds[1].revents != 0) {
            end = WaitEnd::Readable;
            break;
        }
        if (fds[0].revents & POLLIN) {
            std::uint64_t drained = 0;
            [[maybe_unused]] const ssize_t n = read(pollable_, &drained, sizeof drained);
        }
    }
    waiters_.fetch_sub(1);
    if (end != WaitEnd::Readable && signalledSince(ticket)) end = WaitEnd::Signal;
    return end;
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
