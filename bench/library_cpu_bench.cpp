// What the library's own threads cost in CPU, with the old waits (sleep 1 ms,
// then busy-wait to 2000 us: Pacing::Spin) and the new ones (a capped spin
// after a precise-timer sleep for the engine, plain sleeps to a deadline for
// the transports: Pacing::Budget), one-second blocks taken in turn so that
// both styles see the same machine.
//
// Phases (each `seconds` long, half of it per style):
//   a  the engine ticking a racing game (Assetto Corsa's shared memory,
//      written by a stand-in in this process), precise mode, no transport
//   b  the engine and the serial link connected to an emulated controller on
//      a pseudo-terminal, one frame per tick (500 frames/s)
//   c  the same with the engine in coarse mode (setTimerPrecision(0))
//   d  the serial link alone, Searching: scan off, nothing connected
//   e  the engine, the multicast sender and the UDP listener, a group member
//      in a network namespace (root only; run in a fresh process of this
//      program, since making the namespaces forks)
// Per phase and style: each library thread's CPU (its name starts "rez-") as
// a share of one core, and their sum; the tick period (mean, ticks/s,
// p50/p99 of |period - 2 ms|); frames per second and frames lost at the far
// end; tick to wire (from the tick's read of the game, a few microseconds
// before it hands its frame over, to the controller's read of the frame's
// last byte, or the kernel's stamp of the datagram's arrival at the member's
// socket); and how late a bare loop's wake-ups from absolute 2 ms deadlines
// were meanwhile (the machine's own floor).
//
// The controller lives in a process of its own, so that only the library's
// threads are counted here. Under Windows (Wine) only phases a and d run:
// the others need pseudo-terminals with a USB identity, or namespaces.
//
//   library_cpu_bench [seconds per phase, default 10]
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "controller/link_flags.h"
#include "bench/bench_support.h"
#include "controller/mailbox.h"
#include "controller/serial_link.h"
#include "core/bytes.h"
#include "core/sample_clock.h"
#include "engine/gamesource_engine.h"
#include "network/multicast_sender.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/precise_wait.h"
#include "platform/priority.h"
#include "platform/thread_name.h"
#include "rezadedudid.h"
#include "sim/emulated_controller.h"
#include "sim/game_writers.h"
#include "tests/support/test_reader.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>

#include "sim/multicast_member.h"
#endif

