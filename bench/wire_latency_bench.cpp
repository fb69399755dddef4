// How long a cue frame takes from the tick to the wire, with the transports
// woken the moment a message is queued (the default) and with the old
// pass-start-only transmission (REZ_PASS_START_TRANSMIT=1), both in one run,
// block by block in turn so that a change in the machine's load falls on
// both alike.
//
// Two wires: the serial link to an emulated controller on a pseudo-terminal
// (it stamps the read of each frame's last byte), and the multicast sender to
// a group member in a network namespace (the kernel's stamp of the
// datagram's arrival at the member's socket). Without namespaces (not root)
// only the serial wire is measured.
//
// Tick to wire: a 2 ms tick of the bench's own, paced like the engine's,
// stamps the counter just before it hands a tagged cue frame to
// sendMessagemmf.
// Game to wire: the engine ticks on Assetto Corsa telemetry; the game steps
// its lateral acceleration at random moments (3-7 ms apart, on every phase of
// both loops) and stamps each step; the first frame that carries the new
// value ends the measurement. Its floor is the engine's tick, up to 2 ms
// after the step.
// CPU: the link thread's (or the sender's) CPU time over its wall time.
//
//   wire_latency_bench [rounds, default 3]   (each round: about 12 s per mode)
#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "controller/link_flags.h"
#include "controller/mailbox.h"
#include "controller/serial_link.h"
#include "network/multicast_sender.h"
#include "core/bytes.h"
#include "core/sample_clock.h"
#include "engine/gamesource_engine.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "sim/emulated_controller.h"
#include "sim/game_writers.h"
#include "sim/multicast_member.h"
#include "tests/support/test_reader.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace {

using rez::platform::counterNow;
using rez::sim::EmulatedController;

const double kPerMs = static_cast<double>(rez::platform::counterFrequency()) / 1000.0;

struct Arrival {
    std::int64_t at;  // counter value when the frame's last byte was read
    float first;      // the frame's first cue
};

double percentile(std::vector<double> v, double q) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
}

void setMode(bool onWake) {
    if (onWake)
        rez::platform::unsetEnvironmentVariable("REZ_PASS_START_TRANSMIT");
    else
        rez::platform::setEnvironmentVariable("REZ_PASS_START_TRANSMIT", "1");
}

// A transport's loop on a thread of its own, started afresh for each block so
// that it reads the mode switch.
class Wire {
public:
    virtual ~Wire() = default;
    virtual const char* name() const = 0;
    virtual std::string where() const = 0;  // the port and what is at the far end
    virtual bool start(bool onWake) = 0;
    // Stops the loop; the cue frames that reached the far end meanwhile.
    virtual std::vector<Arrival> stop() = 0;
    double cpuNs() const { return static_cast<double>(cpuNs_.load()); }
    double wallMs() const { return static_cast<double>(wallTicks_.load()) / kPerMs; }
    std::uint64_t badChecksums = 0;

protected:
    void run(void (*loop)()) {
        rez::linkFlags().reset();
        rez::mailbox().clearAll();
        cpuNs_ = 0;
        wallTicks_ = 0;
        thread_ = std::thread([this, loop] {
            const std::int64_t wall0 = counterNow();
            loop();
            cpuNs_ = rez::platform::threadCpuTimeNs();
            wallTicks_ = counterNow() - wall0;
        });
    }
    void end() {
        rez::platform::sleepMs(20);  // the last frames reach the far end
        stopREZadEdudid_Thread();
        thread_.join();
    }

private:
    std::thread thread_;
    std::atomic<std::int64_t> cpuNs_{0};
    std::atomic<std::int64_t> wallTicks_{0};
};

class SerialWire : public Wire {
public:
    bool open(std::string& why) {
        if (!controller_.open(why)) return false;
        if (!controller_.hasUsbIdentity()) return why = "the line has no USB identity here", false;
        return true;
    }
    const char* name() const override { return "serial"; }
    std::string where() const override {
        return "serial link, 250000 baud, to an emulated controller on " + controller_.portName() +
               " (a pseudo-terminal)";
    }
    bool start(bool onWake) override {
        setMode(onWake);
        run([] { startREZadEdudid_Thread(); });
        EmulatedController::waitUntil([] { return rez::linkFlags().linkRunning.load(); }, 5000);
        setStandartPort(controller_.portName().c_str());
        const bool connected = resumeInterface() == 1;
        controller_.reset();
        return connected;
    }
    std::vector<Arrival> stop() override {
        end();
        std::vector<Arrival> out;
        for (const auto& f : controller_.framesWithLead(0xFC))
            if (f.trailer == EmulatedController::Trailer::Checksum)
                out.push_back({f.arrival, rez::load_le<float>(f.bytes.data() + 2)});
        badChecksums += controller_.counts().badChecksums;
        controller_.reset();
        return out;
    }

private:
    EmulatedController controller_;
};

