// A block holding a NaN or an infinity in a field its reader uses is no
// sample: the read stores nothing and returns 0, whatever the game.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <memory>

#include "sim/game_writers.h"
#include "sources/game_table.h"
#include "tests/shm_sources/shm_test_util.h"
#include "tests/support/child_game.h"

namespace rez {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Row {
    const char* what;
    int id;
    const char* process;  // the game's process, where attach looks for one
    // Makes the game's block and publishes a sample with the bad value in it;
    // the returned object keeps the block alive.
    std::function<std::shared_ptr<void>()> publishBad;
};

template <class Writer, class Sample, class... Args>
std::shared_ptr<void> publish(const std::function<void(Writer&, Sample&)>& bad, Args... args) {
    auto w = std::make_shared<Writer>(args...);
    Sample s;
    bad(*w, s);
    w->publish(s);
    return w;
}

const Row kRows[] = {
    {"Assetto Corsa, NaN acceleration", kAssettoCorsa, nullptr,
     [] { return publish<sim::AssettoCorsaWriter, sim::AcPhysics>([](auto& w, auto& s) { w.setStatus(2); s.packetId = 7; s.accG[0] = kNaN; }); }},
    {"RaceRoom, infinite local acceleration", kRaceRoom, "RRRE64.exe",
     [] { return publish<sim::RaceRoomWriter, sim::R3eSample>([](auto&, auto& s) { s.localAcceleration[1] = -kInf; }); }},
    {"Project CARS 2, NaN orientation", kProjectCars2, nullptr,
     [] { return publish<sim::ProjectCars2Writer, sim::Pcars2Sample>([](auto&, auto& s) { s.orientation[0] = kNaN; }); }},
    {"rFactor 2, infinite matrix entry", kRFactor2, "rFactor2.exe",
     [] { return publish<sim::RFactor2Writer, sim::Rf2Sample>([](auto&, auto& s) { s.elapsedTime = 3; s.orientation[0][0] = kInf; }); }},
    {"truck simulator, infinite heading (clamped to a number)", kTruckSim, nullptr,
     [] { return publish<sim::TruckSimWriter, sim::TruckSample>([](auto&, auto& s) { s.heading = kInf; }); }},
    {"iRacing, NaN roll", kIRacing, "iRacingSim64DX11.exe", [] {
         auto w = std::make_shared<sim::IRacingWriter>(std::vector<std::string>{"Roll", "Pitch"});
         w->setConnected(true);
         w->publish(1, {{"Roll", 0.1f}, {"Pitch", 0.1f}});
         return std::static_pointer_cast<void>(w);
     }},
};

TEST(ShmNonFinite, ABlockWithANonFiniteValueGivesNoSample) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.what);
        test::removeGameNames();
        std::unique_ptr<test::ChildGame> game;
        if (row.process) game = std::make_unique<test::ChildGame>(row.process);
        auto block = row.publishBad();
        auto reader = test::shippedReader(row.id);
        ASSERT_TRUE(reader->attach());
        GameDataRecord record = test::markedRecord();
        if (row.id == kIRacing) {
            // Its first row after attach only sets the tick; the next one is read.
            reader->read(record);
            record = test::markedRecord();
            std::static_pointer_cast<sim::IRacingWriter>(block)->publish(2, {{"Roll", float(kNaN)}, {"Pitch", 0.1f}});
        }
        EXPECT_FALSE(reader->read(record));
        EXPECT_TRUE(test::sameRecord(record, test::markedRecord()));
        reader->close();
    }
    test::removeGameNames();
}

}  // namespace
}  // namespace rez
