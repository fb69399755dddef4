// A small host: loads the library as a host application does, starts the
// game-source thread, marks the rig ready and reports once a second.
// With --controller it also lends a thread to the serial link and plays the
// motion controller at the far end of a pseudo-terminal itself, asking it
// for its version once a second: the report then shows the link's state, its
// pass time, the frames the controller received with a valid checksum and the
// replies the host read back.
// With --multicast (Linux, as root) it runs the whole network road on this
// machine: it makes a network namespace whose wired adapter is one end of a
// veth pair, plays a UDP game (BeamNG on port 4444, a scripted drive), lends
// threads to the UDP listen thread and the multicast sender, and plays the
// network controller in a second namespace at the other end of the pair; the
// controller answers the version request the host sends once a second. The
// report then adds the frames the controller received, the cues in the last
// of them, and whether the listen thread is live.
//
//   rez_host [--seconds N] [--library PATH] [--controller | --multicast]
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/dynlib.h"
#include "sim/emulated_controller.h"

#if !defined(_WIN32)
#include <filesystem>

#include "platform/environment.h"
#include "sources/game_table.h"
#include "sim/multicast_member.h"
#include "sim/udp_game_senders.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks
#endif

namespace rez::sim {
class MulticastMember;
}

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

struct NetApi {
    void (*startUPDListenThread)();
    void (*startUPDMulticastSenderThread)();
    void (*stopREZadEdudid_Thread)();
    int (*sendMessagemmf)(const unsigned char*);
    int (*readMessagemmf)(unsigned char*);
    void (*SetInputDofLimitValue)(int, double, double);
    void (*SetRigDofLimitValue)(int, double, double);
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

#if !defined(_WIN32)
// The scripted drive: slow weaving, braking and accelerating, with body roll
// and pitch that follow, sent as BeamNG sends it, every 5 ms.
class ScriptedDrive {
public:
    ScriptedDrive() {
        thread_ = std::thread([this] {
            rez::sim::GameSender game(rez::kBeamNg);
            const std::int64_t start = rez::platform::counterNow();
            const double perS = static_cast<double>(rez::platform::counterFrequency());
            while (running_.load()) {
                const double t = static_cast<double>(rez::platform::counterNow() - start) / perS;
                const double tau = 6.283185307179586;
                rez::sim::Motion m;
                m.longitudinalSpeed = 25.0 + 8.0 * std::sin(tau * t / 10.0);
                m.lateralAccel = 4.0 * std::sin(tau * t / 6.0);
                m.longitudinalAccel = 3.0 * std::sin(tau * t / 10.0 + 1.0);
                m.verticalAccel = 0.5 * std::sin(tau * t * 1.3);
                m.yawRate = 20.0 * std::sin(tau * t / 6.0);
                m.roll = -1.5 * std::sin(tau * t / 6.0);
                m.pitch = 1.0 * std::sin(tau * t / 10.0 + 1.0);
                m.rollRate = -1.5 * tau / 6.0 * std::cos(tau * t / 6.0);
                m.pitchRate = tau / 10.0 * std::cos(tau * t / 10.0 + 1.0);
                m.speed = m.longitudinalSpeed;
                game.send(m);
                rez::platform::sleepMs(5);
            }
        });
    }
    ~ScriptedDrive() {
        running_ = false;
        thread_.join();
    }

private:
    std::atomic<bool> running_{true};
    std::thread thread_;
};
#endif

// The six rig cues of a cue frame (little-endian floats from byte 2).
void printRigCues(const char* where, const std::uint8_t* frame) {
    double rig[6];
    for (int i = 0; i < 6; ++i) {
        std::uint32_t bits = 0;
        for (int b = 3; b >= 0; --b) bits = bits << 8 | frame[2 + 4 * i + b];
        float value;
        std::memcpy(&value, &bits, sizeof value);
        rig[i] = static_cast<double>(value);
    }
    std::printf("        %-22s lat %8.3f lon %8.3f ver %8.3f yaw %8.3f roll %8.3f pitch %8.3f\n", where, rig[0], rig[1],
                rig[2], rig[3], rig[4], rig[5]);
}

struct Settings {
    int seconds = 10;
    bool withController = false;
    bool withMulticast = false;
    std::string libraryPath;
};

// Loads the library and runs the host for the given seconds; with `member`
// (the multicast mode, inside the namespace) also the network road. The
// process's exit code.
int runHost(const Settings& settings, rez::sim::MulticastMember* member) {
    const int seconds = settings.seconds;
    const bool withController = settings.withController;
    const std::string& libraryPath = settings.libraryPath;
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
    NetApi net{};
    if (member != nullptr) {
        ok = resolve(library, "startUPDListenThread", net.startUPDListenThread) &&
             resolve(library, "startUPDMulticastSenderThread", net.startUPDMulticastSenderThread) &&
             resolve(library, "stopREZadEdudid_Thread", net.stopREZadEdudid_Thread) &&
             resolve(library, "sendMessagemmf", net.sendMessagemmf) &&
             resolve(library, "readMessagemmf", net.readMessagemmf) &&
             resolve(library, "SetInputDofLimitValue", net.SetInputDofLimitValue) &&
             resolve(library, "SetRigDofLimitValue", net.SetRigDofLimitValue);
        if (!ok) return 1;
    }

    std::printf("rez_host: %s loaded, running for %d s\n", libraryPath.c_str(), seconds);
    rez::sim::EmulatedController controller;
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
    static const unsigned char versionRequest[] = {0xF9, 0xF9, 0x02, 0x00, 0x01, 0x00, 0x0A, 0x0D};
#if !defined(_WIN32)
    rez::sim::MulticastMember* networkController = member;
    std::thread listenThread, senderThread;
    std::unique_ptr<ScriptedDrive> drive;
    std::uint64_t framesBefore = 0;
    int netReplies = 0;
    if (networkController != nullptr) {
        // Without limits every cue would be held at 0.
        for (int c = 0; c < 8; ++c) net.SetInputDofLimitValue(c, -100, 100);
        for (int i = 0; i < 6; ++i) net.SetRigDofLimitValue(i, -100, 100);
        listenThread = std::thread([&] { net.startUPDListenThread(); });
        senderThread = std::thread([&] { net.startUPDMulticastSenderThread(); });
        // The mailbox takes messages once a UDP loop runs.
        bool queued = false;
        for (int i = 0; i < 500 && !queued; ++i) {
            queued = net.sendMessagemmf(versionRequest) == 1;
            if (!queued) rez::platform::sleepMs(10);
        }
        std::printf("rez_host: wired adapter e1 10.9.0.1, network controller at 10.9.0.2 (group 232.11.12.14:51324,"
                    " answers to port 53241)%s\n",
                    queued ? "" : "; the UDP loops did not start (see error_log.txt)");
        drive = std::make_unique<ScriptedDrive>();
        std::printf("rez_host: BeamNG drive on 127.0.0.1:4444\n");
    }
#else
    (void)member;
#endif
    api.startGamesource_Thread();
    api.setMotionsystemready(1);
    for (int second = 1; second <= seconds; ++second) {
        if (withController) link.sendMessagemmf(versionRequest);
#if !defined(_WIN32)
        if (networkController != nullptr) net.sendMessagemmf(versionRequest);
#endif
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
        // The cue array is the engine's own, rewritten by every tick; while a
        // game is online the host reads the six rig cues from its copy of the
        // frame instead.
        if (member == nullptr) api.getMotionCueData(2, &cues, &count);
        if (cues != nullptr && count >= 23)
            std::printf("        cues  lat %8.3f lon %8.3f ver %8.3f yaw %8.3f roll %8.3f pitch %8.3f belt %8.3f fan %6.1f\n",
                        cues[0], cues[1], cues[2], cues[3], cues[4], cues[5], cues[10], cues[22]);
        std::uint8_t frame[36] = {};
        api.getOutputData(frame);
        std::printf("        frame");
        for (std::uint8_t b : frame) std::printf(" %02X", b);
        std::printf("\n");
        if (member != nullptr) printRigCues("rig cues in the frame", frame);
#if !defined(_WIN32)
        if (networkController != nullptr) {
            // The listen thread hands replies to readMessagemmf only while it
            // is live, so a reply read is the sign that it is.
            unsigned char reply[512];
            int readNow = 0;
            while (net.readMessagemmf(reply) > 0) ++readNow;
            netReplies += readNow;
            const auto counts = networkController->counts();
            std::printf("        controller got %llu frames this second, %llu in all (CRC ok %llu, bad %llu);"
                        " answered %llu; listen %s, replies read %d\n",
                        static_cast<unsigned long long>(counts.datagrams - framesBefore),
                        static_cast<unsigned long long>(counts.datagrams), static_cast<unsigned long long>(counts.checksummed),
                        static_cast<unsigned long long>(counts.bad), static_cast<unsigned long long>(counts.answers),
                        readNow > 0 ? "live" : "not live", netReplies);
            framesBefore = counts.datagrams;
            const auto latest = networkController->receivedFrom(counts.datagrams > 0 ? counts.datagrams - 1 : 0);
            if (!latest.empty() && latest.back().bytes.size() == 36 && latest.back().bytes[0] == 0xFC)
                printRigCues("at the controller", latest.back().bytes.data());
        }
#endif
        std::fflush(stdout);
    }
    api.setMotionsystemready(0);
    if (withController) {
        link.stopREZadEdudid_Thread();
        linkThread.join();
        std::printf("rez_host: serial link stopped\n");
    }
#if !defined(_WIN32)
    if (networkController != nullptr) {
        drive.reset();
        net.stopREZadEdudid_Thread();
        listenThread.join();
        senderThread.join();
        std::printf("rez_host: UDP listen thread and multicast sender stopped\n");
    }
#endif
    bool wasStopped = api.stopGamesource_Thread();
    std::printf("rez_host: game-source thread stopped%s\n", wasStopped ? " (it was not running)" : "");
    rez::platform::freeLibrary(library);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    settings.libraryPath = defaultLibrary(argv[0]);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            settings.seconds = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--library") == 0 && i + 1 < argc) {
            settings.libraryPath = argv[++i];
        } else if (std::strcmp(argv[i], "--controller") == 0) {
            settings.withController = true;
        } else if (std::strcmp(argv[i], "--multicast") == 0) {
            settings.withMulticast = true;
        } else {
            std::fprintf(stderr, "usage: rez_host [--seconds N] [--library PATH] [--controller | --multicast]\n");
            return 2;
        }
    }