#if !defined(_WIN32)
class MulticastWire : public Wire {
public:
    explicit MulticastWire(rez::sim::MulticastMember& member) : member_(member) {}
    const char* name() const override { return "multicast"; }
    std::string where() const override {
        return std::string("multicast sender, UDP to ") + rez::kDefaultMulticastAddress + ":" +
               std::to_string(rez::kDefaultMulticastPort) + ", a group member in a network namespace";
    }
    bool start(bool onWake) override {
        setMode(onWake);
        run([] { startUPDMulticastSenderThread(); });
        const bool up = EmulatedController::waitUntil(
            [] { return rez::linkFlags().udpRunning.load() || rez::linkFlags().udpEnded.load(); }, 5000);
        first_ = member_.count();
        return up && rez::linkFlags().udpRunning.load();
    }
    std::vector<Arrival> stop() override {
        end();
        std::vector<Arrival> out;
        for (const auto& r : member_.receivedFrom(first_)) {
            if (r.port != rez::kDefaultMulticastPort || r.bytes.size() != 36 || r.bytes[0] != 0xFC) continue;
            if (rez::sim::MulticastMember::trailerOf(r.bytes) != rez::sim::MulticastMember::Trailer::Checksum) {
                ++badChecksums;
                continue;
            }
            out.push_back({r.queued != 0 ? r.queued : r.arrival, rez::load_le<float>(r.bytes.data() + 2)});
        }
        return out;
    }

private:
    rez::sim::MulticastMember& member_;
    std::size_t first_ = 0;
};
#endif

struct ModeFigures {
    std::vector<double> tickToWireMs;
    std::vector<double> gameToWireMs;
    std::size_t ticks = 0, framesLost = 0, framesRepeated = 0, stepsUnseen = 0;
    double cpuNs = 0.0, wallMs = 0.0;
};

// One block of the bench's own tick: `count` tagged frames, 2 ms apart.
void tickBlock(Wire& wire, bool onWake, int count, ModeFigures& figures) {
    if (!wire.start(onWake)) {
        std::printf("wire_latency_bench: the %s wire did not start\n", wire.name());
        std::exit(1);
    }
    std::vector<std::int64_t> handed(static_cast<std::size_t>(count));
    rez::SampleClock clock;
    clock.restart();
    for (int i = 0; i < count; ++i) {
        std::array<unsigned char, 36> frame{};
        frame[0] = frame[1] = 0xFC;
        rez::store_le<float>(&frame[2], static_cast<float>(i));
        frame[34] = 0x0A;
        frame[35] = 0x0D;
        handed[static_cast<std::size_t>(i)] = counterNow();
        sendMessagemmf(frame.data());
        rez::waitPrecise(clock);
    }
    const auto arrivals = wire.stop();
    figures.cpuNs += wire.cpuNs();
    figures.wallMs += wire.wallMs();
    std::vector<int> seen(static_cast<std::size_t>(count), 0);
    for (const Arrival& a : arrivals) {
        const auto i = static_cast<std::size_t>(a.first);
        if (a.first < 0 || i >= handed.size() || static_cast<float>(i) != a.first) continue;
        if (seen[i]++ == 0) figures.tickToWireMs.push_back(static_cast<double>(a.at - handed[i]) / kPerMs);
    }
    figures.ticks += static_cast<std::size_t>(count);
    for (int n : seen) {
        if (n == 0) ++figures.framesLost;
        if (n > 1) figures.framesRepeated += static_cast<std::size_t>(n - 1);
    }
}

