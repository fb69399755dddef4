// The network transport under the engine's load: a UDP game (BeamNG) feeds
// the engine, which ticks every 2 ms and hands each cue frame to the mailbox;
// the multicast sender sends it from the wired adapter (e1, one end of a
// veth pair in a network namespace of the bench's own) to a group member in
// a second namespace, which plays the network controller: it answers the
// version request that the bench queues once a second, so the listen thread
// is live throughout, as with a real controller.
//
// Game to wire: the game steps its longitudinal acceleration, which reaches
// the frame's second float unchanged; the member stamps the counter when it
// takes each datagram off its socket, and the latency of a step is the
// member's stamp of the first frame carrying the new value minus the game's
// stamp just before it sent the step. The next step follows 2-5 ms (at
// random) after the last one was seen, so steps fall on every phase of the
// engine's tick and the sender's pass.
//
// Rate and loss: every tick's number (mod 500) rides in the lateral
// acceleration, which reaches the frame's first float, so each frame names
// its tick. Over the measured seconds: ticks, frames the member received
// with a valid CRC, ticks whose frame never arrived (loss: a frame the
// engine's tick produced that did not reach the wire, for whatever reason:
// a full queue, the sender, the network, the member's socket), and the delay
// from the tick's sample read to the frame's arrival, both as the member
// took it and as the kernel queued it to the member's socket (the two differ
// by the member's own wait to be scheduled).
//
//   udp_transport_bench [seconds, default 60]   (Linux, as root)
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "controller/link_flags.h"
#include "controller/mailbox.h"
#include "core/bytes.h"
#include "engine/gamesource_engine.h"
#include "network/multicast_sender.h"
#include "network/udp_listen.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "sources/game_table.h"
#include "sim/multicast_member.h"
#include "tests/support/test_reader.h"
#include "sim/udp_game_senders.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

#if defined(_WIN32)
int main() {
    std::printf("udp_transport_bench: skipped: it needs Linux network namespaces\n");
    return 0;
}
#else

namespace {

using rez::platform::counterFrequency;
using rez::platform::counterNow;

constexpr std::size_t kTagCycle = 500;
constexpr double kStepUnit = 0.05;  // m/s² per step level
constexpr int kStepLevels = 400;
constexpr int kLeastSteps = 1000;

// The game's own reader, noting when each tick read and naming the tick in
// the lateral acceleration.
class TaggingReader : public rez::GameReader {
public:
    TaggingReader(std::unique_ptr<rez::GameReader> inner, std::size_t capacity)
        : stamps(capacity), inner_(std::move(inner)) {}
    bool detect() override { return inner_->detect(); }
    void detectFailed() override { inner_->detectFailed(); }
    bool attach() override { return inner_->attach(); }
    bool read(rez::GameDataRecord& record) override {
        const std::size_t tick = ticks.load(std::memory_order_relaxed);
        if (tick < stamps.size()) {
            stamps[tick] = counterNow();
            ticks.store(tick + 1, std::memory_order_release);
        }
        const bool fresh = inner_->read(record);
        record.slots[rez::kLateralAccelG] = static_cast<double>(tick % kTagCycle) / 10.0;
        return fresh;
    }
    void close() override { inner_->close(); }

    std::vector<std::int64_t> stamps;  // the first `ticks` are written
    std::atomic<std::size_t> ticks{0};

private:
    std::unique_ptr<rez::GameReader> inner_;
};

double usBetween(std::int64_t from, std::int64_t to) {
    return static_cast<double>(to - from) * 1e6 / static_cast<double>(counterFrequency());
}

struct Distribution {
    std::size_t n = 0;
    double median = 0, p99 = 0, p999 = 0, max = 0;
};

Distribution distribution(std::vector<double> v) {
    Distribution d;
    if (v.empty()) return d;
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))]; };
    d.n = v.size();
    d.median = at(0.5);
    d.p99 = at(0.99);
    d.p999 = at(0.999);
    d.max = v.back();
    return d;
}

bool isCueFrame(const rez::sim::Received& r) {
    return r.bytes.size() == 36 && r.bytes[0] == 0xFC && r.bytes[1] == 0xFC;
}

int stepLevel(const rez::sim::Received& r) {
    return static_cast<int>(std::lround(rez::load_le<float>(r.bytes.data() + 6) / kStepUnit));
}

bool waitUntil(const std::function<bool()>& condition, int ms) {
    const std::int64_t deadline = counterNow() + counterFrequency() * ms / 1000;
    while (!condition()) {
        if (counterNow() > deadline) return false;
        rez::platform::sleepMs(1);
    }
    return true;
}

