#include "core/sample_clock.h"

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
constexpr double kTrustedMarginUs = 500.0;
constexpr int kProbeEvery = 16;
// A wake-up that already missed the end of the pass means the thread is not
// being run when it asks (another program keeps the core busy, a virtual
// machine's processor was parked). Such wake-ups come in runs, so for the
// next 50 ms the pass spins its last millisecond as the millisecond sleep
// does, where a late wake-up costs nothing.
constexpr int kCautiousPasses = 25;

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

bool spinToEndOfPass(SampleClock& clock, double e, Waker* waker) {
    while (e <= kPassUs) {
        if (waker && !waker->runIfSignalled()) return false;
        e = clock.elapsedUs();
    }
    clock.restart();
    clock.lastTickUs = e;
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

bool precise(SampleClock& clock, Waker* waker) {
    if (!clock.preciseWait) clock.preciseWait = std::make_unique<PreciseWait>();
    PreciseWait& wait = *clock.preciseWait;
    if (waker && !waker->runNow()) return false;
    if (!wait.timer.available()) return millisecondSleep(clock, waker);
    const bool learnt = wait.fixedMarginUs <= 0.0;
    const double marginUs = learnt ? wait.margin.marginUs() : wait.fixedMarginUs;
    // A timer that needs more than half a millisecond of margin (Wine's run
    // on a millisecond grid) saves little spinning and wakes later now and
    // then than the millisecond sleep does; the pass then keeps to that
    // sleep. Every sixteenth pass still tries the timer, so that the margin
    // comes down again once the timer does better.
    if (learnt && wait.cautiousPassesLeft > 0) {
        --wait.cautiousPassesLeft;
        return millisecondSleep(clock, waker);
    }
    if (learnt && wait.margin.samples() > 0 && marginUs > kTrustedMarginUs && ++wait.passesSinceProbe < kProbeEvery)
        return millisecondSleep(clock, waker);
    wait.passesSinceProbe = 0;
    const double wakeUs = kPassUs - marginUs;
    double e = clock.elapsedUs();
    if (e < wakeUs) {
        const std::int64_t deadline = clock.start + static_cast<std::int64_t>(std::llround(wakeUs * clock.ticksPerUs));
        // Only a sleep that the timer ended tells how late the timer wakes.
        bool timerEnded = true;
        if (!waker) {
            wait.timer.sleepUntil(deadline);
        } else {
            while (wait.timer.sleepUntil(deadline, waker->wake, waker->ticket)) {
                if (!waker->runNow()) return false;
                if (platform::counterNow() >= deadline) {
                    timerEnded = false;
                    break;
                }
            }
        }
        const std::int64_t woke = platform::counterNow();
        e = static_cast<double>(woke - clock.start) / clock.ticksPerUs;
        if (timerEnded) {
            wait.margin.record(static_cast<double>(woke - deadline) / clock.ticksPerUs);
            wait.lastWakeUs = e;
            if (e > kPassUs) wait.cautiousPassesLeft = kCautiousPasses;
        }
    }
    return spinToEndOfPass(clock, e, waker);
}

}  // namespace

void waitPreciseMillisecondSleep(SampleClock& clock) { millisecondSleep(clock, nullptr); }

void waitPrecise(SampleClock& clock) { precise(clock, nullptr); }

bool waitPrecise(SampleClock& clock, platform::WakeSignal& wake, WakeWork& work) {
    Waker waker{wake, work};
    return precise(clock, &waker);
}

bool transmitOnWake() {
    const auto value = platform::environmentVariable("REZ_PASS_START_TRANSMIT");
    return !(value && *value == "1");
}

void waitCoarse(SampleClock& clock) {
    const double m = std::trunc(clock.elapsedUs() + clock.carry);
    if (m < 500.0)
        platform::sleepNs(2'000'000);
    else if (m > 500.0 && m < 1000.0)
        platform::sleepNs(1'000'000);
    clock.carry = clock.carry + clock.elapsedUs() - 2000.0;
    clock.restart();
    clock.lastTickUs = m;
}

void paceTick(SampleClock& clock) {
    if (clock.precise.load(std::memory_order_relaxed) != 0)
        waitPrecise(clock);
    else
        waitCoarse(clock);
}

}  // namespace rez
