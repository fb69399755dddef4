#include "platform/console.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace rez::platform {

namespace {

std::atomic<int> requests{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free counter");

void onSignal(int) { requests.fetch_add(1); }

}  // namespace

bool standardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

void catchStopRequests() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

int stopRequests() { return requests.load(); }

}  // namespace rez::platform
