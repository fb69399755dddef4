#pragma once
// Priorities for the 2 ms loops. Best effort: a refusal is never fatal.

namespace rez::platform {

// Windows: REALTIME_PRIORITY_CLASS for the process. Linux: nothing, since a
// busy-waiting real-time thread can starve a 2-core machine.
void raiseProcessPriority();
// Windows: THREAD_PRIORITY_TIME_CRITICAL. Linux: SCHED_FIFO only when the
// environment variable REZ_REALTIME is set to 1.
void raiseThreadPriority();

}  // namespace rez::platform
