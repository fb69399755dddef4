// The serial link under the engine's load: a game publishes telemetry, the
// engine ticks every 2 ms and hands each cue frame to the mailbox, the link
// writes it to an emulated controller at the far end of a pseudo-terminal.
//
// Reports, over the measured seconds (default 60):
//   - cue frames per second that reached the controller with a valid CRC,
//     and how many ticks' frames never arrived or arrived corrupted;
//   - the delay from the tick to its frame's last byte at the controller
//     (median, p99, max), measured from the tick's sample read, which comes
//     a few microseconds before the tick hands its frame to sendMessagemmf;
//   - the CPU time of the link thread.
//
//   serial_link_bench [seconds]
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "controller/link_flags.h"
#include "core/bytes.h"
#include "controller/mailbox.h"
#include "controller/serial_link.h"
#include "engine/gamesource_engine.h"
#include "platform/clock.h"
#include "sim/emulated_controller.h"
#include "sim/game_writers.h"
#include "tests/support/test_reader.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace {

constexpr std::size_t kTagCycle = 500;

// The game's own reader, noting when each tick read a sample.
class StampingReader : public rez::GameReader {
public:
    StampingReader(std::unique_ptr<rez::GameReader> inner, std::size_t capacity) : inner_(std::move(inner)) {
        stamps.reserve(capacity);
    }
    bool detect() override { return inner_->detect(); }
    void detectFailed() override { inner_->detectFailed(); }
    bool attach() override { return inner_->attach(); }
    // The tick's number (mod kTagCycle) rides in the lateral acceleration, which
    // reaches the cue frame's first float unchanged, so each frame names its tick.
    bool read(rez::GameDataRecord& record) override {
        const std::size_t tick = stamps.size();
        if (tick < stamps.capacity()) stamps.push_back(rez::platform::counterNow());
        inner_->read(record);
        record.slots[rez::kLateralAccelG] = static_cast<double>(tick % kTagCycle) / 10.0;
        return true;
    }
    void close() override { inner_->close(); }
    std::vector<std::int64_t> stamps;  // read by the bench only after the engine stopped

private:
    std::unique_ptr<rez::GameReader> inner_;
};

