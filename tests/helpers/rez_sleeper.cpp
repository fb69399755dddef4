// Stand-in for a game's process: it only has to exist under a given name.
// Usage: rez_sleeper [seconds]   (default 60)
#include <cstdlib>

#include "platform/clock.h"

int main(int argc, char** argv) {
    long seconds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 60;
    rez::platform::sleepMs(seconds * 1000);
    return 0;
}