namespace {

using rez::bench::BareLoop;
using rez::bench::quantile;
using rez::bench::usBetween;
#if !defined(_WIN32)
using rez::bench::readAll;
using rez::bench::readText;
using rez::bench::writeAll;
using rez::bench::writeText;
#endif
using rez::platform::counterNow;

const double kPerUs = static_cast<double>(rez::platform::counterFrequency()) / 1e6;
constexpr std::size_t kTagCycle = 500;
constexpr int kSpin = 0, kBudget = 1;
const char* const kStyleNames[2] = {"spin (old)", "budget (new)"};


bool waitFor(const std::function<bool()>& condition, int ms) {
    const std::int64_t deadline = counterNow() + static_cast<std::int64_t>(ms * kPerUs * 1000.0);
    while (!condition()) {
        if (counterNow() > deadline) return false;
        rez::platform::sleepMs(1);
    }
    return true;
}

std::string loadAverage() {
    for (const char* path : {"/proc/loadavg", "Z:/proc/loadavg"}) {
        std::ifstream in(path);
        std::string one, five;
        if (in >> one >> five) return one + " " + five + " (1, 5 min)";
    }
    return "n/a";
}

// --- the machine's own wake-up lateness -------------------------------------


// --- the game and the ticks ---------------------------------------------------

// A car weaving through slow bends, braking and accelerating, published into
// Assetto Corsa's shared memory every millisecond.
class RacingGame {
public:
    RacingGame() {
        writer_.setStatus(2);
        thread_ = std::thread([this] {
            for (std::int32_t packet = 1; running_.load(); ++packet) {
                const double t = packet * 0.001;
                rez::sim::AcPhysics sample;
                sample.packetId = packet;
                sample.accG[0] = static_cast<float>(0.8 * std::sin(t * 0.7));
                sample.accG[2] = static_cast<float>(0.5 * std::sin(t * 0.23));
                sample.heading = static_cast<float>(std::fmod(t * 0.1, 6.283));
                sample.pitch = static_cast<float>(0.03 * std::sin(t * 0.9));
                sample.roll = static_cast<float>(0.05 * std::sin(t * 0.7));
                sample.localAngularVel[1] = static_cast<float>(0.2 * std::cos(t * 0.7));
                sample.localVelocity[2] = static_cast<float>(30.0 + 15.0 * std::sin(t * 0.23));
                writer_.publish(sample);
                rez::platform::sleepNs(1'000'000);
            }
        });
    }
    ~RacingGame() {
        running_ = false;
        thread_.join();
    }
    bool ok() const { return writer_.ok(); }

private:
    rez::sim::AssettoCorsaWriter writer_;
    std::atomic<bool> running_{true};
    std::thread thread_;
};

// The game's own reader, noting when each tick read (and the engine thread's
// CPU time then) and naming the tick in the lateral acceleration, which
// reaches the cue frame's first float unchanged once the output fade is over.
class TaggingReader : public rez::GameReader {
public:
    TaggingReader(std::unique_ptr<rez::GameReader> inner, std::size_t capacity)
        : at(capacity), cpuNs(capacity), inner_(std::move(inner)) {}
    bool detect() override { return inner_->detect(); }
    void detectFailed() override { inner_->detectFailed(); }
    bool attach() override { return inner_->attach(); }
    bool read(rez::GameDataRecord& record) override {
        const std::size_t n = ticks.load(std::memory_order_relaxed);
        if (n < at.size()) {
            at[n] = counterNow();
            cpuNs[n] = rez::platform::threadCpuTimeNs();
            ticks.store(n + 1, std::memory_order_release);
        }
        const bool fresh = inner_->read(record);
        record.slots[rez::kLateralAccelG] = static_cast<double>(n % kTagCycle) / 10.0;
        return fresh;
    }
    void close() override { inner_->close(); }

