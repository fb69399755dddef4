// A small host: loads the library as a host application does, starts the
// game-source thread, marks the rig ready and reports once a second.
// With --controller it also lends a thread to the serial link and plays the
// motion controller at the far end of a pseudo-terminal itself, asking it
// for its version once a second: the report then shows the link's state, its
// pass time, the frames the controller received with a valid checksum and the
// replies the host read back.
//
//   rez_host [--seconds N] [--library PATH] [--controller]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/dynlib.h"
#include "tests/support/emulated_controller.h"

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

struct LinkApi {
    int (*startREZadEdudid_Thread)();
    void (*stopREZadEdudid_Thread)();
    int (*setStandartPort)(const char*);
    int (*resumeInterface)();
    int (*isConnected)();
    double (*getOutputTimeFrame)();
    int (*sendMessagemmf)(const unsigned char*);
    int (*readMessagemmf)(unsigned char*);
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
    bool withController = false;
    std::string libraryPath = defaultLibrary(argv[0]);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--library") == 0 && i + 1 < argc) {
            libraryPath = argv[++i];
        } else if (std::strcmp(argv[i], "--controller") == 0) {
            withController = true;
        } else {
            std::fprintf(stderr, "usage: rez_host [--seconds N] [--library PATH] [--controller]\n");
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
    LinkApi link{};
    if (withController) {
        ok = resolve(library, "startREZadEdudid_Thread", link.startREZadEdudid_Thread) &&
             resolve(library, "stopREZadEdudid_Thread", link.stopREZadEdudid_Thread) &&
             resolve(library, "setStandartPort", link.setStandartPort) &&
             resolve(library, "resumeInterface", link.resumeInterface) &&
             resolve(library, "isConnected", link.isConnected) &&
             resolve(library, "getOutputTimeFrame", link.getOutputTimeFrame) &&
             resolve(library, "sendMessagemmf", link.sendMessagemmf) &&
             resolve(library, "readMessagemmf", link.readMessagemmf);
        if (!ok) return 1;
    }

    std::printf("rez_host: %s loaded, running for %d s\n", libraryPath.c_str(), seconds);
    rez::test::EmulatedController controller;
    std::thread linkThread;
    int repliesRead = 0;
    if (withController) {
        std::string why;
        controller.setVersion(328);
        if (!controller.open(why)) {
            std::fprintf(stderr, "rez_host: no line for the controller: %s\n", why.c_str());
            return 1;
        }
        if (!controller.hasUsbIdentity())
            std::printf("rez_host: %s has no USB identity here, so the link will not take it\n", controller.portName().c_str());
        linkThread = std::thread([&] { link.startREZadEdudid_Thread(); });
        rez::platform::sleepMs(100);  // the loop is running
        link.setStandartPort(controller.portName().c_str());
        const int resumed = link.resumeInterface();
        std::printf("\nrez_host: controller emulated on %s, resumeInterface %d\n", controller.portName().c_str(), resumed);
    }
    api.startGamesource_Thread();
    api.setMotionsystemready(1);
    static const unsigned char versionRequest[] = {0xF9, 0xF9, 0x02, 0x00, 0x01, 0x00, 0x0A, 0x0D};
    for (int second = 1; second <= seconds; ++second) {
        if (withController) link.sendMessagemmf(versionRequest);
        rez::platform::sleepMs(1000);
        if (withController) {
            unsigned char reply[512];
            while (link.readMessagemmf(reply) > 0) ++repliesRead;
            const auto counts = controller.counts();
            std::printf("[%3d s] link %s  pass %6.3f ms  controller got %llu frames (bad CRC %llu)  replies read %d\n",
                        second, link.isConnected() ? "connected" : "searching", link.getOutputTimeFrame(),
                        static_cast<unsigned long long>(counts.frames), static_cast<unsigned long long>(counts.badChecksums),
                        repliesRead);
        }
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
    if (withController) {
        link.stopREZadEdudid_Thread();
        linkThread.join();
        std::printf("rez_host: serial link stopped\n");
    }
    bool wasStopped = api.stopGamesource_Thread();
    std::printf("rez_host: game-source thread stopped%s\n", wasStopped ? " (it was not running)" : "");
    rez::platform::freeLibrary(library);
    return 0;
}
