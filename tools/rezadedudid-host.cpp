// rezadedudid-host: a host of the library, as a rig owner would run one.
// It loads the library as any host does, hands it a profile (filters,
// limits, belt mix, enable flags, motion cancel, fan port), plays a
// simulated game in-process, starts the engine and a road to a motion
// controller, and shows a live status line until --seconds have passed or
// Ctrl-C. On the way out it sends the rig to rest: every channel is switched
// off, so the outputs glide to zero over the library's 4 s fade while the
// engine still ticks; then the rig is marked not ready, the link stopped and
// the engine's thread stopped, which stops the fan.
//
//   rezadedudid-host [--library PATH] [--profile FILE] [--game KEY|none]
//                    [--drive NAME | --replay FILE.csv]
//                    [--transport none|emulated|serial:COMn|multicast]
//                    [--controller-report PORT]
//                    [--seconds N] [--record FILE.csv] [--summary] [--plot PREFIX]
//                    [--ui [PORT]]
//
// --ui [PORT]: the live tuning page on 127.0.0.1 (tools/host/ui_server.h,
// docs/ui.md); its port is taken before the library is loaded.
// --controller-report PORT: with serial:COMn, the controller on that port is
// rezadedudid-controller, which tells on 127.0.0.1:PORT what reached it, so
// the summary can count it (the Windows host under Wine, scripts/main-job.sh
// --windows).
// --game none plays no simulated game: the engine finds a real one.
// --controller and --multicast are the older spellings of --transport
// emulated and --transport multicast.
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/dynlib.h"
#include "platform/environment.h"
#include "platform/run_program.h"
#include "platform/thread_name.h"
#include "sim/emulated_controller.h"
#include "tools/host/api.h"
#include "tools/host/controller_report.h"
#include "tools/host/profile.h"
#include "tools/host/recorder.h"
#include "tools/host/status.h"
#include "tools/host/summary.h"
#include "tools/host/transport.h"
#if REZ_HAVE_UI
#include "tools/host/ui_server.h"
#endif

#include "sim/game_player.h"
#include "sim/game_process.h"
#include "sim/multicast_member.h"

namespace rez::host {
class UiServer;
}