double percentile(std::vector<double>& v, double q) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 60;
    const double perMs = static_cast<double>(rez::platform::counterFrequency()) / 1000.0;

    rez::sim::EmulatedController controller;
    std::string why;
    if (!controller.open(why)) {
        std::printf("serial_link_bench: no line: %s\n", why.c_str());
        return 1;
    }
    if (!controller.hasUsbIdentity()) {
        std::printf("serial_link_bench: the line has no USB identity here (Linux only)\n");
        return 1;
    }

    // The link, on a thread of its own as a host lends it.
    rez::linkFlags().reset();
    rez::mailbox().clearAll();
    std::atomic<std::int64_t> linkCpuNs{0};
    std::atomic<std::int64_t> linkWallTicks{0};
    std::thread link([&] {
        const std::int64_t wall0 = rez::platform::counterNow();
        startREZadEdudid_Thread();
        linkCpuNs = rez::platform::threadCpuTimeNs();
        linkWallTicks = rez::platform::counterNow() - wall0;
    });
    rez::sim::EmulatedController::waitUntil([] { return rez::linkFlags().linkRunning.load(); }, 5000);
    setStandartPort(controller.portName().c_str());
    if (resumeInterface() != 1) {
        std::printf("serial_link_bench: the link did not connect to %s\n", controller.portName().c_str());
        stopREZadEdudid_Thread();
        link.join();
        return 1;
    }

    // The game and the engine.
    rez::sim::AssettoCorsaWriter writer;
    writer.setStatus(2);
    std::atomic<bool> publishing{true};
    std::thread game([&] {
        for (std::int32_t packet = 1; publishing.load(); ++packet) {
            rez::sim::AcPhysics sample;
            sample.packetId = packet;
            sample.accG[0] = 0.1f * static_cast<float>(packet % 7);
            sample.localVelocity[0] = static_cast<float>(packet % 2);
            writer.publish(sample);
            rez::platform::sleepMs(2);
        }
    });
    auto engine = std::make_unique<rez::GamesourceEngine>();
    engine->sources.detectPauseMs = 0;
    for (int id = 0; id < rez::kGameCount; ++id)
        if (id != rez::kAssettoCorsa) engine->sources.setReader(id, std::make_unique<rez::test::AbsentReader>());
    auto stamping = std::make_unique<StampingReader>(std::move(engine->sources.readers[rez::kAssettoCorsa]),
                                                     static_cast<std::size_t>(seconds + 30) * 600);
    StampingReader* reader = stamping.get();
    engine->sources.setReader(rez::kAssettoCorsa, std::move(stamping));
    engine->setInputDofLimit(0, -100, 100);
    engine->setRigDofLimit(0, -100, 100);
    engine->startThread();
    engine->setMotionSystemReady(1);
    if (!rez::sim::EmulatedController::waitUntil([&] { return controller.counts().frames > 500; }, 20000)) {
        std::printf("serial_link_bench: no cue frames reach the controller\n");
        return 1;
    }

    // Frames carry their tick's tag once the output fade is over.
    rez::sim::EmulatedController::waitUntil([&] { return engine->outputFade.load() == 1.0; }, 30000);
    rez::platform::sleepMs(1000);
    controller.reset();
    const std::int64_t t0 = rez::platform::counterNow();
    rez::platform::sleepMs(seconds * 1000LL);
    const std::int64_t t1 = rez::platform::counterNow();
    engine->stopThread();
    rez::platform::sleepMs(100);  // the last frames reach the line
    const auto frames = controller.framesWithLead(0xFC);
    const auto counts = controller.counts();
    stopREZadEdudid_Thread();
    link.join();
    publishing = false;
    game.join();

    // Each frame belongs to the latest tick that read before its last byte came.
    const std::vector<std::int64_t>& stamps = reader->stamps;
    std::vector<double> delaysMs;
    std::set<std::size_t> ticksSeen;
    std::size_t frameCount = 0;
    std::size_t corrupted = 0;
    for (const auto& f : frames) {
        if (f.trailer != rez::sim::EmulatedController::Trailer::Checksum) {
            ++corrupted;
            continue;
        }
        const std::size_t tag = static_cast<std::size_t>(rez::load_le<float>(f.bytes.data() + 2) * 10.0f + 0.5f);
        auto after = std::upper_bound(stamps.begin(), stamps.end(), f.arrival);
        std::size_t tick = static_cast<std::size_t>(after - stamps.begin());
        while (tick > 0 && (tick - 1) % kTagCycle != tag) --tick;
        if (tick == 0) continue;
        --tick;
        if (stamps[tick] < t0 || stamps[tick] > t1) continue;
        ++frameCount;
        ticksSeen.insert(tick);
        delaysMs.push_back(static_cast<double>(f.arrival - stamps[tick]) / perMs);
    }
    const std::size_t ticks = static_cast<std::size_t>(
        std::count_if(stamps.begin(), stamps.end(), [&](std::int64_t s) { return s >= t0 && s <= t1; }));
    const double windowS = static_cast<double>(t1 - t0) / perMs / 1000.0;
    const double maxDelay = delaysMs.empty() ? 0.0 : *std::max_element(delaysMs.begin(), delaysMs.end());

    std::printf("serial link bench: %.1f s; the engine ticks on Assetto Corsa's shared memory (written here) and its\n"
                "serial link sends at 250000 baud to an emulated controller on %s (a pseudo-terminal)\n",
                windowS, controller.portName().c_str());
    const auto label = [](const char* name) { std::printf("%-19s", name); };
    label("ticks");
    std::printf("%zu (%.1f /s)\n", ticks, static_cast<double>(ticks) / windowS);
    label("frames, CRC ok");
    std::printf("%zu (%.1f /s; target 500 /s)\n", frameCount, static_cast<double>(frameCount) / windowS);
    label("lost");
    std::printf("%zu ticks without a frame\n", ticks - std::min(ticks, ticksSeen.size()));
    label("corrupted");
    std::printf("%zu (bad CRC on the line: %llu)\n", corrupted, static_cast<unsigned long long>(counts.badChecksums));
    label("repeated");
    std::printf("%zu frames (a tick's frame seen twice)\n", frameCount - ticksSeen.size());
    label("gaps > 4 ms");
    std::printf("%llu\n", static_cast<unsigned long long>(counts.gaps));
    label("tick -> last byte");
    std::printf("median %.3f ms, p99 %.3f ms, max %.3f ms\n", percentile(delaysMs, 0.5), percentile(delaysMs, 0.99),
                maxDelay);
    const double linkWallS = static_cast<double>(linkWallTicks.load()) / perMs / 1000.0;
    label("link thread CPU");
    std::printf("%.1f ms/s (%.1f %% of a core) over its %.1f s\n", static_cast<double>(linkCpuNs.load()) / 1e6 / linkWallS,
                static_cast<double>(linkCpuNs.load()) / 1e7 / linkWallS, linkWallS);
    return 0;
}
