// Telemetry simulator: plays one of the supported games the way that game
// publishes its telemetry, fed by a scripted drive or a recording, so that
// the library (in a host on this machine) finds the game and reads it.
//
//   rezadedudid-sim --list
//   rezadedudid-sim --game KEY [--drive NAME | --replay FILE.csv] [--slot NAME] [--seconds N]
//
// Drives: default (the game's kind), drive, flight, ride, step (a unit step at
// 1 s on --slot). Without --seconds it plays until Ctrl-C (a recording: to
// its end). `--hold` is used by the simulator itself: it stands for a game's
// process under the game's executable name until it is ended.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/clock.h"
#include "sim/drives.h"
#include "sim/game_player.h"
#include "sim/game_process.h"

namespace {

std::atomic<bool> stopRequested{false};

extern "C" void onStopSignal(int) { stopRequested.store(true); }

const char* const kUsage =
    "usage: rezadedudid-sim --list\n"
    "       rezadedudid-sim --game KEY [--drive NAME | --replay FILE.csv] [--slot NAME] [--seconds N]\n"
    "drives: default, drive, flight, ride, step (with --slot NAME)\n";

int usage(const std::string& problem) {
    std::fprintf(stderr, "rezadedudid-sim: %s\n%s", problem.c_str(), kUsage);
    return 2;
}

int help() {
    std::printf("rezadedudid-sim: plays one of the supported games the way that game publishes its telemetry,\n"
                "fed by a scripted drive or a recording, so that a host on this machine finds and reads it.\n"
                "Without --seconds it plays until Ctrl-C (a recording: to its end).\n\n%s"
                "  --list            the games, their keys and how each is played\n"
                "  --game KEY        the game to play\n"
                "  --drive NAME      default (the game's kind), drive, flight, ride, or step (a unit step at 1 s)\n"
                "  --slot NAME       the step drive's slot, e.g. lateral_accel_g or slot_42\n"
                "  --replay FILE     a recording of rezadedudid-host (--record) played back\n"
                "  --seconds N       stop after N seconds\n",
                kUsage);
    return 0;
}

void list() {
    std::printf("%-18s %-21s %8s  %s\n", "key", "name", "rate", "how it is played");
    for (const rez::sim::GameInfo& g : rez::sim::simulatedGames())
        std::printf("%-18s %-21s %5g Hz  %s\n", g.key.c_str(), g.name.c_str(), g.rateHz, g.how.c_str());
}

int hold() {
    while (!stopRequested.load()) rez::platform::sleepMs(200);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);

    std::string game, drive = "default", replay, slot;
    double seconds = 0;
    bool listGames = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string text;
        if (arg == "--hold") return hold();
        if (arg == "--help" || arg == "-h") return help();
        if (arg == "--list") {
            listGames = true;
        } else if (arg == "--game") {
            if (!value(game)) return usage("--game needs a key (--list shows them)");
        } else if (arg == "--drive") {
            if (!value(drive)) return usage("--drive needs a name");
        } else if (arg == "--replay") {
            if (!value(replay)) return usage("--replay needs a recording file");
        } else if (arg == "--slot") {
            if (!value(slot)) return usage("--slot needs a slot name");
        } else if (arg == "--seconds") {
            char* end = nullptr;
            if (!value(text)) return usage("--seconds needs a number");
            seconds = std::strtod(text.c_str(), &end);
            if (end == text.c_str() || *end != '\0' || !(seconds > 0)) return usage("--seconds needs a number above 0, not \"" + text + "\"");
        } else {
            return usage("unknown argument \"" + arg + "\"");
        }
    }
    if (listGames) {
        list();
        return 0;
    }
    if (game.empty()) return usage("say which game to play with --game KEY (--list shows them)");
    if (rez::sim::gameIdOfKey(game) < 0) return usage("unknown game \"" + game + "\" (--list shows the games)");
    if (!replay.empty() && drive != "default") return usage("--drive and --replay exclude each other");
    if (!rez::sim::isDriveName(drive))
        return usage("--drive: no drive \"" + drive + "\" (" + rez::sim::kDriveNames + "; a recording goes with --replay)");

    std::string error;
    auto theDrive = rez::sim::makeDrive(replay.empty() ? drive : replay, game, error, slot);
    if (!theDrive) return usage(error);
    auto player = rez::sim::makeGamePlayer(game, error);
    if (!player) return usage(error);

    // This program stands for the games' processes itself.
    rez::sim::setProcessHolder({argv[0], {"--hold"}});
    if (!player->start(error)) {
        std::fprintf(stderr, "rezadedudid-sim: cannot play %s: %s\n", game.c_str(), error.c_str());
        return 1;
    }
    const rez::sim::GameInfo& info = rez::sim::simulatedGames()[static_cast<std::size_t>(rez::sim::gameIdOfKey(game))];
    std::printf("playing %s (%s) at %g Hz\n", info.name.c_str(), info.how.c_str(), info.rateHz);
    std::fflush(stdout);
    rez::sim::playGame(*player, *theDrive, seconds, stopRequested, nullptr);
    player->stop();
    return 0;
}
