// How long a cue frame takes from the tick to the wire, with the transports
// woken the moment a message is queued (the default) and with the old
// pass-start-only transmission (REZ_PASS_START_TRANSMIT=1), both in one run,
// block by block in turn so that a change in the machine's load falls on
// both alike.
//
// Tick to wire: a 2 ms tick of the bench's own, paced like the engine's,
// stamps the counter just before it hands a tagged cue frame to
// sendMessagemmf; the emulated controller stamps the read of the frame's last
// byte.
// Game to wire: the engine ticks on Assetto Corsa telemetry; the game steps
// its lateral acceleration at random moments (3-7 ms apart, on every phase of
// both loops) and stamps each step; the first frame that carries the new
// value ends the measurement. Its floor is the engine's tick, up to 2 ms
// after the step.
// CPU: the link thread's CPU time over its wall time, per mode.
//
//   wire_latency_bench [rounds, default 3]   (each round: about 12 s per mode)
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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
#include "core/bytes.h"
#include "core/sample_clock.h"
#include "engine/gamesource_engine.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "tests/support/emulated_controller.h"
#include "tests/support/game_writers.h"
#include "tests/support/test_reader.h"

namespace {

using rez::platform::counterNow;
using rez::test::EmulatedController;

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

// The serial link to an emulated controller on a pseudo-terminal, started
// afresh for each block so that it reads the mode switch.
class SerialWire {
public:
    bool open(std::string& why) {
        if (!controller_.open(why)) return false;
        if (!controller_.hasUsbIdentity()) return why = "the line has no USB identity here", false;
        return true;
    }
    bool start(bool onWake) {
        if (onWake)
            rez::platform::unsetEnvironmentVariable("REZ_PASS_START_TRANSMIT");
        else
            rez::platform::setEnvironmentVariable("REZ_PASS_START_TRANSMIT", "1");
        rez::linkFlags().reset();
        rez::mailbox().clearAll();
        cpuNs_ = 0;
        thread_ = std::thread([this] {
            const std::int64_t wall0 = counterNow();
            startREZadEdudid_Thread();
            cpuNs_ = rez::platform::threadCpuTimeNs();
            wallTicks_ = counterNow() - wall0;
        });
        EmulatedController::waitUntil([] { return rez::linkFlags().linkRunning.load(); }, 5000);
        setStandartPort(controller_.portName().c_str());
        const bool connected = resumeInterface() == 1;
        controller_.reset();
        return connected;
    }
    // Stops the link; the frames that reached the controller meanwhile.
    std::vector<Arrival> stop() {
        rez::platform::sleepMs(20);  // the last frames reach the line
        stopREZadEdudid_Thread();
        thread_.join();
        std::vector<Arrival> out;
        for (const auto& f : controller_.framesWithLead(0xFC))
            if (f.trailer == EmulatedController::Trailer::Checksum)
                out.push_back({f.arrival, rez::load_le<float>(f.bytes.data() + 2)});
        badChecksums_ += controller_.counts().badChecksums;
        controller_.reset();
        return out;
    }
    double cpuNs() const { return static_cast<double>(cpuNs_.load()); }
    double wallMs() const { return static_cast<double>(wallTicks_.load()) / kPerMs; }
    std::uint64_t badChecksums() const { return badChecksums_; }

private:
    EmulatedController controller_;
    std::thread thread_;
    std::atomic<std::int64_t> cpuNs_{0};
    std::atomic<std::int64_t> wallTicks_{0};
    std::uint64_t badChecksums_ = 0;
};

struct ModeFigures {
    std::vector<double> tickToWireMs;
    std::vector<double> gameToWireMs;
    std::size_t ticks = 0, framesLost = 0, framesRepeated = 0, stepsUnseen = 0;
    double cpuNs = 0.0, wallMs = 0.0;
};

// One block of the bench's own tick: `count` tagged frames, 2 ms apart.
void tickBlock(SerialWire& wire, bool onWake, int count, ModeFigures& figures) {
    if (!wire.start(onWake)) {
        std::printf("wire_latency_bench: the link did not connect\n");
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
            rez::test::AcPhysics sample;
            sample.packetId = ++packet;
            sample.accG[0] = 0.1f * static_cast<float>(level + 1);
            // Telemetry that never changes is taken for a frozen game, and
            // the engine then fades its outputs out.
            sample.localVelocity[0] = static_cast<float>(packet % 2);
            writer_.publish(sample);
            rez::platform::sleepNs(250'000);
        }
    }

    rez::test::AssettoCorsaWriter writer_;
    std::thread thread_;
    std::atomic<bool> running_{true};
    std::atomic<int> held_{0};
    std::mutex mutex_;
    bool stepping_ = false;
    std::vector<Step> steps_;
};

void gameBlock(SerialWire& wire, bool onWake, SteppingGame& game, const std::map<int, float>& cueOfLevel,
               int milliseconds, ModeFigures& figures) {
    if (!wire.start(onWake)) {
        std::printf("wire_latency_bench: the link did not connect\n");
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

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 3;
    SerialWire wire;
    std::string why;
    if (!wire.open(why)) {
        std::printf("wire_latency_bench: no serial line: %s\n", why.c_str());
        return 1;
    }
    ModeFigures figures[2];  // [0] pass start only, [1] woken on queue
    // Tick to wire: the bench's tick, no engine.
    for (int r = 0; r < rounds; ++r)
        for (int mode : {1, 0}) tickBlock(wire, mode == 1, 2500, figures[mode]);

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
    if (!EmulatedController::waitUntil([&] { return engine->outputFade.load() == 1.0; }, 30000)) {
        std::printf("wire_latency_bench: the engine never went online\n");
        return 1;
    }
    // Which first cue each level gives: held long enough to be read.
    std::map<int, float> cueOfLevel;
    {
        if (!wire.start(true)) return 1;
        std::vector<std::pair<int, std::int64_t>> held;
        for (int level = 0; level < 8; ++level) {
            game.hold(level);
            rez::platform::sleepMs(60);
            held.emplace_back(level, counterNow());
        }
        const auto arrivals = wire.stop();
        for (const auto& [level, until] : held) {
            const auto last = std::find_if(arrivals.rbegin(), arrivals.rend(), [&](const Arrival& a) { return a.at < until; });
            if (last == arrivals.rend()) {
                std::printf("wire_latency_bench: no frames while the game held level %d\n", level);
                return 1;
            }
            cueOfLevel[level] = last->first;
        }
        for (int a = 0; a < 8; ++a)
            for (int b = a + 1; b < 8; ++b)
                if (cueOfLevel[a] == cueOfLevel[b]) {
                    std::printf("wire_latency_bench: levels %d and %d give the same cue\n", a, b);
                    return 1;
                }
    }
    for (int r = 0; r < rounds; ++r)
        for (int mode : {1, 0}) gameBlock(wire, mode == 1, game, cueOfLevel, 2500, figures[mode]);
    engine->stopThread();

    std::printf("wire latency bench: serial link to an emulated controller on a pseudo-terminal, %d rounds\n", rounds);
    std::printf("%-22s %-36s %-28s %s\n", "mode", "tick -> wire ms (median p99 max)", "game -> wire ms (median p99)",
                "link CPU % of a core");
    for (int mode : {1, 0}) {
        ModeFigures& f = figures[mode];
        const double maxTick = f.tickToWireMs.empty() ? 0.0 : *std::max_element(f.tickToWireMs.begin(), f.tickToWireMs.end());
        std::printf("%-22s %8.3f %8.3f %8.3f           %8.3f %8.3f           %6.1f\n",
                    mode ? "woken on queue" : "pass start only", percentile(f.tickToWireMs, 0.5),
                    percentile(f.tickToWireMs, 0.99), maxTick, percentile(f.gameToWireMs, 0.5),
                    percentile(f.gameToWireMs, 0.99), f.wallMs > 0 ? f.cpuNs / 1e4 / f.wallMs : 0.0);
        std::printf("    %zu ticks, %zu frames lost, %zu written twice; %zu steps, %zu never seen on the wire\n", f.ticks,
                    f.framesLost, f.framesRepeated, f.gameToWireMs.size() + f.stepsUnseen, f.stepsUnseen);
    }
    std::printf("bad checksums on the line: %llu\n", static_cast<unsigned long long>(wire.badChecksums()));
    return 0;
}