namespace {

using rez::host::Api;

struct Options {
    std::string library;
    std::string profile;  // empty: the built-in one
    std::string game = "assetto_corsa";
    std::string drive = "default";
    std::string replay;
    std::string slot;  // the step drive's slot
    std::string transport = "emulated";
    int controllerReport = 0;  // the controller's report port; 0: none
    double seconds = 0;  // 0: until Ctrl-C
    std::string record;
    bool summary = false;
    std::string plot;
    int ui = -1;  // the tuning page's port; -1: no page
    std::string self;  // argv[0]
};

const char* const kUsage =
    "usage: rezadedudid-host [--library PATH] [--profile FILE] [--game KEY|none] [--drive NAME [--slot NAME] | --replay FILE.csv]\n"
    "                        [--transport none|emulated|serial:COMn|multicast] [--controller-report PORT] [--seconds N]\n"
    "                        [--record FILE.csv] [--summary] [--plot PREFIX] [--ui [PORT]]\n";

const char* const kHelp =
    "rezadedudid-host: a host of the library, as a rig owner would run one. It loads the library, hands it\n"
    "a profile, plays a simulated game in-process, starts the engine and a road to a motion controller,\n"
    "and shows a status line until --seconds have passed or Ctrl-C; then it sends the rig to rest.\n\n"
    "  --library PATH          the library (default: the one beside this program)\n"
    "  --profile FILE          a profile file (default: the built-in one; see docs/profile-format.md)\n"
    "  --game KEY|none         the game to play (default assetto_corsa; rezadedudid-sim --list shows the keys;\n"
    "                          none: the engine waits for a real game)\n"
    "  --drive NAME            default, drive, flight, ride, or step with --slot NAME\n"
    "  --replay FILE.csv       a recording of this program played back instead of a drive\n"
    "  --transport T           emulated (a controller emulated here, the default), serial:COMn, multicast, none\n"
    "  --controller-report P   with serial:COMn: rezadedudid-controller's report port on 127.0.0.1\n"
    "  --seconds N             run N seconds, then rest the rig (0 or none: until Ctrl-C)\n"
    "  --record FILE.csv       record every tick\n"
    "  --summary               print the end-of-run figures\n"
    "  --plot PREFIX           plot the recording to PREFIX.png and PREFIX.svg\n"
#if REZ_HAVE_UI
    "  --ui [PORT]             the live tuning page on 127.0.0.1:PORT (default 8765; 0: any free port), at the\n"
    "                          address printed with its token: the rig cues and game channels live, the\n"
    "                          filter strings, enable flags, belt mix and limits edited live, save profile,\n"
    "                          record (docs/ui.md)\n\n"
#else
    "  --ui [PORT]             the live tuning page: not in this build (Boost.Beast and nlohmann-json were\n"
    "                          missing when it was built: run scripts/install-deps.sh and build again)\n\n"
#endif
    "The status shows the engine's ticks per second (LOW under 475) and its tick jitter, where the outputs\n"
    "are (fading in, live, held while the game is paused, to rest, at rest), the air/ground blend of the\n"
    "flight simulators, the ticks read back from the engine, the cue frames that reached the controller\n"
    "(where the host sees it) and the controller's answers to the version requests sent once a second.\n\n"
    "Exit codes: 0 the rig was brought to rest; 1 the library, the port, the controller or the recording\n"
    "failed (a serial port that is missing, or where no controller answers within 5 s, ends the run before\n"
    "the rig moves); 2 a wrong option; 3 the rest was skipped (Ctrl-C again, or the outputs did not reach\n"
    "rest in time): the rig holds its last position.\n\n";

std::string besideProgram(const char* argv0, const std::string& file) {
    std::string self = argv0;
    const std::size_t cut = self.find_last_of("/\\");
    return cut == std::string::npos ? "./" + file : self.substr(0, cut + 1) + file;
}

std::string defaultLibrary(const char* argv0) {
#if defined(_WIN32)
    return besideProgram(argv0, "rezadedudid.dll");
#else
    return besideProgram(argv0, "librezadedudid.so");
#endif
}

double now(std::int64_t start) {
    return static_cast<double>(rez::platform::counterNow() - start) / static_cast<double>(rez::platform::counterFrequency());
}

// The game, played in this process; it notes when it published a changed
// sample, so that the summary can time the way to the wire.
class GameRun {
public:
    explicit GameRun(std::int64_t start) : start_(start) {}
    ~GameRun() { stop(); }

    bool start(const Options& o, std::string& error) {
        if (o.game == "none") {
            what_ = "no simulated game: the engine waits for a real one";
            return true;
        }
        player_ = rez::sim::makeGamePlayer(o.game, error);
        if (!player_) return false;
        drive_ = rez::sim::makeDrive(o.replay.empty() ? o.drive : o.replay, o.game, error, o.slot);
        if (!drive_) return false;
        if (!player_->start(error)) return false;
        for (const auto& info : rez::sim::simulatedGames())
            if (info.key == o.game) what_ = info.name + " (" + info.how + ")";
        thread_ = std::thread([this] {
            rez::sim::SimState last{};
            bool first = true;
            rez::sim::playGame(*player_, *drive_, 1e9, stop_, [&](double, const rez::sim::SimState& s) {
                if (!first && std::memcmp(s.slots, last.slots, sizeof last.slots) != 0) note();
                first = false;
                last = s;
            });
        });
        return true;
    }

    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (player_) player_->stop();
    }

    const std::string& what() const { return what_; }

    std::vector<double> changes() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return changes_;
    }

private:
    void note() {
        const double t = now(start_);
        std::lock_guard<std::mutex> lock(mutex_);
        changes_.push_back(t);
    }


    std::int64_t start_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::string what_;
    mutable std::mutex mutex_;
    std::vector<double> changes_;
    std::unique_ptr<rez::sim::GamePlayer> player_;
    std::unique_ptr<rez::sim::Drive> drive_;
};

std::string gameName(const Api& api) {
    char name[32] = {};
    api.getGameName(name);
    return name;
}

std::string plotScript(const char* argv0) {
    for (const std::string& candidate : {std::string("python/plots.py"), besideProgram(argv0, "../../python/plots.py")})
        if (std::filesystem::exists(candidate)) return candidate;
    return "python/plots.py";
}

