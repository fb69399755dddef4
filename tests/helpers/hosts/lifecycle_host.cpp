// A host that loads the library the way an application does, brings the
// game-source thread into a state, and then leaves without stopping it:
// it unloads the library or ends the process. The test that starts it only
// looks at how and when it ends.
//
//   lifecycle_host <library> <state> <end> <cycles> <delayMs> [port] [goFile]
//
// state: search  the thread is searching (no game),
//        tick    a game (published by the test) is online and ticking,
//        fan     as tick, with the fan port configured on <port>; the host
//                waits for <goFile> to appear before it ends.
// end:   unload  unload while the thread runs, then keep running a while
//                (code pulled from under the thread would crash now) and
//                return from main,
//        exit    exit() without any stop,
//        reload  <cycles> times: start, unload while running, check that the
//                library stayed loaded, load it again, stop, unload, check
//                that it is gone.
// An atexit handler, registered before the library is loaded, runs after the
// library's own teardown and keeps the process alive a little longer.
// Exit codes: 0 fine, 2 usage or load failure, 3 state not reached, 4 fan
// port refused, 5 library unloaded under a running thread, 6 library still
// loaded after a stop, 7 no go file.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/clock.h"
#include "platform/dynlib.h"
#include "tools/host/api.h"

namespace {

using Library = rez::host::Library;

void workAfterTeardown() { rez::platform::sleepMs(150); }

template <class F>
bool waitFor(F condition, int ms) {
    for (int i = 0; i < ms; ++i) {
        if (condition()) return true;
        rez::platform::sleepMs(1);
    }
    return condition();
}

// Brings the thread into the asked state; 0 or an exit code.
int enterState(Library& lib, const std::string& state, int delayMs, const std::string& port,
               const std::string& goFile) {
    if (state == "fan") {
        const std::wstring wide(port.begin(), port.end());
        if (!lib.api.initWindSerial(wide.c_str(), 9600, L"8N1", 15)) return 4;
    }
    if (state != "search") lib.api.setMotionsystemready(1);
    lib.api.startGamesource_Thread();
    if (state == "search") {
        rez::platform::sleepMs(delayMs);
        return 0;
    }
    // The fade restarts at 0 when the game comes online and only ticks move
    // it, so a fade above 0 with the game online means ticks are running.
    if (!waitFor([&] { return lib.api.getGameID() >= 0 && lib.api.getTransitionStatus() > 0.0; }, 15000)) return 3;
    if (state == "fan" && !waitFor([&] { return std::filesystem::exists(goFile); }, 15000)) return 7;
    rez::platform::sleepMs(delayMs);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: lifecycle_host <library> <state> <end> <cycles> <delayMs> [port] [goFile]\n");
        return 2;
    }
    const std::string path = argv[1];
    const std::string state = argv[2];
    const std::string end = argv[3];
    const int cycles = std::atoi(argv[4]);
    const int delayMs = std::atoi(argv[5]);
    const std::string port = argc > 6 ? argv[6] : "";
    const std::string goFile = argc > 7 ? argv[7] : "";
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::atexit(workAfterTeardown);

    Library lib;
    if (end == "reload") {
        for (int cycle = 0; cycle < cycles; ++cycle) {
            if (!rez::host::loadOrReport(lib, path)) return 2;
            if (int code = enterState(lib, state, delayMs + 13 * cycle % 40, port, goFile); code != 0) return code;
            lib.unload();
            rez::platform::sleepMs(30);
            if (!rez::platform::libraryLoaded(path)) return 5;
            if (!rez::host::loadOrReport(lib, path)) return 2;
            if (lib.api.stopGamesource_Thread()) {
                std::fprintf(stderr, "the thread was not running after the reload\n");
                return 5;
            }
            lib.unload();
            if (rez::platform::libraryLoaded(path)) return 6;
        }
        return 0;
    }

    if (!rez::host::loadOrReport(lib, path)) return 2;
    if (int code = enterState(lib, state, delayMs, port, goFile); code != 0) return code;
    if (end == "exit") std::exit(0);
    lib.unload();
    rez::platform::sleepMs(200);
    return 0;
}
