// A small host: loads the library as a host application does, starts the
// game-source thread, marks the rig ready and reports once a second.
//
//   rez_host [--seconds N] [--library PATH]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/dynlib.h"

namespace {

struct Api {
    void (*startGamesource_Thread)();
    bool (*stopGamesource_Thread)();
    void (*setMotionsystemready)(int);
    int (*getGameID)();
    void (*getGameName)(char*);
    double (*getGameTimeFrame)();
    double (*getMotionDataTimeFrame)();
    void (*getMotionCueData)(int, double**, int*);
    void (*getOutputData)(std::uint8_t*);
};

template <class F>
bool resolve(void* library, const char* name, F& slot) {
    slot = reinterpret_cast<F>(rez::platform::findSymbol(library, name));
    if (slot == nullptr) std::fprintf(stderr, "rez_host: export %s is missing\n", name);
    return slot != nullptr;
}

std::string defaultLibrary(const char* argv0) {
#if defined(_WIN32)
    const char* file = "rezadedudid.dll";
#else
    const char* file = "librezadedudid.so";
#endif
    std::string self = argv0;
    std::size_t cut = self.find_last_of("/\\");
    return cut == std::string::npos ? std::string("./") + file : self.substr(0, cut + 1) + file;
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 10;
    std::string libraryPath = defaultLibrary(argv[0]);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--library") == 0 && i + 1 < argc) {
            libraryPath = argv[++i];
        } else {
            std::fprintf(stderr, "usage: rez_host [--seconds N] [--library PATH]\n");
            return 2;
        }
    }

    void* library = rez::platform::loadLibrary(libraryPath);
    if (library == nullptr) {
        std::fprintf(stderr, "rez_host: cannot load %s: %s\n", libraryPath.c_str(), rez::platform::lastLoadError().c_str());
        return 1;
    }
    Api api{};
    bool ok = resolve(library, "startGamesource_Thread", api.startGamesource_Thread) &&
              resolve(library, "stopGamesource_Thread", api.stopGamesource_Thread) &&
              resolve(library, "setMotionsystemready", api.setMotionsystemready) &&
              resolve(library, "getGameID", api.getGameID) && resolve(library, "getGameName", api.getGameName) &&
              resolve(library, "getGameTimeFrame", api.getGameTimeFrame) &&
              resolve(library, "getMotionDataTimeFrame", api.getMotionDataTimeFrame) &&
              resolve(library, "getMotionCueData", api.getMotionCueData) &&
              resolve(library, "getOutputData", api.getOutputData);
    if (!ok) return 1;

    std::printf("rez_host: %s loaded, running for %d s\n", libraryPath.c_str(), seconds);
    api.startGamesource_Thread();
    api.setMotionsystemready(1);
    for (int second = 1; second <= seconds; ++second) {
        rez::platform::sleepMs(1000);
        char name[21] = {};
        api.getGameName(name);
        const int game = api.getGameID();
        // While searching the tick clock measures detection passes, not ticks.
        if (game < 0)
            std::printf("[%3d s] game %2d %-20s\n", second, game, name);
        else
            std::printf("[%3d s] game %2d %-20s  game frame %8.3f ms  tick %6.3f ms\n", second, game, name,
                        api.getGameTimeFrame(), api.getMotionDataTimeFrame());
        double* cues = nullptr;
        int count = 0;
        api.getMotionCueData(2, &cues, &count);
        if (cues != nullptr && count >= 23)
            std::printf("        cues  lat %8.3f lon %8.3f ver %8.3f yaw %8.3f roll %8.3f pitch %8.3f belt %8.3f fan %6.1f\n",
                        cues[0], cues[1], cues[2], cues[3], cues[4], cues[5], cues[10], cues[22]);
        std::uint8_t frame[36] = {};
        api.getOutputData(frame);
        std::printf("        frame");
        for (std::uint8_t b : frame) std::printf(" %02X", b);
        std::printf("\n");
        std::fflush(stdout);
    }
    api.setMotionsystemready(0);
    bool wasStopped = api.stopGamesource_Thread();
    std::printf("rez_host: game-source thread stopped%s\n", wasStopped ? " (it was not running)" : "");
    rez::platform::freeLibrary(library);
    return 0;
}
