#include "core/sample_clock.h"

#include <algorithm>
#include <cmath>

#include "platform/clock.h"
#include "platform/environment.h"

namespace rez {

SampleClock::SampleClock() {
    const double frequency = static_cast<double>(platform::counterFrequency());
    ticksPerMs = frequency / 1000.0;
    ticksPerUs = frequency / 1'000'000.0;
}

SampleClock::~SampleClock() = default;

double SampleClock::stamp() {
    current = platform::counterNow();
    const std::int64_t measured = current - start;
    interval.store(measured, std::memory_order_relaxed);
    meanInterval += (static_cast<double>(measured) - meanInterval) / 200.0;
    start = current;
    return intervalMs();
}

void SampleClock::restart() {
    stamp();
    start = platform::counterNow();
}

double SampleClock::elapsedUs() const { return static_cast<double>(platform::counterNow() - start) / ticksPerUs; }

namespace {

constexpr double kPassUs = 2000.0;
// What earlier passes ran over (or short) is remembered up to 20 ms, ten
// passes; what a longer stall put beyond that is dropped rather than made up
// by a long burst of short passes.
constexpr double kCarryLimitUs = 20000.0;
// The engine's tick makes up a small debt 20 us a pass, so that one late
// wake-up does not cost a second pass its precision; a debt above half a
// millisecond (a machine that wakes it late often) is made up at once, as far
// as a pass of 1 ms allows.
constexpr double kGentleMakeUpUs = 20.0;
constexpr double kLargeDebtUs = 500.0;
constexpr double kPreciseMakeUpLimitUs = 1000.0;
// Coarse passes and the transports need no precision: they make up the whole
// debt, up to a pass with no sleep at all.
constexpr double kCoarseMakeUpLimitUs = 2000.0;

enum class MakeUp { Gentle, Whole };

std::atomic<int>& pacingStyle() {
    static std::atomic<int> style{[] {
        const auto value = platform::environmentVariable("REZ_PACING");
        return static_cast<int>(value && *value == "spin" ? Pacing::Spin : Pacing::Budget);
    }()};
    return style;
}

// The loop's wake-up, when it has one: its signal, its work and the ticket
// taken before the work last ran.
struct Waker {
    platform::WakeSignal& wake;
    WakeWork& work;
    std::uint32_t ticket = 0;

