#include "platform/wake_signal.h"

#include <windows.h>

#include "platform/clock.h"

namespace rez::platform {

WakeSignal::WakeSignal() { event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr); }

WakeSignal::~WakeSignal() {
    if (event_ != nullptr) CloseHandle(static_cast<HANDLE>(event_));
}

void WakeSignal::signal() noexcept {
    // The increment comes before the look at the waiters, and a waiter
    // registers before its last look at the counter, so one of the two always
    // sees the other. A set event nobody waited for only makes the next wait
    // return early, and the loop then finds nothing new and waits again.
    count_.fetch_add(1);
    if (waiters_.load() > 0 && event_ != nullptr) SetEvent(static_cast<HANDLE>(event_));
}

bool WakeSignal::waitUntil(std::int64_t deadline, std::uint32_t ticket) noexcept {
    waiters_.fetch_add(1);
    bool woken = signalledSince(ticket);
    while (!woken) {
        const std::int64_t remaining = deadline - counterNow();
        if (remaining <= 0) break;
        // Whole milliseconds, rounded up: the system's sleep granularity.
        const std::int64_t ms = (remaining * 1000 + counterFrequency() - 1) / counterFrequency();
        if (event_ == nullptr) {
            Sleep(static_cast<DWORD>(ms));
            break;
        }
        if (WaitForSingleObject(static_cast<HANDLE>(event_), static_cast<DWORD>(ms)) != WAIT_OBJECT_0) break;
        woken = signalledSince(ticket);
    }
    waiters_.fetch_sub(1);
    return woken || signalledSince(ticket);
}

WakeSignal::WaitEnd WakeSignal::waitUntil(std::int64_t deadline, std::uint32_t ticket, std::intptr_t) noexcept {
    return waitUntil(deadline, ticket) ? WaitEnd::Signal : WaitEnd::Deadline;
}

}  // namespace rez::platform