int runPlot(const char* argv0, const std::string& recording, const std::string& prefix) {
    // Debian's interpreter, which has matplotlib; another one may be named.
#if defined(_WIN32)
    const std::string python = rez::platform::environmentVariable("REZ_PYTHON").value_or("python");
#else
    const std::string python = rez::platform::environmentVariable("REZ_PYTHON").value_or("/usr/bin/python3");
#endif
    const auto end = rez::platform::runProgram(python, {plotScript(argv0), "recording", recording, "--out", prefix}, 120000);
    if (!end.started) {
        std::fprintf(stderr, "rezadedudid-host: cannot run %s: %s\n", python.c_str(), end.whyNot.c_str());
        return 1;
    }
    if (end.exitCode != 0) {
        std::fprintf(stderr, "rezadedudid-host: the plot script ended with %ld\n", end.exitCode);
        return 1;
    }
    std::printf("plot: %s.png and %s.svg\n", prefix.c_str(), prefix.c_str());
    return 0;
}

// Loads the library, applies the profile, runs, rests the rig and stops.
// `member` is the network controller in the multicast mode. The process's exit code.
// `ui`: the tuning page's server, its port taken; null without --ui.
int runHost(const Options& o, const rez::host::Profile& profile, const rez::host::TransportChoice& choice,
            rez::host::UiServer* ui, rez::sim::MulticastMember* member, rez::sim::MemberClient* remoteMember = nullptr) {
    rez::host::Library library;
    std::string loadError;
    if (!library.load(o.library, loadError)) {
        std::fprintf(stderr, "rezadedudid-host: %s\n", loadError.c_str());
        return 1;
    }
    const Api& api = library.api;
    std::vector<std::string> errors;
    if (!rez::host::applyProfile(api, profile, errors)) {
        for (const std::string& e : errors) std::fprintf(stderr, "%s\n", e.c_str());
        return 2;
    }
    const std::string builtIn = "built in for " + rez::host::defaultProfileKind(o.game) + " games (profiles/" +
                                rez::host::defaultProfileKind(o.game) + ".profile)";
    std::printf("rezadedudid-host: %s loaded, profile %s\n", o.library.c_str(),
                o.profile.empty() ? builtIn.c_str() : profile.fileName.c_str());

    // The summary's window runs from here to the moment the rig is sent to
    // rest; the library's threads are sampled at both ends.
    const std::vector<rez::platform::ThreadCpu> threadsAtStart = rez::platform::libraryThreadsCpu();
    const std::int64_t start = rez::platform::counterNow();
    rez::host::HistoryFetcher histories(api);
    histories.discard();
    const bool wantSummary = o.summary;
    histories.keepTicks(wantSummary);
    std::string recordPath = o.record;
    if (recordPath.empty() && !o.plot.empty()) recordPath = o.plot + ".csv";

    std::unique_ptr<rez::host::Transport> transport;
    switch (choice.kind) {
        case rez::host::TransportChoice::None: transport = rez::host::makeNoTransport(); break;
        case rez::host::TransportChoice::Emulated: transport = rez::host::makeEmulatedTransport(); break;
        case rez::host::TransportChoice::Serial:
            transport = o.controllerReport > 0
                            ? rez::host::makeReportedSerialTransport(choice.port, static_cast<std::uint16_t>(o.controllerReport))
                            : rez::host::makeSerialTransport(choice.port);
            break;
        case rez::host::TransportChoice::Multicast:
            if (remoteMember) transport = rez::host::makeRemoteMulticastTransport(*remoteMember);
#if !defined(_WIN32)
            else transport = rez::host::makeMulticastTransport(*member);
#endif
            break;
    }
    (void)member;
    std::string why;
    if (!transport || !transport->start(api, why)) {
        std::fprintf(stderr, "rezadedudid-host: %s\n", why.c_str());
        return 1;
    }
    if (!why.empty()) std::printf("rezadedudid-host: %s\n", why.c_str());
    std::printf("rezadedudid-host: %s\n", transport->describe().c_str());
#if REZ_HAVE_UI
    // The page's threads call the library through `api`: they end on every way out of here.
    struct StopUi {
        rez::host::UiServer* ui;
        ~StopUi() {
            if (ui) ui->stop();
        }
    } stopUi{ui};
    if (ui) {
        ui->start(api, transport->describe());
        std::printf("rezadedudid-host: tuning page at %s\n", ui->address().c_str());
    }
#else
    (void)ui;
#endif

    GameRun game(start);
    if (!game.start(o, why)) {
        std::fprintf(stderr, "rezadedudid-host: game %s: %s\n", o.game.c_str(), why.c_str());
        transport->stop();
        return 2;
    }
    std::printf("rezadedudid-host: playing %s\n", game.what().c_str());

    api.startGamesource_Thread();
    api.setMotionsystemready(1);
    // The file being recorded to now (the tuning page starts and stops
    // recordings too), and the ticks paired before it was opened.
    std::string recording;
    std::int64_t recordingFrom = 0;
    if (!recordPath.empty()) {
        // The recording names the game once the engine has found it.
        rez::sim::EmulatedController::waitUntil([&] { return api.getGameID() >= 0; }, 5000);
        if (!histories.openRecording(recordPath, gameName(api), why)) {
            std::fprintf(stderr, "rezadedudid-host: cannot record to %s: %s\n", recordPath.c_str(), why.c_str());
            recordPath.clear();
        }
        recording = recordPath;
    }
#if REZ_HAVE_UI
    if (ui) ui->setRecording(recording);
#endif
    fflush(stdout);

    rez::host::StatusPrinter printer(stdout, rez::platform::standardOutputIsTerminal());
    rez::host::SummaryInput input;
    for (int i = 0; i < 6; ++i) input.rigMinimum[i] = input.rigMaximum[i] = 0;
    for (const auto& l : profile.rigLimits)
        if (l.index < 6) input.rigMinimum[l.index] = l.minimum, input.rigMaximum[l.index] = l.maximum;
    static const unsigned char versionRequest[] = {0xF9, 0xF9, 0x02, 0x00, 0x01, 0x00, 0x0A, 0x0D};
    int requests = 0, replies = 0;
    double jitterSinceLine = 0;
    double onlineSince = -1;  // when the engine last found the game; -1 while it has none
    double lastFade = 0;
    bool warnedLowTicks = false, warnedSilent = false;
    std::deque<std::pair<double, std::int64_t>> tickClock;  // (seconds, ticks paired) of the last second
    double nextFetch = 0, nextLine = 0, nextSecond = 1;
    std::int64_t pairedAtSecond = 0;
    bool restWait = false;
    double restAt = 0, restDeadline = 0;
    std::int64_t ticksAtRest = 0;

    // The six rig cues of the last frame the engine posted: where the rig is.
    auto lastCues = [&] {
        std::array<std::uint8_t, 36> frame{};
        api.getOutputData(frame.data());
        return rez::host::rigCuesOfFrame(frame);
    };
    // Whether the rest is over: the fade done and the last frame at rest.
    auto restDone = [&] {
        return rez::host::outputState(api.getGameID() >= 0, true, api.getTransitionStatus(), 0,
                                      rez::host::outputsAtRest(lastCues(), input.rigMinimum, input.rigMaximum)) ==
               rez::host::OutputState::AtRest;
    };

    auto showStatus = [&](double t) {
        rez::host::StatusView v;
        v.seconds = t;
        v.game = gameName(api);
        v.gameId = api.getGameID();
        if (tickClock.size() >= 2) {
            const double span = tickClock.back().first - tickClock.front().first;
            if (span > 0) v.ticksPerSecond = static_cast<double>(tickClock.back().second - tickClock.front().second) / span;
        }
        v.jitterMs = jitterSinceLine;
        jitterSinceLine = 0;
        v.fadePercent = api.getTransitionStatus();
        v.groundState = api.getactiveProfil();
        v.airPercent = api.getProfilAirTransitionStatus();
        const auto rig = lastCues();
        for (int i = 0; i < 6; ++i) v.rig[i] = rig[i];
        v.output = rez::host::outputState(v.gameId >= 0, restWait, v.fadePercent, lastFade,
                                          rez::host::outputsAtRest(rig, input.rigMinimum, input.rigMaximum));
        lastFade = v.fadePercent;
        v.ticks = static_cast<std::uint64_t>(histories.paired());
        v.framesReceived = transport->seesController() ? static_cast<std::int64_t>(transport->cueFrameCount()) : -1;
        v.requests = requests;
        v.replies = replies;
        v.lowTickRate = rez::host::tickRateLow(v.ticksPerSecond, onlineSince < 0 ? 0 : t - onlineSince);
        v.silentController = rez::host::controllerSilent(requests, replies);
        // Each warning also gets a line of its own, once, so that it stays in a log.
        char text[200];
        if (v.lowTickRate && !warnedLowTicks) {
            warnedLowTicks = true;
            std::snprintf(text, sizeof text,
                          "rezadedudid-host: warning at %.1f s: the engine ticks %.0f times a second, under %.0f "
                          "(500 is one tick per 2 ms): the rig moves late and unevenly",
                          t, v.ticksPerSecond, rez::host::kLowTicksPerSecond);
            printer.note(text);
        }
        if (v.silentController && !warnedSilent) {
            warnedSilent = true;
            std::snprintf(text, sizeof text,
                          "rezadedudid-host: warning at %.1f s: the controller answered none of %d version requests",
                          t, requests);
            printer.note(text);
        }
        printer.show(t, rez::host::formatStatus(v));
#if REZ_HAVE_UI
        if (ui) ui->setStatus(v);
#endif
    };

#if REZ_HAVE_UI
    // What the page asked of the recording: the recorder is this loop's.
    auto serveRecordRequest = [&] {
        const auto asked = ui->takeRecordRequest();
        if (!asked) return;
        std::string error;
        if (asked->on && recording.empty()) {
            const std::string path = rez::host::pageRecordingPath();
            if (histories.openRecording(path, gameName(api), error)) {
                recording = path;
                recordingFrom = histories.paired();
                printer.note("rezadedudid-host: recording to " + path + " (asked by the tuning page)");
            }
        } else if (!asked->on && !recording.empty()) {
            const bool complete = histories.closeRecording(error);
            printer.note("rezadedudid-host: recording " + recording + " stopped by the tuning page (" +
                         std::to_string(histories.paired() - recordingFrom) + " ticks" +
                         (complete ? ")" : "; incomplete: " + error + ")"));
            recording.clear();
        }
        ui->answerRecordRequest(recording, error);
    };
#endif

    rez::platform::catchStopRequests();
    for (;;) {
        const double t = now(start);
        const bool online = api.getGameID() >= 0;
        if (!online) onlineSince = -1;
        else if (onlineSince < 0) onlineSince = t;
        if (online) {
            const double period = api.getMotionDataTimeFrame();
            input.tickPeriodsMs.push_back(period);
            jitterSinceLine = std::max(jitterSinceLine, std::fabs(period - 2.0));
        }
#if REZ_HAVE_UI
        if (ui) {
            // The page may have moved the rig limits, by which the rest is judged.
            const auto limits = ui->rigLimits();
            for (int i = 0; i < 6; ++i) input.rigMinimum[i] = limits[i].minimum, input.rigMaximum[i] = limits[i].maximum;
            serveRecordRequest();
        }
#endif
        if (t >= nextFetch) {
            histories.fetch();
#if REZ_HAVE_UI
            if (ui) ui->addTicks(histories.fresh());
#endif
            tickClock.emplace_back(t, histories.paired());
            while (tickClock.size() > 2 && t - tickClock.front().first > 1.0) tickClock.pop_front();
            nextFetch = t + 0.05;
        }
        unsigned char reply[512];
        // Only answers to our version requests count; the link's own
        // identity exchange shows up here too.
        for (int n; (n = api.readMessagemmf(reply)) > 0;)
            if (n >= 3 && reply[0] == 0xF9 && reply[2] == 0x02) ++replies;
        if (t >= nextSecond) {
            // Only whole seconds with the game on: the one in which the
            // engine found it counts a part of a second's ticks.
            if (online && !restWait && onlineSince <= nextSecond - 1)
                input.ticksPerSecond.push_back(static_cast<double>(histories.paired() - pairedAtSecond));
            pairedAtSecond = histories.paired();
            if (choice.kind != rez::host::TransportChoice::None && api.sendMessagemmf(versionRequest) == 1) ++requests;
            nextSecond += 1;
        }
        if (t >= nextLine) {
            showStatus(t);
            nextLine = t + 0.25;
        }
        const bool timeUp = o.seconds > 0 && t >= o.seconds;
        if (!restWait && (timeUp || rez::platform::stopRequests() > 0)) {
            histories.markRest();
#if REZ_HAVE_UI
            if (ui) {
                ui->addTicks(histories.fresh());
                ui->setResting();
            }
#endif
            restAt = t;
            ticksAtRest = histories.paired();
            input.threadsAtEnd = rez::platform::libraryThreadsCpu();
            // Disabled channels give 0: the fade carries every output from
            // where it is to rest, as long as the engine ticks.
            for (int p = 0; p < 2; ++p)
                for (int c = 0; c < 23; ++c) api.setActiveAxis(p, c, 0);
            restWait = true;
            // The fade runs on tick time: allow for a loaded machine's slower ticks.
            restDeadline = t + (online ? 8.0 : 0.0);
            printer.finish();
            std::printf("rezadedudid-host: sending the rig to rest (Ctrl-C again to skip)\n");
            std::fflush(stdout);
        }
        if (restWait && (t >= restDeadline || restDone() || rez::platform::stopRequests() > 1)) break;
        rez::platform::sleepMs(10);
    }
    showStatus(now(start));
    printer.finish();
#if REZ_HAVE_UI
    // Before anything is stopped: nothing the page asks may reach a library shutting down.
    if (ui) ui->stop();
#endif
    // Judged before anything is stopped: the last frame the engine posted is
    // where the rig stays.
    const rez::host::RestEnd restEnd = rez::host::judgeRestEnd(restDone(), rez::platform::stopRequests());
    const double fadeAtEnd = api.getTransitionStatus();
    const std::array<float, 6> cuesAtEnd = lastCues();
    api.setMotionsystemready(0);
    histories.fetch();
    game.stop();
    transport->stop();
    const bool wasStopped = api.stopGamesource_Thread();
    std::printf("%s\n", rez::host::restEndLine(restEnd, wasStopped, fadeAtEnd, cuesAtEnd, restDeadline - restAt).c_str());

    int code = restEnd == rez::host::RestEnd::AtRest ? 0 : rez::host::kRestSkippedExitCode;
    if (!recording.empty()) {
        if (!histories.closeRecording(why)) {
            std::fprintf(stderr, "rezadedudid-host: the recording %s is incomplete: %s\n", recording.c_str(), why.c_str());
            code = 1;
        }
        std::printf("recording: %s (%lld ticks", recording.c_str(),
                    static_cast<long long>(histories.paired() - recordingFrom));
        if (transport->seesController()) {
            rez::sim::FrameLogWriter frames;
            const std::string path = rez::sim::frameLogPath(recording);
            if (frames.open(path, why)) {
                std::int64_t index = 0;
                for (const auto& f : transport->cueFrames()) {
                    rez::sim::RecordedFrame r;
                    r.index = index++;
                    r.receivedUs = (f.arrival - start) * 1000000 / rez::platform::counterFrequency();
                    r.crcOk = f.crcOk;
                    std::memcpy(r.bytes, f.bytes.data(), std::min<std::size_t>(36, f.bytes.size()));
                    frames.write(r);
                }
                frames.close();
                std::printf(", frames in %s", path.c_str());
            }
        }
        std::printf(")\n");
    }
    if (histories.resyncs() > 0)
        std::printf("rezadedudid-host: the snapshot histories overflowed %d times between two takes\n", histories.resyncs());

    if (wantSummary) {
        input.windowS = restAt;
        input.threadsAtStart = threadsAtStart;
        input.controllerSeen = transport->seesController();
        const double perS = static_cast<double>(rez::platform::counterFrequency());
        for (const auto& f : transport->cueFrames()) {
            rez::host::SeenFrame s;
            s.atS = static_cast<double>(f.arrival - start) / perS;
            if (s.atS > restAt) break;
            s.crcOk = f.crcOk;
            std::memcpy(s.bytes.data(), f.bytes.data(), std::min<std::size_t>(36, f.bytes.size()));
            input.frames.push_back(s);
        }
        input.badChecksums = transport->badChecksums();
        input.gaps = transport->gaps();
        const auto& ticks = histories.ticks();
        input.ticks.assign(ticks.begin(), ticks.begin() + std::min<std::size_t>(ticks.size(), static_cast<std::size_t>(ticksAtRest)));
        for (double c : game.changes())
            if (c <= restAt) input.changesAtS.push_back(c);
        std::printf("%s", rez::host::formatSummary(rez::host::summarize(input)).c_str());
    }
    std::fflush(stdout);
    library.unload();
    // The plot is drawn after a skipped rest too; its failure does not hide the skipped rest.
    if (!o.plot.empty() && !recordPath.empty() && code != 1) {
        const int plotted = runPlot(o.self.c_str(), recordPath, o.plot);
        if (code == 0) code = plotted;
    }
    return code;
}

