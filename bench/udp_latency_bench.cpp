// Game-to-record latency of a UDP game, and what a flood of datagrams does to
// a read.
//
// Latency: the engine runs with BeamNG attached (other games absent). A
// sender steps the longitudinal speed it sends, 1000 times, stamps the
// counter when it sends and busy-polls the engine's record until the value
// shows; steps are spaced a random 2-5 ms apart so they fall on every phase
// of the engine's 2 ms tick. The floor of this design is one tick.
//
// Flood: a reader of its own (on another port) is read every 2 ms while a
// sender pushes about 100 000 datagrams per second at it; reported are the
// time one read takes and the process's resident memory before and after.
//
//   udp_latency_bench [flood seconds, default 5]
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "core/relaxed.h"
#include "engine/gamesource_engine.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "sources/game_table.h"
#include "sources/udp/udp_game_reader.h"
#include "tests/support/test_reader.h"
#include "sim/udp_game_senders.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace {

using rez::platform::counterFrequency;
using rez::platform::counterNow;

double usBetween(std::int64_t from, std::int64_t to) {
    return static_cast<double>(to - from) * 1e6 / static_cast<double>(counterFrequency());
}

void printDistributionHeader() {
    std::printf("%-22s %6s %10s %10s %10s\n", "", "n", "median us", "p99 us", "max us");
}

void printDistribution(const char* name, std::vector<double> us) {
    if (us.empty()) {
        std::printf("%-22s no samples\n", name);
        return;
    }
    std::sort(us.begin(), us.end());
    auto at = [&](double q) { return us[std::min(us.size() - 1, static_cast<std::size_t>(q * static_cast<double>(us.size())))]; };
    std::printf("%-22s %6zu %10.1f %10.1f %10.1f\n", name, us.size(), at(0.5), at(0.99), us.back());
}

// Resident memory in KiB, or 0 where /proc is not there.
long residentKib() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    if (!(statm >> pages >> resident)) return 0;
    return resident * 4;
}

void latency() {
    auto engine = std::make_unique<rez::GamesourceEngine>();
    engine->sources.detectPauseMs = 0;
    for (int id = 0; id < rez::kGameCount; ++id)
        if (id != rez::kBeamNg) engine->sources.setReader(id, std::make_unique<rez::test::AbsentReader>());
    rez::sim::Motion m;
    m.longitudinalSpeed = 0;
    rez::sim::GameStream stream(rez::kBeamNg, m, 5);
    stream.waitUntilSending();
    engine->startThread();
    engine->setMotionSystemReady(1);
    const std::int64_t giveUp = counterNow() + counterFrequency() * 20;
    while (!engine->gameConnected.load() && counterNow() < giveUp) rez::platform::sleepMs(5);
    stream.stop();
    if (!engine->gameConnected.load()) {
        std::printf("latency: BeamNG was not found\n");
        return;
    }
    rez::sim::GameSender game(rez::kBeamNg);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> gapUs(2000, 5000);
    std::vector<double> us;
    int lost = 0;
    for (int step = 1; step <= 1000; ++step) {
        m.longitudinalSpeed = step;
        const std::int64_t sent = counterNow();
        game.send(m);
        const std::int64_t deadline = sent + counterFrequency() / 10;
        std::int64_t now = sent;
        while ((now = counterNow()) < deadline &&
               rez::relaxedLoad(engine->sources.record.slots[rez::kLongituSpeed]) != static_cast<double>(step)) {
        }
        if (now >= deadline)
            ++lost;
        else
            us.push_back(usBetween(sent, now));
        rez::platform::sleepNs(static_cast<std::int64_t>(gapUs(random)) * 1000);
    }
    engine->stopThread();
    std::printf("latency: the engine reads BeamNG's UDP datagrams on 127.0.0.1:%d; 1000 speed steps sent, each timed "
                "until the engine's record shows it\n",
                static_cast<int>(rez::sim::gamePort(rez::kBeamNg)));
    printDistributionHeader();
    printDistribution("game to record", us);
    std::printf("%d of 1000 not seen within 100 ms\n", lost);
}

void flood(int seconds) {
    auto reader = rez::makeUdpGameReader(rez::kBeamNg, {});
    reader->port = 47400;
    if (!reader->attach()) {
        std::printf("flood: port 47400 would not open\n");
        return;
    }
    std::atomic<bool> running{true};
    std::atomic<long> sent{0};
    std::atomic<bool> flooding{false};
    std::thread sender([&] {
        rez::platform::netStartup();
        {
            rez::platform::UdpSocket socket;
            socket.open();
            rez::sim::Motion m;
            const auto datagram = rez::sim::gameDatagrams(rez::kBeamNg, m).front();
            // 200 datagrams per 2 ms: 100 000 per second.
            while (running.load()) {
                if (!flooding.load()) {
                    rez::platform::sleepMs(1);
                    continue;
                }
                const std::int64_t start = counterNow();
                for (int i = 0; i < 200; ++i)
                    if (socket.sendTo(datagram.data(), static_cast<int>(datagram.size()), "127.0.0.1", 47400) > 0) ++sent;
                const double spent = usBetween(start, counterNow());
                if (spent < 2000) rez::platform::sleepNs(static_cast<std::int64_t>((2000 - spent) * 1000));
            }
        }
        rez::platform::netCleanup();
    });
    rez::GameDataRecord record;
    std::vector<double> us;
    // First the read of a tick with nothing queued, the usual case between
    // two of a game's samples.
    for (int i = 0; i < 1000; ++i) {
        const std::int64_t before = counterNow();
        reader->read(record);
        us.push_back(usBetween(before, counterNow()));
    }
    std::printf("\nflood: a BeamNG reader of its own on 127.0.0.1:%d, read every 2 ms; first with nothing queued, then "
                "under about 100 000 datagrams/s\n",
                static_cast<int>(reader->port));
    printDistributionHeader();
    printDistribution("one read, none queued", us);
    us.clear();
    const long kibBefore = residentKib();
    flooding.store(true);
    const std::int64_t start = counterNow();
    while (usBetween(start, counterNow()) < seconds * 1e6) {
        const std::int64_t before = counterNow();
        reader->read(record);
        us.push_back(usBetween(before, counterNow()));
        rez::platform::sleepNs(2'000'000);
    }
    const double wallS = usBetween(start, counterNow()) / 1e6;
    running.store(false);
    sender.join();
    reader->close();
    printDistribution("one read in a flood", us);
    std::printf("%.0f datagrams/s sent, %d at most taken per read; resident memory %ld KiB before, %ld KiB after\n",
                static_cast<double>(sent.load()) / wallS, rez::kMostDatagramsPerRead, kibBefore, residentKib());
}

}  // namespace

int main(int argc, char** argv) {
    const int floodSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    // The ports' log lines go to a folder of the bench's own.
    if (!rez::platform::environmentVariable("REZ_DOCUMENTS_DIR"))
        rez::platform::setEnvironmentVariable("REZ_DOCUMENTS_DIR", std::filesystem::temp_directory_path().string());
    latency();
    flood(floodSeconds);
    return 0;
}
