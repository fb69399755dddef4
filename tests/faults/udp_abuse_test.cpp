// A UDP game's port flooded at 100 000 datagrams a second, most of them cut
// short or too long for the receive area, while the engine ticks on it.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <iostream>
#include <thread>
#include <vector>

#include "sim/udp_game_senders.h"
#include "tests/faults/fault_util.h"
#include "tests/support/child_game.h"

namespace rez {
namespace {

using Datagram = std::vector<unsigned char>;

constexpr double kGoodYaw = 33.0;
constexpr double kBadYaw = 77.0;

Datagram gameDatagram(int id, double yaw) {
    sim::Motion m;
    m.yaw = yaw;
    return sim::gameDatagrams(id, m).front();
}

// The bad datagrams of a game: its sample cut to half and to one byte short,
// and the sample followed by padding past the 8192-byte receive area.
std::vector<Datagram> badDatagrams(int id) {
    const Datagram whole = gameDatagram(id, kBadYaw);
    Datagram oversized = whole;
    oversized.resize(9000, 0x5A);
    return {Datagram(whole.begin(), whole.begin() + static_cast<long>(whole.size() / 2)),
            Datagram(whole.begin(), whole.end() - 1), oversized};
}

TEST(UdpAbuse, FloodOfBadDatagramsNeverReachesTheRecordNorStallsTheTick) {
    constexpr int kPerSecond = 100000;
    constexpr int kFloodMs = 3000;
    for (int id : {kDirtRally2, kBeamNg, kLfs}) {
        SCOPED_TRACE(gameName(id));
        std::unique_ptr<test::ChildGame> process;
        if (id == kLfs) {
            process = std::make_unique<test::ChildGame>("LFS.exe");  // detection asks for it
            ASSERT_TRUE(process->started());
        }
        sim::Motion good;
        good.yaw = kGoodYaw;
        sim::GameStream stream(id, good);
        ASSERT_TRUE(stream.waitUntilSending());
        auto engine = std::make_unique<GamesourceEngine>();
        faults::keepOnly(engine->sources, {id});
        faults::CountingReader& reader = faults::countTicks(engine->sources, makeGameReader(id), id);
        engine->startThread();
        engine->setMotionSystemReady(1);
        ASSERT_TRUE(faults::eventually([&] { return engine->gameConnected.load(); }, 20000));
        // The pace of this machine now, to judge the pace under the flood by.
        const long calmTicks = faults::ticksOver(reader, 1000);

        // One good sample in every four datagrams of the flood.
        const std::vector<Datagram> bad = badDatagrams(id);
        const Datagram goodDatagram = gameDatagram(id, kGoodYaw);
        std::atomic<bool> flooding{true};
        std::atomic<long> sent{0};
        std::thread flood([&] {
            sim::GameSender sender(id);
            const std::int64_t start = platform::counterNow();
            for (long n = 0; flooding; ++n) {
                const Datagram& d = n % 4 == 0 ? goodDatagram : bad[static_cast<std::size_t>(n % 4) - 1];
                if (sender.sendBytes(d)) ++sent;
                // Paced in bursts of 100 a millisecond.
                if (n % 100 == 99)
                    while (flooding && faults::msSince(start) * kPerSecond / 1000.0 < static_cast<double>(n)) std::this_thread::yield();
            }
        });

        const std::int64_t start = platform::counterNow();
        const long readsBefore = reader.reads.load();
        long goodSeen = 0, badSeen = 0;
        bool stayedOnline = true;
        while (faults::msSince(start) < kFloodMs) {
            platform::sleepMs(20);
            for (const AccelerationSnapshot& s : engine->takeAccelerationHistory()) {
                if (std::fabs(std::fabs(s.values[kYawPosition]) - kGoodYaw) < 1e-3) ++goodSeen;
                if (std::fabs(std::fabs(s.values[kYawPosition]) - kBadYaw) < 1e-3) ++badSeen;
            }
            stayedOnline = stayedOnline && engine->gameConnected.load();
        }
        const double floodMs = faults::msSince(start);
        const long ticks = reader.reads.load() - readsBefore;
        flooding = false;
        flood.join();
        std::cout << gameName(id) << ": " << sent.load() << " datagrams in " << floodMs << " ms, " << ticks
                  << " ticks (" << calmTicks << " in the calm second before)\n";

        EXPECT_EQ(badSeen, 0) << "a cut or oversized datagram reached the record";
        EXPECT_GT(goodSeen, 0) << "good samples are still taken during the flood";
        EXPECT_TRUE(stayedOnline) << "the game is not dropped while good samples come";
        // Generous: a quarter of the calm pace, which the flood itself
        // shares the machine's cores with.
        EXPECT_GT(static_cast<double>(ticks) / floodMs, 0.25 * static_cast<double>(calmTicks) / 1000.0)
            << "the tick keeps its pace";
        engine->stopThread();
        stream.stop();
    }
}

}  // namespace
}  // namespace rez