bool number(const char* text, double& out) {
    char* end = nullptr;
    out = std::strtod(text, &end);
    return end != text && *end == '\0' && out >= 0 && std::isfinite(out);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    o.self = argv[0];
    // Games whose detection looks for their process are held in the process
    // list by the simulator built beside this program.
    rez::sim::setProcessHolder(rez::sim::simulatorHolderBeside(argv[0]));
    o.library = defaultLibrary(argv[0]);
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::printf("%s%s", kHelp, kUsage);
            return 0;
        }
        if (a == "--ui") {
#if REZ_HAVE_UI
            o.ui = rez::host::kDefaultUiPort;
            // The port is optional: a following word that is no option is taken as it.
            if (i + 1 < argc && argv[i + 1][0] != '-') {
                const std::string value = argv[++i];
                double n = 0;
                if (!number(value.c_str(), n) || n > 65535 || n != std::floor(n)) {
                    std::fprintf(stderr, "rezadedudid-host: --ui: \"%s\" is not a port number (0 to 65535; 0: any free port)\n",
                                 value.c_str());
                    return 2;
                }
                o.ui = static_cast<int>(n);
            }
            continue;
#else
            std::fprintf(stderr,
                         "rezadedudid-host: --ui: this build has no tuning page (Boost.Beast and nlohmann-json were "
                         "missing when it was built: run scripts/install-deps.sh and build again)\n");
            return 2;
#endif
        }
        if (a == "--summary" || a == "--controller" || a == "--multicast") {
            if (a == "--summary") o.summary = true;
            else o.transport = a == "--controller" ? "emulated" : "multicast";
            continue;
        }
        std::string* text = a == "--library"     ? &o.library
                            : a == "--profile"   ? &o.profile
                            : a == "--game"      ? &o.game
                            : a == "--drive"     ? &o.drive
                            : a == "--replay"    ? &o.replay
                            : a == "--slot"      ? &o.slot
                            : a == "--transport" ? &o.transport
                            : a == "--record"    ? &o.record
                            : a == "--plot"      ? &o.plot
                                                 : nullptr;
        const bool numeric = a == "--seconds" || a == "--controller-report";
        if (!text && !numeric) {
            std::fprintf(stderr, "rezadedudid-host: unknown option \"%s\" (--help lists them)\n%s", a.c_str(), kUsage);
            return 2;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "rezadedudid-host: %s needs a value\n%s", a.c_str(), kUsage);
            return 2;
        }
        const std::string value = argv[++i];
        double n = 0;
        if (text) *text = value;
        else if (a == "--seconds" && number(value.c_str(), n)) o.seconds = n;
        else if (a == "--controller-report" && number(value.c_str(), n) && n >= 1 && n <= 65535 && n == std::floor(n))
            o.controllerReport = static_cast<int>(n);
        else {
            std::fprintf(stderr, "rezadedudid-host: %s: \"%s\" is not %s\n", a.c_str(), value.c_str(),
                         a == "--seconds" ? "a number of seconds (0 or more; 0 runs until Ctrl-C)"
                                          : "a port number (1 to 65535)");
            return 2;
        }
    }
    rez::host::TransportChoice choice;
    std::string why;
    if (!rez::host::parseTransport(o.transport, choice, why)) {
        std::fprintf(stderr, "rezadedudid-host: %s\n", why.c_str());
        return 2;
    }
    if (o.controllerReport > 0 && choice.kind != rez::host::TransportChoice::Serial) {
        std::fprintf(stderr, "rezadedudid-host: --controller-report goes with --transport serial:COMn\n");
        return 2;
    }
    // A port that is not there, or that no controller can be behind, ends
    // the run before the library is loaded or the engine started.
    if (choice.kind == rez::host::TransportChoice::Serial && !rez::host::checkSerialPort(choice.port, why)) {
        std::fprintf(stderr, "rezadedudid-host: %s\n", why.c_str());
        return 1;
    }
    rez::host::Profile profile;
    std::vector<std::string> errors;
    const bool parsed = o.profile.empty()
                            ? rez::host::parseProfile(rez::host::defaultProfileText(o.game), "", profile, errors)
                            : rez::host::loadProfile(o.profile, profile, errors);
    if (!parsed) {
        for (const std::string& e : errors) std::fprintf(stderr, "%s\n", e.c_str());
        return 2;
    }

    // The game, the drive and a recording are checked before the library is
    // loaded and a link started.
    if (o.replay.empty() && !rez::sim::isDriveName(o.drive)) {
        std::fprintf(stderr, "rezadedudid-host: --drive: no drive \"%s\" (%s; a recording goes with --replay)\n",
                     o.drive.c_str(), rez::sim::kDriveNames);
        return 2;
    }
    if (o.game != "none" && rez::sim::gameIdOfKey(o.game) < 0) {
        std::string keys;
        for (const auto& info : rez::sim::simulatedGames()) keys += (keys.empty() ? "" : ", ") + info.key;
        std::fprintf(stderr,
                     "rezadedudid-host: --game: no simulated game \"%s\"; the keys are %s, or none for a real game "
                     "(rezadedudid-sim --list describes each)\n",
                     o.game.c_str(), keys.c_str());
        return 2;
    }
    if (o.game != "none") {
        std::string problem;
        if (!rez::sim::makeGamePlayer(o.game, problem) ||
            !rez::sim::makeDrive(o.replay.empty() ? o.drive : o.replay, o.game, problem, o.slot)) {
            std::fprintf(stderr, "rezadedudid-host: %s\n", problem.c_str());
            return 2;
        }
    }

    // The page's port is taken before the library is loaded: a port in use
    // ends the run before anything starts.
