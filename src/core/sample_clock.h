#pragma once
// Interval clock on the performance counter. Every reader, the engine tick
// and the link loops own one. The pacing fields (carry, lastTickUs, precise)
// are used only by the loops that pace themselves with it.
#include <atomic>
#include <cstdint>
#include <memory>
#include <type_traits>

#include "core/wake_margin.h"
#include "platform/precise_wait.h"
#include "platform/wake_signal.h"

namespace rez {

// What the precise wait keeps between passes: its timer, how late the
// timer's wake-ups have been, and what the last pass did (for reports and
// tests).
struct PreciseWait {
    // The longest a pass spins after its timer sleep: 7.5 % of the pass.
    // Whatever the timer does, the pass costs at most this much busy time.
    static constexpr double kSpinCapUs = 150.0;

    platform::PreciseTimer timer;
    WakeMargin margin{kSpinCapUs};
    // Above 0: sleep short of the deadline by this much instead of the learnt
    // margin (for comparisons).
    double fixedMarginUs = 0.0;
    double lastWakeUs = 0.0;     // when the last timer sleep ended, microseconds into the pass
    double lastSpinUs = 0.0;     // how long the last pass was allowed to spin
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

    // Microseconds the passes so far ran behind (+) or ahead (-) of 2 ms
    // each; the next pass ends that much earlier (later), so the average
    // pass stays 2 ms.
    double carry = 0.0;
    double lastTickUs = 0.0;  // last measured tick time, microseconds
    double lastTargetUs = 0.0;  // where the last pass meant to end, microseconds after its start
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
// Each pass aims at 2000 us after the clock's start, less what earlier passes
// ran over (the clock's carry, remembered up to 20 ms either way), so late
// passes are made up by later ones and the average pass is 2 ms. The engine's
// precise tick makes up a small debt 20 us a pass and a large one at once;
// the others make up all of it on the next pass.
//
// Precise (the engine's tick): sleep on the platform's precise timer to the
// pass's end less a margin learnt from the timer's lateness, then spin on the
// counter to the end, never longer than PreciseWait::kSpinCapUs. A wake-up
// later than the margin costs that pass its precision, never a millisecond
// of spinning. Without such a timer (Windows before 10 1803): the
// millisecond sleep below.
void waitPrecise(SampleClock& clock);

// Work a transport loop does during its wait: what was queued the moment it
// is queued, and what the other end sent the moment it arrives.
class WakeWork {
public:
    // Runs on every signal of the loop's wake signal, and once at the start
    // of the wait; false ends the wait at once.
    virtual bool run() = 0;
    // A port or socket to watch for incoming data during the wait (the
    // platform's serial handle), or -1 for none.
    virtual std::intptr_t watched() { return -1; }
    // Data is waiting on the watched port: take it. False when nothing could
    // be read (the port is broken or closed): the wait then stops watching.
    virtual bool readable() { return false; }

protected:
    ~WakeWork() = default;
};

// A transport's pass end: no spin, since frames go out when they are queued
// and not at the end of the pass. Sleeps to the pass's end, an absolute
// deadline; each signal of `wake` runs `work` at once, and data on the
// watched port runs `work.readable()`. `work` also runs once at the start,
// for what was queued before the wait began. False (the clock not
// restarted) when `work` asked to stop.
bool waitPass(SampleClock& clock, platform::WakeSignal& wake, WakeWork& work);
template <class F, class = std::enable_if_t<!std::is_base_of_v<WakeWork, std::decay_t<F>>>>
bool waitPass(SampleClock& clock, platform::WakeSignal& wake, F&& work) {
    struct Adapter final : WakeWork {
        explicit Adapter(F& f) : f_(f) {}
        bool run() override { return f_(); }
        F& f_;
    } adapter(work);
    return waitPass(clock, wake, static_cast<WakeWork&>(adapter));
}
// A pass with nothing to wait for (a link Searching): sleeps to its end.
void waitPass(SampleClock& clock);

// Whether the transports write queued messages the moment they are queued
// (the default) or only at the start of each pass, as they once did: the
// environment variable REZ_PASS_START_TRANSMIT set to 1 asks for the latter.
// Read when a loop starts.
bool transmitOnWake();

// How the loops end their passes: as above, or as they once did (sleep 1 ms
// if less than 1 ms has passed, then busy-wait to 2000 us; coarse mode
// sleeping 2 ms, 1 ms or not at all), which the benchmarks compare. Process
// wide, read on every pass; the environment variable REZ_PACING=spin picks
// the old waits when the process starts.
enum class Pacing { Budget, Spin };
Pacing pacing() noexcept;
void setPacing(Pacing style) noexcept;

// The precise wait with the millisecond sleep: sleep 1 ms if less than 1 ms
// has passed, then busy-wait to 2000 us.
void waitPreciseMillisecondSleep(SampleClock& clock);
// Coarse: sleep to the pass's end on an absolute deadline, no spin; the
// carry keeps the average pass at 2 ms.
void waitCoarse(SampleClock& clock);
// Chooses by clock.precise.
void paceTick(SampleClock& clock);

}  // namespace rez