    std::vector<std::int64_t> at;     // the first `ticks` are written
    std::vector<std::int64_t> cpuNs;  // the engine thread's CPU time at each read
    std::atomic<std::size_t> ticks{0};

private:
    std::unique_ptr<rez::GameReader> inner_;
};

TaggingReader* installTaggingReader(std::size_t capacity) {
    rez::GamesourceEngine& engine = rez::theEngine();
    engine.sources.detectPauseMs = 0;
    for (int id = 0; id < rez::kGameCount; ++id)
        if (id != rez::kAssettoCorsa) engine.sources.setReader(id, std::make_unique<rez::test::AbsentReader>());
    auto owned = std::make_unique<TaggingReader>(std::move(engine.sources.readers[rez::kAssettoCorsa]), capacity);
    TaggingReader* reader = owned.get();
    engine.sources.setReader(rez::kAssettoCorsa, std::move(owned));
    SetInputDofLimitValue(0, -100, 100);
    SetRigDofLimitValue(0, -100, 100);
    return reader;
}

// Starts the engine and waits until it ticks the game at full output.
bool startEngine() {
    startGamesource_Thread();
    setMotionsystemready(1);
    return waitFor([] { return getGameID() == rez::kAssettoCorsa && getTransitionStatus() >= 100.0; }, 60000);
}

// --- blocks and figures ------------------------------------------------------------

struct Block {
    std::int64_t from, to;
    int style;
};

struct Arrival {
    std::int64_t at;  // counter value when the far end had the frame
    int tag;          // the tick's number mod kTagCycle
};

struct StyleFigures {
    std::map<std::string, std::int64_t> cpuNs;  // per thread name
    std::int64_t wallTicks = 0;
    std::uint64_t passes = 0;  // the watched loop's passes, where one is watched
};

// Runs `seconds` of one-second blocks, the styles in turn, noting each
// library thread's CPU time at the block's ends. `passes`, when given, counts
// a loop's passes. `everyBlock` runs at the start of each block.
std::vector<Block> runBlocks(int seconds, StyleFigures figures[2], const std::function<std::uint64_t()>& passes = {},
                             const std::function<void()>& everyBlock = {}) {
    std::vector<Block> blocks;
    const int count = std::max(2, seconds + seconds % 2);
    const std::int64_t second = rez::platform::counterFrequency();
    for (int b = 0; b < count; ++b) {
        const int style = b % 2 == 0 ? kSpin : kBudget;
        rez::setPacing(style == kSpin ? rez::Pacing::Spin : rez::Pacing::Budget);
        if (everyBlock) everyBlock();
        const auto before = rez::platform::libraryThreadsCpu();
        const std::uint64_t passes0 = passes ? passes() : 0;
        const std::int64_t from = counterNow();
        while (counterNow() < from + second) rez::platform::sleepMs(5);
        const auto after = rez::platform::libraryThreadsCpu();
        const std::int64_t to = counterNow();
        StyleFigures& f = figures[style];
        f.wallTicks += to - from;
        if (passes) f.passes += passes() - passes0;
        for (const auto& a : after) {
            std::int64_t start = 0;  // a thread that began during the block counts from its start
            for (const auto& b0 : before)
                if (b0.id == a.id) start = b0.cpuNs;
            f.cpuNs[a.name] += a.cpuNs - start;
        }
        blocks.push_back({from, to, style});
    }
    rez::setPacing(rez::Pacing::Budget);
    return blocks;
}

int styleAt(const std::vector<Block>& blocks, std::int64_t at, std::size_t* index = nullptr) {
    for (std::size_t i = 0; i < blocks.size(); ++i)
        if (at >= blocks[i].from && at < blocks[i].to) {
            if (index) *index = i;
            return blocks[i].style;
        }
    return -1;
}

struct PhaseReport {
    const char* title;
    const std::vector<Block>* blocks;
    StyleFigures* figures;
    const TaggingReader* reader = nullptr;  // the engine's ticks, when it ticks
    const std::vector<Arrival>* arrivals = nullptr;
    const char* wire = nullptr;  // what the arrival stamp is
    const char* passesName = nullptr;
    const BareLoop* bare = nullptr;
};

void printRow(const char* name, const std::string& spin, const std::string& budget) {
    std::printf("  %-36s %-24s %-24s\n", name, spin.c_str(), budget.c_str());
}

std::string fmt(const char* format, double a, double b = 0.0) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

void report(const PhaseReport& p) {
    const std::vector<Block>& blocks = *p.blocks;
    std::printf("\n%s\n", p.title);
    printRow("", kStyleNames[kSpin], kStyleNames[kBudget]);
    auto row = [&](const char* name, const std::function<std::string(int)>& cell) { printRow(name, cell(kSpin), cell(kBudget)); };
    auto wallS = [&](int s) { return static_cast<double>(p.figures[s].wallTicks) / (kPerUs * 1e6); };

    // CPU per library thread, in the order of their names.
    std::map<std::string, bool> names;
    for (int s : {kSpin, kBudget})
        for (const auto& [name, ns] : p.figures[s].cpuNs) names[name] = true;
    auto share = [&](int s, std::int64_t ns) { return 100.0 * static_cast<double>(ns) / 1e9 / wallS(s); };
    for (const auto& [name, unused] : names) {
        const std::string label = name + " CPU % of a core";
        row(label.c_str(), [&](int s) {
            const auto it = p.figures[s].cpuNs.find(name);
            return fmt("%.2f", it == p.figures[s].cpuNs.end() ? 0.0 : share(s, it->second));
        });
    }
    row("all library threads, % of a core", [&](int s) {
        std::int64_t all = 0;
        for (const auto& [name, ns] : p.figures[s].cpuNs) all += ns;
        return fmt("%.2f", share(s, all));
    });
    if (names.empty()) std::printf("  (no library thread could be named here: thread names cannot be read)\n");
    if (p.passesName)
        row(p.passesName, [&](int s) { return fmt("%.1f /s", static_cast<double>(p.figures[s].passes) / wallS(s)); });

    if (p.reader) {
        const TaggingReader& r = *p.reader;
        const std::size_t n = r.ticks.load(std::memory_order_acquire);
        std::vector<double> off[2];
        double periodSum[2] = {0, 0};
        std::size_t ticks[2] = {0, 0};
        std::int64_t engineCpu[2] = {0, 0};
        std::int64_t engineWall[2] = {0, 0};
        for (std::size_t i = 1; i < n; ++i) {
            std::size_t bi = 0, bj = 0;
            const int s = styleAt(blocks, r.at[i], &bi);
            if (s < 0) continue;
            ++ticks[s];
            // A period that began in another block ran partly under the other style.
            if (styleAt(blocks, r.at[i - 1], &bj) != s || bj != bi) continue;
            const double period = usBetween(r.at[i - 1], r.at[i]);
            off[s].push_back(std::fabs(period - 2000.0));
            periodSum[s] += period;
            engineCpu[s] += r.cpuNs[i] - r.cpuNs[i - 1];
            engineWall[s] += r.at[i] - r.at[i - 1];
        }
        if (names.empty())
            row("engine CPU (its own clock), %", [&](int s) {
                return fmt("%.2f", engineWall[s] ? 100.0 * static_cast<double>(engineCpu[s]) / 1000.0 /
                                                       usBetween(0, engineWall[s])
                                                 : 0.0);
            });
        row("tick period mean, us", [&](int s) { return fmt("%.1f", off[s].empty() ? 0.0 : periodSum[s] / static_cast<double>(off[s].size())); });
        row("ticks/s", [&](int s) { return fmt("%.1f", static_cast<double>(ticks[s]) / wallS(s)); });
        row("|period - 2 ms| p50 / p99, us", [&](int s) { return fmt("%.1f / %.1f", quantile(off[s], 0.5), quantile(off[s], 0.99)); });
        row("|period - 2 ms| p99.9 / max, us", [&](int s) {
            return fmt("%.0f / %.0f", quantile(off[s], 0.999), off[s].empty() ? 0.0 : *std::max_element(off[s].begin(), off[s].end()));
        });

        if (p.arrivals) {
            // Each frame belongs to the latest tick with its number that read before it arrived.
            std::vector<char> seen(n, 0);
            std::vector<double> latencyMs[2];
            std::size_t repeated[2] = {0, 0};
            for (const Arrival& a : *p.arrivals) {
                if (a.tag < 0 || static_cast<std::size_t>(a.tag) >= kTagCycle) continue;  // no tick's number
                std::size_t tick = static_cast<std::size_t>(std::upper_bound(r.at.begin(), r.at.begin() + static_cast<std::ptrdiff_t>(n), a.at) - r.at.begin());
                tick -= std::min(tick, (tick + kTagCycle - 1 - static_cast<std::size_t>(a.tag)) % kTagCycle);
                if (tick == 0) continue;
                --tick;
                const int s = styleAt(blocks, r.at[tick]);
                if (s < 0) continue;
                if (seen[tick]++) {
                    ++repeated[s];
                    continue;
                }
                latencyMs[s].push_back(usBetween(r.at[tick], a.at) / 1000.0);
            }
            std::size_t lost[2] = {0, 0};
            for (std::size_t i = 0; i < n; ++i) {
                const int s = styleAt(blocks, r.at[i]);
                if (s >= 0 && !seen[i]) ++lost[s];
            }
            row("frames/s at the far end", [&](int s) { return fmt("%.1f", static_cast<double>(latencyMs[s].size()) / wallS(s)); });
            row("frames lost / repeated", [&](int s) { return fmt("%.0f / %.0f", static_cast<double>(lost[s]), static_cast<double>(repeated[s])); });
            row("tick -> wire median / p99, ms", [&](int s) {
                return fmt("%.3f / %.3f", quantile(latencyMs[s], 0.5), quantile(latencyMs[s], 0.99));
            });
            if (p.wire) std::printf("  (wire: %s)\n", p.wire);
        }
    }
    if (p.bare) {
        std::vector<double> late[2];
        std::int64_t cpuNs[2] = {0, 0}, wallTicks[2] = {0, 0};
        for (const Block& b : blocks) p.bare->collect(b.from, b.to, late[b.style], cpuNs[b.style], wallTicks[b.style]);
        row(p.bare->timerUsed() ? "bare loop lateness p50 / p99, us" : "bare loop (plain sleep) p50/p99, us",
            [&](int s) { return fmt("%.1f / %.1f", quantile(late[s], 0.5), quantile(late[s], 0.99)); });
        // What 500 wake-ups a second cost by themselves here: the floor of any 2 ms loop that sleeps.
        row("bare loop's own CPU, % of a core", [&](int s) {
            return fmt("%.2f", wallTicks[s] ? 100.0 * static_cast<double>(cpuNs[s]) / 1000.0 / usBetween(0, wallTicks[s]) : 0.0);
        });
    }
    std::printf("  load average now: %s\n", loadAverage().c_str());
    std::fflush(stdout);
}

// --- phases in this process -----------------------------------------------------

std::uint64_t linkPasses() { return rez::serialLink().passes.load(); }

// Phase d: the link loop alone, Searching, with its scan off.
void phaseSearching(int seconds, const BareLoop& bare) {
    disableAutoconnect();
    std::thread link([] { startREZadEdudid_Thread(); });
    const std::uint64_t before = linkPasses();
    if (!waitFor([&] { return linkPasses() > before + 10; }, 5000)) {
        std::printf("\nphase d: the link loop did not start\n");
    } else {
        rez::platform::sleepMs(500);
        StyleFigures figures[2];
        const auto blocks = runBlocks(seconds, figures, linkPasses);
        report({"phase d: serial link Searching, scan off, nothing connected (engine stopped)", &blocks, figures, nullptr,
                nullptr, nullptr, "link passes", &bare});
    }
    stopREZadEdudid_Thread();
    link.join();
}

#if !defined(_WIN32)

// --- the controller's process -------------------------------------------------------

// The controller: opens the line, says where it is, and on 'R' hands over
// every cue frame with a good checksum since the last 'R' (and forgets them).
[[noreturn]] void controllerProcess(int up, int down) {
    rez::platform::raiseThreadPriority();
    rez::sim::EmulatedController controller;
    rez::bench::openControllerAndAnnounce(controller, up);
    char command = 0;
    while (readAll(down, &command, 1) && command == 'R') {
        std::vector<Arrival> arrivals;
        for (const auto& f : controller.framesWithLead(0xFC))
            if (f.trailer == rez::sim::EmulatedController::Trailer::Checksum && f.bytes.size() >= 6)
                arrivals.push_back({f.arrival, static_cast<int>(std::lround(rez::load_le<float>(f.bytes.data() + 2) * 10.0f))});
        controller.reset();
        const std::uint64_t n = arrivals.size();
        writeAll(up, &n, sizeof n);
        writeAll(up, arrivals.data(), arrivals.size() * sizeof(Arrival));
    }
    _exit(0);
}

struct ControllerLink {
    pid_t pid = -1;
    int up = -1, down = -1;
    std::string port, why;