#if REZ_HAVE_UI
    std::unique_ptr<rez::host::UiServer> uiServer;
    if (o.ui >= 0) {
        rez::host::UiFiles files;
        if (!rez::host::findUiFiles(argv[0], files, why)) {
            std::fprintf(stderr, "rezadedudid-host: --ui: %s\n", why.c_str());
            return 1;
        }
        uiServer = std::make_unique<rez::host::UiServer>(files, rez::host::settingsOf(profile));
        if (!uiServer->bind(o.ui, why)) {
            std::fprintf(stderr, "rezadedudid-host: --ui: %s\n", why.c_str());
            return 1;
        }
    }
    rez::host::UiServer* const ui = uiServer.get();
#else
    rez::host::UiServer* const ui = nullptr;
#endif

    // The library's network log goes to the temporary folder unless told
    // otherwise: a Documents folder may not exist here.
    if (!rez::platform::environmentVariable("REZ_DOCUMENTS_DIR"))
        rez::platform::setEnvironmentVariable("REZ_DOCUMENTS_DIR", std::filesystem::temp_directory_path().string());

    if (choice.kind != rez::host::TransportChoice::Multicast) {
        const int code = runHost(o, profile, choice, ui, nullptr);
        return code;
    }
    // Under Wine the network is the one scripts/wine-network-test.sh made;
    // its helper plays the network controller.
    if (auto remote = rez::sim::MemberClient::fromEnvironment()) {
        if (remote->matchClocks() < 0 || !remote->markNow()) {
            std::fprintf(stderr, "rezadedudid-host: the network controller's helper does not answer\n");
            return 1;
        }
        return runHost(o, profile, choice, ui, nullptr, &*remote);
    }
