#pragma once
// Sleeping to a point on the performance counter with better than millisecond
// precision, for the end of a 2 ms pass: the pass sleeps until shortly before
// its deadline and spins only the rest.
#include <cstdint>

namespace rez::platform {

class PreciseTimer {
public:
    // Windows: a high-resolution waitable timer; where the system refuses
    // one (before Windows 10 1803) the timer is not available. Linux: always
    // available.
    PreciseTimer();
    ~PreciseTimer();
    PreciseTimer(const PreciseTimer&) = delete;
    PreciseTimer& operator=(const PreciseTimer&) = delete;

    // False where only the millisecond sleep exists; callers keep to it.
    bool available() const noexcept;

    // Sleeps until counterNow() has reached `deadline` (counter ticks),
    // plus whatever the system adds when it wakes the thread; returns at
    // once for a deadline already past. Linux: the first call on a thread
    // sets that thread's timer slack to 1 ns.
    void sleepUntil(std::int64_t deadline) noexcept;

private:
    [[maybe_unused]] void* timer_ = nullptr;  // Windows: the timer's handle
};

}  // namespace rez::platform