#if !defined(_WIN32)
    // The library's network log (the UDP ports of the game probe, the UDP
    // loops) goes to the temporary folder unless told otherwise: a Documents
    // folder may not exist here.
    if (!rez::platform::environmentVariable("REZ_DOCUMENTS_DIR"))
        rez::platform::setEnvironmentVariable("REZ_DOCUMENTS_DIR", std::filesystem::temp_directory_path().string());
    std::printf("rez_host: network log in %s/error_log.txt\n", rez::platform::environmentVariable("REZ_DOCUMENTS_DIR")->c_str());
#endif
    if (!settings.withMulticast) return runHost(settings, nullptr);
#if defined(_WIN32)
    std::fprintf(stderr, "rez_host: --multicast needs Linux network namespaces; it is not available on Windows\n");
    return 2;
#else
    if (settings.withController) {
        std::fprintf(stderr, "rez_host: choose one controller: --controller (serial) or --multicast (network)\n");
        return 2;
    }
    rez::sim::MemberOptions options;
    options.version = 328;
    int exitCode = 0;
    const auto run = rez::sim::runInNetwork(
        [&](rez::sim::MulticastMember& member) {
            exitCode = runHost(settings, &member);
            return exitCode == 0 ? std::string() : "the host ended with " + std::to_string(exitCode);
        },
        options);
    switch (run.outcome) {
        case rez::sim::NetworkRun::Ran:
            if (run.text.empty()) return 0;
            std::fprintf(stderr, "rez_host: %s\n", run.text.c_str());
            return 1;
        case rez::sim::NetworkRun::NoNamespace:
            std::fprintf(stderr,
                         "rez_host: --multicast makes a network namespace and a veth pair, which needs root and the ip "
                         "tool: %s\n",
                         run.text.c_str());
            return 1;
        case rez::sim::NetworkRun::MemberFailed:
            std::fprintf(stderr, "rez_host: the veth pair or the network controller could not be set up: %s\n",
                         run.text.c_str());
            return 1;
        case rez::sim::NetworkRun::ChildFailed:
            std::fprintf(stderr, "rez_host: the host in the namespace failed: %s\n", run.text.c_str());
            return 1;
    }
    return 1;
#endif
}
