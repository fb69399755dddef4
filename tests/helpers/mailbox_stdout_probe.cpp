// Calls autoMessagemmf with no transport running, its standard output sent to
// a file, then waits to be killed. Whatever the file holds by then left the
// process at once: no exit flushed it.
// Usage: mailbox_stdout_probe <file>
#include <cstdio>

#include "rezadedudid.h"
#include "platform/clock.h"

int main(int argc, char** argv) {
    if (argc < 2 || std::freopen(argv[1], "w", stdout) == nullptr) return 2;
    autoMessagemmf(nullptr);
    rez::platform::sleepMs(60'000);
    return 0;
}
