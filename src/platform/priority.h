#pragma once
// Priorities for the 2 ms loops. Best effort: a refusal is never fatal.

namespace rez::platform {

// Windows: REALTIME_PRIORITY_CLASS for the process. Linux: nothing, since a
// busy-waiting real-time thread can starve a 2-core machine.
void raiseProcessPriority();
// Windows: THREAD_PRIORITY_TIME_CRITICAL. Linux: SCHED_FIFO only when the
// environment variable REZ_REALTIME is set to 1.
void raiseThreadPriority();

// For a loop that runs on a thread the host lent: raises the thread (and, on
// Windows, the process class and the 1 ms timer period) as above while it
// lives, and gives back what it found when the loop returns. The thread goes
// back to its own priority; the process class goes back only when no other
// lent loop still runs and nothing else in the library raised it for good.
class LentThreadPriority {
public:
    LentThreadPriority();
    ~LentThreadPriority();
    LentThreadPriority(const LentThreadPriority&) = delete;
    LentThreadPriority& operator=(const LentThreadPriority&) = delete;

private:
    int threadPriority_ = 0;  // Windows: the thread's level; Linux: the scheduling priority
    int threadPolicy_ = 0;    // Linux: the scheduling policy
    bool threadRaised_ = false;
};

// The calling thread's scheduling as one comparable number (policy and
// level), so a test can tell whether a lent thread came back as it went.
long threadSchedulingNow();

}  // namespace rez::platform