// The game: publishes a new packet every quarter millisecond, and at random moments
// 3-7 ms apart steps its lateral acceleration to the next of eight levels,
// stamping the step as it publishes it.
class SteppingGame {
public:
    struct Step {
        std::int64_t at;
        int level;
    };
    SteppingGame() {
        writer_.setStatus(2);
        thread_ = std::thread([this] { run(); });
    }
    ~SteppingGame() {
        running_ = false;
        thread_.join();
    }
    // Holds `level` until the next call (stepping off).
    void hold(int level) { held_ = level; }
    void stepping(bool on) {
        std::lock_guard<std::mutex> use(mutex_);
        steps_.clear();
        stepping_ = on;
    }
    std::vector<Step> steps() {
        std::lock_guard<std::mutex> use(mutex_);
        return steps_;
    }

private:
    void run() {
        std::mt19937 random(12345);
        std::uniform_int_distribution<int> spacingUs(3000, 7000);
        std::int32_t packet = 0;
        int level = 0;
        std::int64_t nextStep = counterNow();
        while (running_.load()) {
            {
                std::lock_guard<std::mutex> use(mutex_);
                if (!stepping_) {
                    level = held_.load();
                } else if (counterNow() >= nextStep) {
                    level = (level + 1) % 8;
                    steps_.push_back({counterNow(), level});
                    nextStep = counterNow() + static_cast<std::int64_t>(spacingUs(random) * kPerMs / 1000.0);
                }
            }
            rez::sim::AcPhysics sample;
            sample.packetId = ++packet;
            sample.accG[0] = 0.1f * static_cast<float>(level + 1);
            // Telemetry that never changes is taken for a frozen game, and
            // the engine then fades its outputs out.
            sample.localVelocity[0] = static_cast<float>(packet % 2);
            writer_.publish(sample);
            rez::platform::sleepNs(250'000);
        }
    }

    rez::sim::AssettoCorsaWriter writer_;
    std::thread thread_;
    std::atomic<bool> running_{true};
    std::atomic<int> held_{0};
    std::mutex mutex_;
    bool stepping_ = false;
    std::vector<Step> steps_;
};

void gameBlock(Wire& wire, bool onWake, SteppingGame& game, const std::map<int, float>& cueOfLevel,
               int milliseconds, ModeFigures& figures) {
    if (!wire.start(onWake)) {
        std::printf("wire_latency_bench: the %s wire did not start\n", wire.name());
        std::exit(1);
    }
    game.stepping(true);
    rez::platform::sleepMs(milliseconds);
    const auto done = game.steps();
    game.stepping(false);
    const auto arrivals = wire.stop();
    figures.cpuNs += wire.cpuNs();
    figures.wallMs += wire.wallMs();
    for (const auto& step : done) {
        const float want = cueOfLevel.at(step.level);
        const auto first = std::find_if(arrivals.begin(), arrivals.end(),
                                        [&](const Arrival& a) { return a.at > step.at && a.first == want; });
        if (first == arrivals.end()) {
            ++figures.stepsUnseen;
            continue;
        }
        figures.gameToWireMs.push_back(static_cast<double>(first->at - step.at) / kPerMs);
    }
}

// Measures every wire in turn; an empty text when all went well.
std::string measure(const std::vector<Wire*>& wires, int rounds) {
    // [wire][mode]: mode 0 pass start only, 1 woken on queue.
    std::vector<std::array<ModeFigures, 2>> figures(wires.size());
    // Tick to wire: the bench's tick, no engine.
    for (int r = 0; r < rounds; ++r)
        for (std::size_t w = 0; w < wires.size(); ++w)
            for (int mode : {1, 0}) tickBlock(*wires[w], mode == 1, 2500, figures[w][static_cast<std::size_t>(mode)]);

    // Game to wire: the engine on the stepping game.
    SteppingGame game;
    auto engine = std::make_unique<rez::GamesourceEngine>();
    engine->sources.detectPauseMs = 0;
    for (int id = 0; id < rez::kGameCount; ++id)
        if (id != rez::kAssettoCorsa) engine->sources.setReader(id, std::make_unique<rez::test::AbsentReader>());
    engine->setInputDofLimit(0, -100, 100);
    engine->setRigDofLimit(0, -100, 100);
    engine->startThread();
    engine->setMotionSystemReady(1);
    if (!EmulatedController::waitUntil([&] { return engine->gameConnected.load() && engine->outputFade.load() == 1.0; }, 30000))
        return "the engine never went online";
    // Which first cue each level gives: held long enough to be read.
    std::map<int, float> cueOfLevel;
    {
        if (!wires[0]->start(true)) return "no wire";
        std::vector<std::pair<int, std::int64_t>> held;
        for (int level = 0; level < 8; ++level) {
            game.hold(level);
            rez::platform::sleepMs(60);
            held.emplace_back(level, counterNow());
        }
        const auto arrivals = wires[0]->stop();
        for (const auto& [level, until] : held) {
            const auto last = std::find_if(arrivals.rbegin(), arrivals.rend(), [&](const Arrival& a) { return a.at < until; });
            if (last == arrivals.rend()) return "no frames while the game held level " + std::to_string(level);
            cueOfLevel[level] = last->first;
        }
        for (int a = 0; a < 8; ++a)
            for (int b = a + 1; b < 8; ++b)
                if (cueOfLevel[a] == cueOfLevel[b]) return "two levels give the same cue";
    }
    for (int r = 0; r < rounds; ++r)
        for (std::size_t w = 0; w < wires.size(); ++w)
            for (int mode : {1, 0})
                gameBlock(*wires[w], mode == 1, game, cueOfLevel, 2500, figures[w][static_cast<std::size_t>(mode)]);
    engine->stopThread();

    std::printf("wire latency bench: %d rounds; the engine ticks on Assetto Corsa's shared memory (written here)\n",
                rounds);
    for (const Wire* w : wires) std::printf("  %-10s %s\n", w->name(), w->where().c_str());
    std::printf("%-10s %-16s %-26s   %-17s   %9s\n", "", "", "tick -> wire, ms", "game -> wire, ms", "CPU % of");
    std::printf("%-10s %-16s %8s %8s %8s   %8s %8s   %9s\n", "wire", "mode", "median", "p99", "max", "median", "p99",
                "a core");
    for (std::size_t w = 0; w < wires.size(); ++w) {
        for (int mode : {1, 0}) {
            ModeFigures& f = figures[w][static_cast<std::size_t>(mode)];
            const double maxTick =
                f.tickToWireMs.empty() ? 0.0 : *std::max_element(f.tickToWireMs.begin(), f.tickToWireMs.end());
            std::printf("%-10s %-16s %8.3f %8.3f %8.3f   %8.3f %8.3f   %9.1f\n", wires[w]->name(),
                        mode ? "woken on queue" : "pass start only", percentile(f.tickToWireMs, 0.5),
                        percentile(f.tickToWireMs, 0.99), maxTick, percentile(f.gameToWireMs, 0.5),
                        percentile(f.gameToWireMs, 0.99), f.wallMs > 0 ? f.cpuNs / 1e4 / f.wallMs : 0.0);
            std::printf("    %zu ticks, %zu frames lost, %zu written twice; %zu steps, %zu never seen on the wire\n",
                        f.ticks, f.framesLost, f.framesRepeated, f.gameToWireMs.size() + f.stepsUnseen, f.stepsUnseen);
        }
        std::printf("    %s: bad checksums %llu\n", wires[w]->name(), static_cast<unsigned long long>(wires[w]->badChecksums));
    }
    std::fflush(stdout);
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 3;
    if (!rez::platform::environmentVariable("REZ_DOCUMENTS_DIR"))
        rez::platform::setEnvironmentVariable("REZ_DOCUMENTS_DIR", std::filesystem::temp_directory_path().string());
    // The controller's reading thread must live in the process that
    // measures, so the line is opened there.
    auto measureSerialAnd = [&](Wire* other) -> std::string {
        SerialWire serial;
        std::string why;
        if (!serial.open(why)) return "no serial line: " + why;
        std::vector<Wire*> wires{&serial};
        if (other) wires.push_back(other);
        return measure(wires, rounds);
    };
#if !defined(_WIN32)
    const auto run = rez::sim::runInNetwork([&](rez::sim::MulticastMember& member) {
        MulticastWire multicast(member);
        return measureSerialAnd(&multicast);
    });
    if (run.outcome == rez::sim::NetworkRun::Ran) {
        if (!run.text.empty()) std::printf("wire_latency_bench: %s\n", run.text.c_str());
        return run.text.empty() ? 0 : 1;
    }
    std::printf("wire_latency_bench: no network namespace (%s); the serial wire only\n", run.text.c_str());
#endif
    const std::string result = measureSerialAnd(nullptr);
    if (!result.empty()) std::printf("wire_latency_bench: %s\n", result.c_str());
    return result.empty() ? 0 : 1;
}
