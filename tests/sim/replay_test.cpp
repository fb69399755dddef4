// Record and replay: a scripted drive is played into a game and the engine
// is driven tick by tick (each tick publishes one sample and reads it, so
// nothing depends on the machine's timing); the slots and cues of every tick
// are written as a recording, read back, and replayed into a game format.
// The replayed telemetry must give the same slots and the same cues.
//
// Tolerance: 1e-9 relative. The games' fields are 32-bit floats or doubles,
// and a value read from a float field, written back into it, rounds to the
// same float; what remains are double roundings in the degree and radian
// conversions (the library's short pi against the full one), about 1e-15.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/gamesource_engine.h"
#include "platform/clock.h"
#include "sim/drives.h"
#include "sim/game_player.h"
#include "sim/game_process.h"
#include "sim/recording.h"
#include "sources/game_table.h"
#include "tests/support/child_game.h"
#include "tests/support/test_reader.h"

namespace rez {
namespace {

// A drive seen from a later start, so a short run covers what matters.
class LaterDrive : public sim::Drive {
public:
    LaterDrive(std::unique_ptr<sim::Drive> drive, double from) : drive_(std::move(drive)), from_(from) {}
    void at(double seconds, sim::SimState& out) override { drive_->at(from_ + seconds, out); }
    double lengthSeconds() const override { return drive_->lengthSeconds() - from_; }

private:
    std::unique_ptr<sim::Drive> drive_;
    double from_;
};

bool eventually(const std::function<bool()>& done) {
    const std::int64_t deadline = platform::counterNow() + platform::counterFrequency() * 20;
    while (!done()) {
        if (platform::counterNow() >= deadline) return false;
        platform::sleepMs(1);
    }
    return true;
}

// Plays `ticks` engine ticks of `drive` into the game and returns what the
// host would record of them.
std::vector<sim::RecordedTick> playTicks(const std::string& key, sim::Drive& drive, int ticks) {
    std::vector<sim::RecordedTick> rows;
    std::string error;
    auto player = sim::makeGamePlayer(key, error);
    EXPECT_TRUE(player && player->start(error)) << error;
    if (!player) return rows;
    const int id = sim::gameIdOfKey(key);

    auto engine = std::make_unique<GamesourceEngine>();
    for (int other = 0; other < kGameCount; ++other)
        if (other != id) engine->sources.setReader(other, std::make_unique<test::AbsentReader>());
    engine->sources.gamePresent[static_cast<std::size_t>(id)] = 1;
    EXPECT_TRUE(eventually([&] { return engine->sources.openGameSource() == 1; })) << "attach";
    // Filters with a memory, limits that let the motion through, a belt mix.
    for (int c = 0; c <= 7; ++c) engine->setInputDofLimit(c, -1000, 1000);
    for (int profile : {0, 1})
        for (int c = 0; c <= 9; ++c) EXPECT_TRUE(engine->installChannelFilter(profile, c, profile == 0 ? "EMALP(VALUE;8)" : "EMAHP(VALUE;20)"));
    for (int c = 10; c <= 14; ++c) EXPECT_TRUE(engine->installChannelFilter(0, c, "EMALP(VALUE;4)"));
    engine->setBeltMix(0, 1, 1.0);
    engine->setBeltMix(0, 2, 0.5);

    sim::SimState state;
    for (int i = 0; i < ticks; ++i) {
        drive.at(i * 0.002, state);
        player->publish(state);
        if (!eventually([&] { return engine->sources.readGameSample() == 1; })) {
            ADD_FAILURE() << key << ": no sample at tick " << i;
            break;
        }
        engine->updateProfileBlend();
        engine->recordSnapshots();
        const auto cues = engine->takeCalculationHistory();
        const auto slots = engine->takeAccelerationHistory();
        sim::RecordedTick row;
        row.tick = i;
        row.seconds = i * 0.002;
        std::copy(std::begin(slots.back().values), std::end(slots.back().values), row.slots);
        std::copy(std::begin(cues.back().values), std::end(cues.back().values), row.cues);
        rows.push_back(row);
    }
    engine->sources.closeGameSource();
    player->stop();
    return rows;
}

TEST(RecordReplay, ReplayedTelemetryGivesTheSameSlotsAndCues) {
    sim::setProcessHolder(test::sleeperHolder());
    struct Trip {
        const char* drive;
        double from;  // seconds into the drive
        const char* recordedFrom;
        const char* replayedInto;
    };
    // A car lap through the corners and the bump, recorded from one
    // shared-memory game and replayed into another; a take-off through UDP,
    // where the air/ground blend moves.
    const Trip trips[] = {{"drive", 6.0, "assetto_corsa", "raceroom"}, {"flight", 26.0, "xplane", "xplane"}};
    const int ticks = 3000;
    for (const Trip& trip : trips) {
        SCOPED_TRACE(std::string(trip.recordedFrom) + " -> " + trip.replayedInto);
        std::string error;
        LaterDrive drive(sim::makeDrive(trip.drive, trip.recordedFrom, error), trip.from);
        const auto recorded = playTicks(trip.recordedFrom, drive, ticks);
        ASSERT_EQ(recorded.size(), static_cast<std::size_t>(ticks));

        const std::string path = (std::filesystem::temp_directory_path() /
                                  ("rez_replay_" + std::to_string(platform::counterNow()) + ".csv")).string();
        {
            sim::RecordingWriter writer;
            ASSERT_TRUE(writer.open(path, trip.recordedFrom, error)) << error;
            for (const auto& row : recorded) ASSERT_TRUE(writer.write(row));
            ASSERT_TRUE(writer.close());
        }
        auto replay = sim::makeDrive(path, trip.replayedInto, error);
        ASSERT_TRUE(replay) << error;
        const auto replayed = playTicks(trip.replayedInto, *replay, ticks);
        std::filesystem::remove(path);
        ASSERT_EQ(replayed.size(), recorded.size());

        auto same = [](double a, double b) { return std::fabs(a - b) <= 1e-9 * (1 + std::fabs(b)); };
        int differences = 0;
        for (std::size_t i = 0; i < recorded.size() && differences < 10; ++i) {
            for (int s = 0; s < sim::kRecordedSlots; ++s)
                if (!same(replayed[i].slots[s], recorded[i].slots[s]) && ++differences <= 10)
                    ADD_FAILURE() << "tick " << i << " slot " << s << ": " << replayed[i].slots[s] << " replayed, "
                                  << recorded[i].slots[s] << " recorded";
            for (int c = 0; c < sim::kRecordedCues; ++c)
                if (!same(replayed[i].cues[c], recorded[i].cues[c]) && ++differences <= 10)
                    ADD_FAILURE() << "tick " << i << " cue " << c << ": " << replayed[i].cues[c] << " replayed, "
                                  << recorded[i].cues[c] << " recorded";
        }
        // The drive moved the rig: a replay of nothing would also agree.
        double largest = 0;
        for (const auto& row : recorded)
            for (int c = 0; c <= 5; ++c) largest = std::max(largest, std::fabs(row.cues[c]));
        EXPECT_GT(largest, 1.0) << "the motion cues never moved";
    }
}

// 600 rows `period` apart from `first`, slot 1 the row's number, written (version 1: no times) and read back.
sim::Recording roundTrip(int version, double first, double period, double rest) {
    const std::string path = (std::filesystem::temp_directory_path() / "rez_recording_times.csv").string();
    std::string error;
    if (version == 2) {
        sim::RecordingWriter writer;
        EXPECT_TRUE(writer.open(path, "", error)) << error;
        sim::RecordedTick t;
        for (int i = 0; i < 600; ++i) t.tick = i, t.seconds = first + i * period, t.slots[1] = i, writer.write(t);
        if (rest >= 0) writer.writeRest(rest);
        EXPECT_TRUE(writer.close());
    } else {
        std::ofstream v1(path, std::ios::binary);
        v1 << "# rezadedudid recording 1\n";
        for (const std::string& name : sim::recordingColumns(1)) v1 << name << (name == "cue_22" ? "\n" : ",");
        for (int i = 0; i < 600; ++i, v1 << "\n")  // every field of row i holds i
            for (int k = 0; k <= sim::kRecordedSlots + sim::kRecordedCues; ++k) v1 << (k ? "," : "") << i;
    }
    sim::Recording read;
    EXPECT_TRUE(sim::readRecording(path, read, error)) << error;
    std::filesystem::remove(path);
    return read;
}

TEST(RecordingDrive, PlaysRowsAtTheirRecordedTimes) {
    struct Case {
        int version;
        double first, period, rest;                 // the rows' times; the rest mark (< 0: none)
        std::vector<std::pair<double, int>> rowAt;  // (drive time, row it plays)
    };
    const Case cases[] = {{1, 0.0, 0.002, -1, {{0.0059, 2}, {1.0, 500}}},
                          {2, 0.0, 0.004, 9.5, {{0.0079, 1}, {1.0, 250}}},
                          {2, 3.5, 0.004, -1, {{-1.0, 0}, {0.008, 2}, {1.0, 250}}}};
    for (const Case& c : cases) {
        sim::Recording recording = roundTrip(c.version, c.first, c.period, c.rest);
        EXPECT_EQ(std::isnan(recording.restSeconds) ? -1 : recording.restSeconds, c.rest);
        auto drive = sim::recordingDrive(std::move(recording));
        EXPECT_NEAR(drive->lengthSeconds(), 600 * c.period, 1e-9) << c.period;
        sim::SimState state;
        for (const auto& [at, row] : c.rowAt) {
            drive->at(at, state);
            EXPECT_EQ(state.slots[1], row) << c.first << " " << c.period << " at " << at;
        }
    }
}

}  // namespace
}  // namespace rez