std::string measure(rez::sim::MulticastMember& member, int seconds) {
    rez::linkFlags().reset();
    rez::mailbox().clearAll();
    std::thread listener([] { startUPDListenThread(); });
    std::thread sender([] { startUPDMulticastSenderThread(); });
    auto stopLink = [&] {
        stopREZadEdudid_Thread();
        listener.join();
        sender.join();
    };
    if (!waitUntil([] { return rez::linkFlags().udpStarted.load() && rez::linkFlags().udpRunning.load(); }, 5000)) {
        stopLink();
        return "the multicast sender did not start (see error_log.txt)";
    }

    // The controller answers a version request: the listen thread goes live.
    static const unsigned char versionRequest[] = {0xF9, 0xF9, 0x02, 0x00, 0x01, 0x00, 0x0A, 0x0D};
    sendMessagemmf(versionRequest);
    if (!waitUntil([] { return rez::linkFlags().udpLive.load(); }, 5000)) {
        stopLink();
        return "the listen thread never went live on the controller's answer";
    }

    auto engine = std::make_unique<rez::GamesourceEngine>();
    engine->sources.detectPauseMs = 0;
    for (int id = 0; id < rez::kGameCount; ++id)
        if (id != rez::kBeamNg) engine->sources.setReader(id, std::make_unique<rez::test::AbsentReader>());
    auto tagging = std::make_unique<TaggingReader>(std::move(engine->sources.readers[rez::kBeamNg]),
                                                   static_cast<std::size_t>(seconds + 120) * 600);
    TaggingReader* reader = tagging.get();
    engine->sources.setReader(rez::kBeamNg, std::move(tagging));
    for (int c = 0; c < 8; ++c) engine->setInputDofLimit(c, -100, 100);
    for (int i = 0; i < 6; ++i) engine->setRigDofLimit(i, -100, 100);

    rez::sim::Motion m;
    {
        rez::sim::GameStream stream(rez::kBeamNg, m, 5);
        stream.waitUntilSending();
        engine->startThread();
        engine->setMotionSystemReady(1);
        const bool found = waitUntil([&] { return engine->gameConnected.load(); }, 20000);
        // Steps are measured on live values, after the output fade.
        const bool faded = found && waitUntil([&] { return engine->outputFade.load() == 1.0; }, 30000);
        stream.stop();
        if (!faded) {
            engine->stopThread();
            stopLink();
            return found ? "the output fade did not end" : "BeamNG was not found";
        }
    }

    rez::sim::GameSender game(rez::kBeamNg);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> gapUs(2000, 5000);
    std::vector<double> gameToWireUs;
    int notSeen = 0;
    int steps = 0;
    std::size_t seen = member.count();
    const std::size_t firstTick = reader->ticks.load(std::memory_order_acquire);
    const std::int64_t t0 = counterNow();
    std::int64_t nextRequest = t0;
    int repliesRead = 0;
    unsigned char reply[rez::kMaxMessageLength];
    while (usBetween(t0, counterNow()) < seconds * 1e6 || steps < kLeastSteps) {
        if (counterNow() >= nextRequest) {
            sendMessagemmf(versionRequest);
            while (readMessagemmf(reply) > 0) ++repliesRead;
            nextRequest += counterFrequency();
        }
        ++steps;
        const int level = steps % kStepLevels + 1;
        m.longitudinalAccel = level * kStepUnit;
        const std::int64_t sent = counterNow();
        game.send(m);
        const std::int64_t giveUp = sent + counterFrequency() / 10;
        bool found = false;
        while (!found && counterNow() < giveUp) {
            rez::platform::sleepNs(500'000);
            const auto fresh = member.receivedFrom(seen);
            seen += fresh.size();
            for (const auto& r : fresh)
                if (!found && r.arrival >= sent && isCueFrame(r) && stepLevel(r) == level) {
                    gameToWireUs.push_back(usBetween(sent, r.arrival));
                    found = true;
                }
        }
        if (!found) ++notSeen;
        rez::platform::sleepNs(static_cast<std::int64_t>(gapUs(random)) * 1000);
    }
    const std::int64_t t1 = counterNow();
    const bool liveThroughout = rez::linkFlags().udpLive.load();
    engine->stopThread();
    rez::platform::sleepMs(200);  // the last frames leave the queue
    const std::size_t lastTick = reader->ticks.load(std::memory_order_acquire);
    const auto all = member.received();
    const auto counts = member.counts();
    stopLink();

    // Each frame belongs to the latest tick with its number that read before it arrived.
    const std::vector<std::int64_t>& stamps = reader->stamps;
    std::set<std::size_t> ticksSeen;
    std::vector<double> tickToWireUs, tickToSocketUs;
    std::size_t frames = 0, corrupted = 0, versionRequests = 0;
    for (const auto& r : all) {
        if (!isCueFrame(r)) {
            if (r.bytes.size() == 8 && r.bytes[0] == 0xF9 && r.bytes[2] == 0x02) ++versionRequests;
            continue;
        }
        if (rez::sim::MulticastMember::trailerOf(r.bytes) != rez::sim::MulticastMember::Trailer::Checksum) {
            ++corrupted;
            continue;
        }
        const auto tag = static_cast<std::size_t>(std::lround(rez::load_le<float>(r.bytes.data() + 2) * 10.0f));
        std::size_t tick = static_cast<std::size_t>(std::upper_bound(stamps.begin(), stamps.begin() + static_cast<std::ptrdiff_t>(lastTick), r.arrival) -
                                                    stamps.begin());
        while (tick > 0 && (tick - 1) % kTagCycle != tag) --tick;
        if (tick == 0) continue;
        --tick;
        if (tick < firstTick || stamps[tick] > t1) continue;
        ++frames;
        ticksSeen.insert(tick);
        tickToWireUs.push_back(usBetween(stamps[tick], r.arrival));
        if (r.queued != 0) tickToSocketUs.push_back(usBetween(stamps[tick], r.queued));
    }
    std::size_t ticks = 0;
    for (std::size_t i = firstTick; i < lastTick; ++i)
        if (stamps[i] <= t1) ++ticks;
    const double windowS = usBetween(t0, t1) / 1e6;
    const std::size_t lost = ticks - std::min(ticks, ticksSeen.size());
    const Distribution g = distribution(gameToWireUs);
    const Distribution t = distribution(tickToWireUs);
    const Distribution k = distribution(tickToSocketUs);

    std::printf("udp transport bench: %.1f s; the engine ticks on BeamNG's UDP datagrams (port %d), its multicast\n"
                "sender sends from e1 10.9.0.1 to 232.11.12.14:51324, the member (network controller) is 10.9.0.2 in a\n"
                "namespace of its own\n\n",
                windowS, static_cast<int>(rez::sim::gamePort(rez::kBeamNg)));
    std::printf("| measure | value |\n|---|---|\n");
    std::printf("| engine ticks | %zu (%.1f /s) |\n", ticks, static_cast<double>(ticks) / windowS);
    std::printf("| cue frames received, CRC ok | %zu (%.1f /s; one per tick is 500 /s) |\n", frames,
                static_cast<double>(frames) / windowS);
    std::printf("| lost: ticks whose frame never arrived | %zu (%.3f %%) |\n", lost,
                ticks ? 100.0 * static_cast<double>(lost) / static_cast<double>(ticks) : 0.0);
    std::printf("| repeated: a tick's frame seen twice | %zu |\n", frames - ticksSeen.size());
    std::printf("| bad CRC | %zu (all datagrams with a bad trailer: %llu) |\n", corrupted,
                static_cast<unsigned long long>(counts.bad));
    std::printf("| game to wire, %zu steps | median %.1f us, p99 %.1f us, p99.9 %.1f us, max %.1f us |\n", g.n, g.median,
                g.p99, g.p999, g.max);
    std::printf("| steps not seen within 100 ms | %d of %d |\n", notSeen, steps);
    std::printf("| tick's read to wire | median %.1f us, p99 %.1f us, p99.9 %.1f us, max %.1f us |\n", t.median, t.p99,
                t.p999, t.max);
    std::printf("| tick's read to the member's socket (kernel stamp) | median %.1f us, p99 %.1f us, p99.9 %.1f us, max %.1f us |\n",
                k.median, k.p99, k.p999, k.max);
    std::printf("| listen thread live | %s (version requests %zu, answers %llu, replies read %d) |\n",
                liveThroughout ? "yes, at the end" : "no, at the end", versionRequests,
                static_cast<unsigned long long>(counts.answers), repliesRead);
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 60;
    // The network log goes to a folder of the bench's own.
    if (!rez::platform::environmentVariable("REZ_DOCUMENTS_DIR"))
        rez::platform::setEnvironmentVariable("REZ_DOCUMENTS_DIR", std::filesystem::temp_directory_path().string());
    rez::sim::MemberOptions options;
    options.version = 328;
    const auto run = rez::sim::runInNetwork([&](rez::sim::MulticastMember& member) { return measure(member, seconds); }, options);
    switch (run.outcome) {
        case rez::sim::NetworkRun::NoNamespace:
            std::printf("udp_transport_bench: skipped: no network namespace can be made here (run as root): %s\n",
                        run.text.c_str());
            return 0;
        case rez::sim::NetworkRun::Ran:
            if (run.text.empty()) return 0;
            std::printf("udp_transport_bench: %s\n", run.text.c_str());
            return 1;
        default:
            std::printf("udp_transport_bench: %s\n", run.text.c_str());
            return 1;
    }
}

#endif