    // Runs the work for every signal since the last run; false when the
    // work asked to stop.
    bool runIfSignalled() {
        if (!wake.signalledSince(ticket)) return true;
        return runNow();
    }
    bool runNow() {
        ticket = wake.ticket();  // taken first: a signal during the work wakes the next wait
        return work.run();
    }
};

// Where the pass should end, microseconds after the clock's start.
double passTargetUs(SampleClock& clock, MakeUp makeUp) {
    const double debt = std::abs(clock.carry);
    const double limit = makeUp == MakeUp::Whole
                             ? kCoarseMakeUpLimitUs
                             : std::min(kPreciseMakeUpLimitUs, kGentleMakeUpUs + std::max(0.0, debt - kLargeDebtUs));
    clock.lastTargetUs = kPassUs - std::copysign(std::min(debt, limit), clock.carry);
    return clock.lastTargetUs;
}

// Ends the pass `e` us after the clock's start: the overrun joins the carry.
void endPass(SampleClock& clock, double e) {
    clock.restart();
    clock.lastTickUs = e;
    const double measuredUs = static_cast<double>(clock.interval.load(std::memory_order_relaxed)) / clock.ticksPerUs;
    clock.carry = std::clamp(clock.carry + measuredUs - kPassUs, -kCarryLimitUs, kCarryLimitUs);
}

std::int64_t counterAt(const SampleClock& clock, double us) {
    return clock.start + static_cast<std::int64_t>(std::llround(us * clock.ticksPerUs));
}

// The old way, kept for comparisons and for systems without the timer:
// the spin from 1 ms.
bool spinToEndOfPass(SampleClock& clock, double e, Waker* waker) {
    while (e <= kPassUs) {
        if (waker && !waker->runIfSignalled()) return false;
        e = clock.elapsedUs();
    }
    clock.restart();
    clock.lastTickUs = e;
    clock.carry = 0.0;  // this wait makes up nothing
    return true;
}

bool millisecondSleep(SampleClock& clock, Waker* waker) {
    const double e = clock.elapsedUs();
    if (e > 0.0 && e < 1000.0) {
        if (!waker) {
            platform::sleepNs(1'000'000);
        } else {
            const std::int64_t deadline = platform::counterNow() + static_cast<std::int64_t>(std::llround(1000.0 * clock.ticksPerUs));
            while (waker->wake.waitUntil(deadline, waker->ticket))
                if (!waker->runNow()) return false;
        }
    }
    return spinToEndOfPass(clock, clock.elapsedUs(), waker);
}

PreciseWait& preciseWaitOf(SampleClock& clock) {
    if (!clock.preciseWait) clock.preciseWait = std::make_unique<PreciseWait>();
    return *clock.preciseWait;
}

void precise(SampleClock& clock) {
    PreciseWait& wait = preciseWaitOf(clock);
    if (!wait.timer.available() || pacing() == Pacing::Spin) {
        millisecondSleep(clock, nullptr);
        return;
    }
    const double target = passTargetUs(clock, MakeUp::Gentle);
    const double marginUs = wait.fixedMarginUs > 0.0 ? wait.fixedMarginUs : wait.margin.marginUs();
    const double wakeUs = target - marginUs;
    double e = clock.elapsedUs();
    if (e < wakeUs) {
        const std::int64_t deadline = counterAt(clock, wakeUs);
        wait.timer.sleepUntil(deadline);
        const std::int64_t woke = platform::counterNow();
        e = static_cast<double>(woke - clock.start) / clock.ticksPerUs;
        wait.margin.record(static_cast<double>(woke - deadline) / clock.ticksPerUs);
        wait.lastWakeUs = e;
    }
    // The spin: to the target, but never longer than the cap. A timer that
    // woke too early for that ends the pass short, and the carry gives the
    // time back on the next pass.
    const double spinEnd = std::min(target, e + PreciseWait::kSpinCapUs);
    wait.lastSpinUs = std::clamp(target - e, 0.0, PreciseWait::kSpinCapUs);
    while (e < spinEnd) e = clock.elapsedUs();
    endPass(clock, e);
}

// Sleeps until the counter reaches `deadline`: on the precise timer, or
// where there is none with the system's sleep (a Searching link must not
// turn into a loop without any sleep there).
void sleepToDeadline(SampleClock& clock, std::int64_t deadline) {
    if (platform::counterNow() >= deadline) return;
    PreciseWait& wait = preciseWaitOf(clock);
    if (wait.timer.available())
        wait.timer.sleepUntil(deadline);
    else
        platform::sleepNs(static_cast<std::int64_t>((deadline - platform::counterNow()) / clock.ticksPerUs * 1000.0));
}

bool pass(SampleClock& clock, Waker* waker) {
    if (waker && !waker->runNow()) return false;
    if (pacing() == Pacing::Spin) return millisecondSleep(clock, waker);
    const std::int64_t deadline = counterAt(clock, passTargetUs(clock, MakeUp::Whole));
    if (!waker) {
        sleepToDeadline(clock, deadline);
    } else {
        std::intptr_t watched = waker->work.watched();
        for (;;) {
            const auto end = waker->wake.waitUntil(deadline, waker->ticket, watched);
            if (end == platform::WakeSignal::WaitEnd::Deadline) break;
            if (end == platform::WakeSignal::WaitEnd::Signal) {
                if (!waker->runNow()) return false;
            } else if (!waker->work.readable()) {
                watched = -1;  // a broken port would wake the wait at once, over and over
            }
            // A port that never stops sending must not hold the pass.
            if (platform::counterNow() >= deadline) break;
        }
    }
    endPass(clock, clock.elapsedUs());
    return true;
}

}  // namespace

Pacing pacing() noexcept { return static_cast<Pacing>(pacingStyle().load(std::memory_order_relaxed)); }

void setPacing(Pacing style) noexcept { pacingStyle().store(static_cast<int>(style), std::memory_order_relaxed); }

void waitPreciseMillisecondSleep(SampleClock& clock) { millisecondSleep(clock, nullptr); }

void waitPrecise(SampleClock& clock) { precise(clock); }

bool waitPass(SampleClock& clock, platform::WakeSignal& wake, WakeWork& work) {
    Waker waker{wake, work};
    return pass(clock, &waker);
}

void waitPass(SampleClock& clock) { pass(clock, nullptr); }

bool transmitOnWake() {
    const auto value = platform::environmentVariable("REZ_PASS_START_TRANSMIT");
    return !(value && *value == "1");
}

void waitCoarse(SampleClock& clock) {
    const double m = std::trunc(clock.elapsedUs() + clock.carry);
    if (pacing() == Pacing::Spin) {
        if (m < 500.0)
            platform::sleepNs(2'000'000);
        else if (m > 500.0 && m < 1000.0)
            platform::sleepNs(1'000'000);
        clock.carry = clock.carry + clock.elapsedUs() - 2000.0;
        clock.restart();
        clock.lastTickUs = m;
        return;
    }
    // One sleep to the pass's end on an absolute deadline: what the sleep
    // overshoots joins the carry and comes off the next pass.
    pass(clock, nullptr);
    clock.lastTickUs = m;
}

void paceTick(SampleClock& clock) {
    if (clock.precise.load(std::memory_order_relaxed) != 0)
        waitPrecise(clock);
    else
        waitCoarse(clock);
}

}  // namespace rez
