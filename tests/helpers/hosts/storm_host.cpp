// A host that loads the library, lends threads to its loops, starts the
// game-source thread, and unloads the library with all of them still
// running; then loads it again, stops everything and unloads it for good.
// Many cycles, in an order drawn from the seed.
//
//   storm_host <library> <cycles> <seed>
//
// Exit codes: 0 fine, 2 usage or load failure, 5 library gone under running
// threads, 6 library still loaded after everything stopped, 7 the game-source
// thread was not running after the reload, 8 a lent thread did not return.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/dynlib.h"
#include "tools/host/api.h"

namespace {

using Library = rez::host::Library;

struct Lent {
    std::atomic<bool> returned{false};
    std::thread thread;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: storm_host <library> <cycles> <seed>\n");
        return 2;
    }
    const std::string path = argv[1];
    const int cycles = std::atoi(argv[2]);
    std::mt19937 rng(static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)));
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    for (int cycle = 0; cycle < cycles; ++cycle) {
        Library lib;
        if (!rez::host::loadOrReport(lib, path)) return 2;
        lib.api.setStandartPort("COM250");  // a port that does not exist: the link searches
        std::vector<Lent> lent(3);
        // The game-source thread holds the library while it runs, so the
        // host's unload below must leave the library where it is.
        lib.api.startGamesource_Thread();
        // One thread for each loop, as a host lends them, in a random order.
        int order[3] = {0, 1, 2};
        std::shuffle(order, order + 3, rng);
        for (int i = 0; i < 3; ++i) {
            const int which = order[i];
            Lent& l = lent[static_cast<std::size_t>(i)];
            const auto link = lib.api.startREZadEdudid_Thread;
            const auto listen = lib.api.startUPDListenThread;
            const auto sender = lib.api.startUPDMulticastSenderThread;
            l.thread = std::thread([&l, link, listen, sender, which] {
                if (which == 0) link();
                else if (which == 1) listen();
                else sender();
                l.returned = true;
            });
        }
        rez::platform::sleepMs(static_cast<int>(rng() % 20));
        const Library first = lib;
        lib.unload();
        rez::platform::sleepMs(static_cast<int>(rng() % 10));
        if (!rez::platform::libraryLoaded(path)) return 5;

        if (!rez::host::loadOrReport(lib, path)) return 2;
        if (lib.api.startREZadEdudid_Thread != first.api.startREZadEdudid_Thread) return 5;  // it was unloaded and loaded anew
        for (int tries = 0; tries < 20000; ++tries) {
            bool all = true;
            for (const Lent& l : lent) all = all && l.returned.load();
            if (all) break;
            lib.api.stopREZadEdudid_Thread();
            rez::platform::sleepMs(1);
        }
        for (Lent& l : lent) {
            if (!l.returned.load()) std::_Exit(8);  // the thread cannot be joined
            l.thread.join();
        }
        if (lib.api.stopGamesource_Thread()) return 7;
        lib.unload();
        if (rez::platform::libraryLoaded(path)) return 6;
    }
    return 0;
}
