#pragma once
// Interval clock on the performance counter. Every reader, the engine tick
// and the link loops own one. The pacing fields (carry, lastTickUs, precise)
// are used only by the loops that pace themselves with it.
#include <atomic>
#include <cstdint>
#include <memory>

#include "core/wake_margin.h"
#include "platform/precise_wait.h"
#include "platform/wake_signal.h"

namespace rez {

// What the precise wait keeps between passes: its timer, and how late the
// timer's wake-ups have been.
struct PreciseWait {
    platform::PreciseTimer timer;
    WakeMargin margin;
    // Above 0: sleep short of the deadline by this much instead of the learnt
    // margin (for comparisons).
    double fixedMarginUs = 0.0;
    double lastWakeUs = 0.0;  // when the last timer sleep ended, microseconds into the pass
    int passesSinceProbe = 0; // passes on the millisecond sleep since the timer was last tried
    int cautiousPassesLeft = 0; // passes still kept on the millisecond sleep after a late wake-up
};

struct SampleClock {
    SampleClock();
    ~SampleClock();

    std::int64_t start = 0;     // counter value of the previous stamp
    std::int64_t current = 0;   // counter value of the latest stamp
    // Last interval, counter ticks. Atomic because the host's getters read it
    // while the owning loop writes it.
    std::atomic<std::int64_t> interval{0};
    double meanInterval = 0.0;  // running mean of intervals, window 200
    double ticksPerMs = 0.0;
    double ticksPerUs = 0.0;

    double carry = 0.0;       // coarse pacing: microseconds behind (+) or ahead (-) of 2 ms a pass
    double lastTickUs = 0.0;  // last measured tick time, microseconds
    std::atomic<int> precise{1};
    // Made by the first precise wait, so clocks that never pace cost nothing.
    std::unique_ptr<PreciseWait> preciseWait;

    // Takes a stamp: interval = now - start, mean updated, start = now.
    // Returns the interval in milliseconds.
    double stamp();
    // The engine's "restart": stamp, then take the counter again as the start.
    void restart();
    double intervalMs() const { return ticksPerMs > 0 ? static_cast<double>(interval.load(std::memory_order_relaxed)) / ticksPerMs : 0.0; }
    // Microseconds since the last stamp.
    double elapsedUs() const;
};

// The ways a 2 ms loop ends its pass. Each restarts `clock`. Every loop that
// paces itself passes only its own clock.
//
// Precise: busy-wait on the counter until more than 2000 us have passed since
// the clock's start. The time before that spin is slept away with the
// platform's precise timer, to (2000 - margin) us, where the margin follows
// the timer's recent lateness. Without such a timer, or with one that needs
// more than half a millisecond of margin, as below.
void waitPrecise(SampleClock& clock);
// Work a loop does the moment it is woken during its wait (writing what was
// just queued); false ends the wait at once.
class WakeWork {
public:
    virtual bool run() = 0;

protected:
    ~WakeWork() = default;
};

// The precise wait, woken by `wake`: the same sleep and final spin, but each
// signal during them runs `work` at once, and the wait then goes on to the
// end of the pass. `work` also runs once at the start, for what was queued
// before the wait began. False (the clock not restarted) when `work` asked to
// stop.
bool waitPrecise(SampleClock& clock, platform::WakeSignal& wake, WakeWork& work);
template <class F>
bool waitPrecise(SampleClock& clock, platform::WakeSignal& wake, F&& work) {
    struct Adapter final : WakeWork {
        explicit Adapter(F& f) : f_(f) {}
        bool run() override { return f_(); }
        F& f_;
    } adapter(work);
    return waitPrecise(clock, wake, static_cast<WakeWork&>(adapter));
}

// Whether the transports write queued messages the moment they are queued
// (the default) or only at the start of each pass, as they once did: the
// environment variable REZ_PASS_START_TRANSMIT set to 1 asks for the latter.
// Read when a loop starts.
bool transmitOnWake();

// The precise wait with the millisecond sleep: sleep 1 ms if less than 1 ms
// has passed, then busy-wait to 2000 us.
void waitPreciseMillisecondSleep(SampleClock& clock);
// Coarse: sleep 2 ms, 1 ms or not at all, and carry the error to the next pass
// so the average pass is 2 ms.
void waitCoarse(SampleClock& clock);
// Chooses by clock.precise.
void paceTick(SampleClock& clock);

}  // namespace rez
