#pragma once
// Monotonic high-resolution counter, sleeps and timer resolution.
// Every sleep in the library goes through sleepNs/sleepMs: on Windows they use
// Sleep (mingw's sleep_until returns at once under Wine), on Linux clock_nanosleep.
#include <cstdint>

namespace rez::platform {

// Current value of the performance counter (QueryPerformanceCounter on
// Windows, CLOCK_MONOTONIC in nanoseconds on Linux).
std::int64_t counterNow();
// Counter ticks per second.
std::int64_t counterFrequency();

// Sleeps at least `ns` nanoseconds (Windows rounds up to whole milliseconds).
void sleepNs(std::int64_t ns);
void sleepMs(std::int64_t ms);

// Asks for a 1 ms system timer resolution (timeBeginPeriod(1)); never ended.
void requestTimerResolution();

// CPU time consumed by the calling thread, in nanoseconds (for benchmarks).
std::int64_t threadCpuTimeNs();

}  // namespace rez::platform
