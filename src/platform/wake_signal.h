#pragma once
// A signal a producer gives after it queued work, so that a 2 ms loop asleep
// until the end of its pass wakes at once and handles the work. The loop
// takes a ticket before it looks for work; a wait given that ticket returns
// at once when the signal came after it, so a signal between the look and the
// wait is never lost. Signals are counted, not queued: a wake-up means "look
// again", however many producers signalled.
#include <atomic>
#include <cstdint>

namespace rez::platform {

class WakeSignal {
public:
    WakeSignal();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    // Cheap when nobody waits: a counter increment, no system call.
    void signal() noexcept;

    std::uint32_t ticket() const noexcept { return count_.load(); }
    bool signalledSince(std::uint32_t ticket) const noexcept { return count_.load() != ticket; }

    // Sleeps until counterNow() reaches `deadline` or the signal comes after
    // `ticket`; true when the signal ended the wait. Used where no precise
    // timer exists: the deadline is kept to the system's sleep granularity.
    bool waitUntil(std::int64_t deadline, std::uint32_t ticket) noexcept;

    enum class WaitEnd { Deadline, Signal, Readable };
    // The same, and also ends when `watched` (a serial handle or a socket of
    // this platform, -1 for none) has data to read or has failed. Linux
    // polls it; on Windows the port is not watched, since it is opened for
    // blocking calls, and the loop reads it at the start of its pass.
    WaitEnd waitUntil(std::int64_t deadline, std::uint32_t ticket, std::intptr_t watched) noexcept;

    // For the platform layer only (the precise timer waits on both).
    std::atomic<std::uint32_t>& counter() noexcept { return count_; }
    std::atomic<int>& waiters() noexcept { return waiters_; }
    void* nativeHandle() const noexcept { return event_; }

private:
    std::atomic<std::uint32_t> count_{0};
    std::atomic<int> waiters_{0};
    [[maybe_unused]] void* event_ = nullptr;  // Windows: an auto-reset event
    [[maybe_unused]] int pollable_ = -1;      // Linux: an eventfd the signal also sets, for waits that poll
};

}  // namespace rez::platform