    bool start() {
        int u[2], d[2];
        if (pipe(u) != 0 || pipe(d) != 0) return why = "no pipe", false;
        std::fflush(stdout);
        pid = fork();
        if (pid < 0) return why = "no fork", false;
        if (pid == 0) {
            close(u[0]);
            close(d[1]);
            controllerProcess(u[1], d[0]);
        }
        close(u[1]);
        close(d[0]);
        up = u[0];
        down = d[1];
        std::string comDir, sysfsRoot;
        if (!readText(up, port)) return why = "the controller's process gave no line", false;
        if (port.empty()) {
            readText(up, why);
            return false;
        }
        readText(up, comDir);
        readText(up, sysfsRoot);
        rez::platform::setEnvironmentVariable("REZ_COM_DIR", comDir);
        rez::platform::setEnvironmentVariable("REZ_SYSFS_ROOT", sysfsRoot);
        return true;
    }
    std::vector<Arrival> take() {
        std::vector<Arrival> arrivals;
        std::uint64_t n = 0;
        if (!writeAll(down, "R", 1) || !readAll(up, &n, sizeof n)) return arrivals;
        arrivals.resize(n);
        if (!readAll(up, arrivals.data(), n * sizeof(Arrival))) arrivals.clear();
        return arrivals;
    }
    void end() {
        if (down >= 0) close(down);
        if (up >= 0) close(up);
        if (pid > 0) waitpid(pid, nullptr, 0);
    }
};

// Phases b and c: the engine, already ticking, with the link connected.
void phaseSerial(int seconds, ControllerLink& controller, const TaggingReader* reader, const BareLoop& bare) {
    rez::mailbox().clearAll();
    std::thread link([] { startREZadEdudid_Thread(); });
    waitFor([] { return rez::linkFlags().linkRunning.load() && isInterfaceRunning() == 1; }, 5000);
    setStandartPort(controller.port.c_str());
    bool connected = false;
    for (int attempt = 0; attempt < 5 && !connected; ++attempt) connected = resumeInterface() == 1;
    if (!connected) {
        std::printf("\nphases b, c: the link did not connect to %s\n", controller.port.c_str());
    } else {
        const char* wire = "the emulated controller's read of the frame's last byte, in its own process";
        for (int precise : {1, 0}) {
            setTimerPrecision(precise);
            rez::platform::sleepMs(1000);
            controller.take();  // what came before the blocks
            StyleFigures figures[2];
            const auto blocks = runBlocks(seconds, figures, linkPasses);
            rez::platform::sleepMs(300);  // the last frames reach the line
            const auto arrivals = controller.take();
            const std::string title =
                std::string(precise ? "phase b: engine (precise)" : "phase c: engine (coarse, setTimerPrecision(0))") +
                " on Assetto Corsa's shared memory + serial link at 250000 baud to the emulated controller on " +
                controller.port + " (a pseudo-terminal), a frame per tick";
            report({title.c_str(), &blocks, figures, reader, &arrivals, wire, "link passes", &bare});
        }
        setTimerPrecision(1);
    }
    stopREZadEdudid_Thread();
    link.join();
}

// Phase e, in a process of its own: runInNetwork forks, which is safest
// before any thread of ours exists.
int phaseMulticast(int seconds) {
    rez::sim::MemberOptions options;
    options.version = 328;
    const auto run = rez::sim::runInNetwork(
        [&](rez::sim::MulticastMember& member) -> std::string {
            BareLoop bare(static_cast<std::size_t>(seconds + 120) * 500);
            bare.start();
            RacingGame game;
            if (!game.ok()) return "the game's telemetry block cannot be made";
            TaggingReader* reader = installTaggingReader(static_cast<std::size_t>(seconds + 120) * 600);
            rez::linkFlags().reset();
            rez::mailbox().clearAll();
            std::thread listener([] { startUPDListenThread(); });
            std::thread sender([] { startUPDMulticastSenderThread(); });
            auto stopAll = [&] {
                stopGamesource_Thread();
                stopREZadEdudid_Thread();
                listener.join();
                sender.join();
            };
            if (!waitFor([] { return rez::linkFlags().udpRunning.load(); }, 5000)) {
                stopAll();
                return "the multicast sender did not start";
            }
            static const unsigned char versionRequest[] = {0xF9, 0xF9, 0x02, 0x00, 0x01, 0x00, 0x0A, 0x0D};
            sendMessagemmf(versionRequest);
            const bool live = waitFor([] { return rez::linkFlags().udpLive.load(); }, 5000);
            if (!startEngine()) {
                stopAll();
                return "the engine did not reach full output";
            }
            rez::platform::sleepMs(1000);
            const std::size_t first = member.count();
            StyleFigures figures[2];
            unsigned char reply[rez::kMaxMessageLength];
            // A version request a second keeps the listen thread live, as a controller's answers would.
            const auto blocks = runBlocks(seconds, figures, {}, [&] {
                sendMessagemmf(versionRequest);
                while (readMessagemmf(reply) > 0) {
                }
            });
            rez::platform::sleepMs(300);
            std::vector<Arrival> arrivals;
            for (const auto& d : member.receivedFrom(first)) {
                if (d.port != rez::kDefaultMulticastPort || d.bytes.size() != 36 || d.bytes[0] != 0xFC) continue;
                if (rez::sim::MulticastMember::trailerOf(d.bytes) != rez::sim::MulticastMember::Trailer::Checksum) continue;
                arrivals.push_back({d.queued != 0 ? d.queued : d.arrival,
                                    static_cast<int>(std::lround(rez::load_le<float>(d.bytes.data() + 2) * 10.0f))});
            }
            const bool liveAtEnd = rez::linkFlags().udpLive.load();
            const std::string title = std::string("phase e: engine (precise) on Assetto Corsa's shared memory + multicast "
                                                  "sender to ") +
                                      rez::kDefaultMulticastAddress + ":" + std::to_string(rez::kDefaultMulticastPort) +
                                      " + UDP listener on port " + std::to_string(rez::kDefaultListenPort) +
                                      ", the member in a network namespace";
            report({title.c_str(), &blocks, figures, reader, &arrivals, "the kernel's stamp of the datagram's arrival at the member's socket",
                    nullptr, &bare});
            std::printf("  listen thread live: %s at the start, %s at the end\n", live ? "yes" : "no", liveAtEnd ? "yes" : "no");
            std::fflush(stdout);
            stopAll();
            return "";
        },
        options);
    if (run.outcome == rez::sim::NetworkRun::NoNamespace) {
        std::printf("\nphase e: skipped, no network namespace can be made here (run as root): %s\n", run.text.c_str());
        return 0;
    }
    if (run.outcome != rez::sim::NetworkRun::Ran || !run.text.empty()) {
        std::printf("\nphase e: %s\n", run.text.c_str());
        return 1;
    }
    return 0;
}

// Starts this program again for phase e and waits for it.
int phaseMulticastInNewProcess(int seconds) {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return 1;
    self[n] = '\0';
    const std::string secondsText = std::to_string(seconds);
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        execl(self, self, "--multicast-phase", secondsText.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) < 0) return 1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

#endif

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!rez::platform::environmentVariable("REZ_DOCUMENTS_DIR"))
        rez::platform::setEnvironmentVariable("REZ_DOCUMENTS_DIR", std::filesystem::temp_directory_path().string());