#if defined(_WIN32)
    std::fprintf(stderr,
                 "rezadedudid-host: the multicast transport under Wine runs in the network that "
                 "scripts/wine-network-test.sh makes: scripts/wine-network-test.sh --run rezadedudid-host.exe ...\n");
    return 2;
#else
    rez::sim::MemberOptions options;
    options.version = 328;
    int exitCode = 0;
    const auto run = rez::sim::runInNetwork(
        [&](rez::sim::MulticastMember& member) {
            exitCode = runHost(o, profile, choice, ui, &member);
            return exitCode == 0 ? std::string() : "the host ended with " + std::to_string(exitCode);
        },
        options);
    switch (run.outcome) {
        case rez::sim::NetworkRun::Ran:
            if (run.text.empty()) return 0;
            std::fprintf(stderr, "rezadedudid-host: %s\n", run.text.c_str());
            return exitCode != 0 ? exitCode : 1;
        case rez::sim::NetworkRun::NoNamespace:
            std::fprintf(stderr,
                         "rezadedudid-host: the multicast transport makes a network namespace and a veth pair, which "
                         "needs root and the ip tool: %s\n",
                         run.text.c_str());
            return 1;
        case rez::sim::NetworkRun::MemberFailed:
            std::fprintf(stderr, "rezadedudid-host: the veth pair or the network controller could not be set up: %s\n",
                         run.text.c_str());
            return 1;
        case rez::sim::NetworkRun::ChildFailed:
            std::fprintf(stderr, "rezadedudid-host: the host in the namespace failed: %s\n", run.text.c_str());
            return 1;
    }
    return 1;
#endif
}