#if !defined(_WIN32)
    if (argc > 2 && std::strcmp(argv[1], "--multicast-phase") == 0) return phaseMulticast(std::max(2, std::atoi(argv[2])));
#endif
    const int seconds = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 10;
    std::printf("library CPU bench: %d s per phase, 1 s blocks, the old waits (spin) and the new (budget) in turn\n", seconds);
    std::printf("load average at the start: %s\n", loadAverage().c_str());
    int failed = 0;

#if !defined(_WIN32)
    // The controller's process is made before any thread of ours exists.
    ControllerLink controller;
    const bool haveController = controller.start();
#endif

    BareLoop bare(static_cast<std::size_t>(seconds * 5 + 300) * 500);
    bare.start();
    {
        RacingGame game;
        if (!game.ok()) {
            std::printf("the game's telemetry block cannot be made\n");
            return 2;
        }
        TaggingReader* reader = installTaggingReader(static_cast<std::size_t>(seconds * 4 + 300) * 600);
        if (!startEngine()) {
            std::printf("the engine did not reach full output with the game online\n");
            return 2;
        }
        rez::platform::sleepMs(1000);
        {
            StyleFigures figures[2];
            const auto blocks = runBlocks(seconds, figures);
            report({"phase a: engine (precise) ticking Assetto Corsa's shared memory, no transport", &blocks, figures, reader,
                    nullptr, nullptr, nullptr, &bare});
        }
#if !defined(_WIN32)
        if (haveController)
            phaseSerial(seconds, controller, reader, bare);
        else
            std::printf("\nphases b, c: skipped, no controller line: %s\n", controller.why.c_str());
#else
        std::printf("\nphases b, c: skipped under Windows: the emulated controller's COM line can be given no USB "
                    "identity there, which the link requires\n");
#endif
        stopGamesource_Thread();
    }
    phaseSearching(seconds, bare);
    bare.stop();
#if !defined(_WIN32)
    controller.end();
    failed |= phaseMulticastInNewProcess(seconds);
#else
    std::printf("\nphase e: skipped under Windows: the group member needs a network namespace\n");
#endif
    std::printf("\nload average at the end: %s\n", loadAverage().c_str());
    return failed;
}
