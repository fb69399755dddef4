// Every game that carries attitude, played by its stand-in and read by the
// shipped reader, at rest level, pitched and rolled 10° at four headings and
// turning steadily about each axis: attitude and rates must not depend on the
// heading, each rate must come out on its own axis in the game's unit, the
// gravity parts must follow the attitude read back, and a car at rest must
// show no acceleration (or the documented -gravity part of F1 and BeamNG).
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <sstream>
#include <thread>

#include "platform/clock.h"
#include "sim/drives.h"
#include "sources/game_table.h"
#include "tests/support/child_game.h"

namespace rez {
namespace {

constexpr double kG = 9.80665, kRate = 20.0, kRad = std::numbers::pi / 180.0;

struct Game {
    const char* key;
    double rateUnit = 1;            // iRacing keeps radians per second
    bool restIsMinusGravity = false;  // F1, BeamNG: gravity excluded, yet subtracted
    double rateTolerance = 1e-3;    // relative; 5 % where rates come from angle changes between frames
    double longitudinalGravity = 1;  // DiRT Rally 2 keeps -g·sin pitch
    double lateralGravity = 1;       // iRacing's roll grows with the right side down
    double pitchRateSign = 1;        // iRacing keeps its nose-down pitch rate
};
const Game kGames[] = {{"xplane"}, {"dcs"}, {"msfs2020"}, {"assetto_corsa"}, {"raceroom"}, {"dirt_rally_2", 1, false, 1e-3, -1},
                       {"condor_2"}, {"f1", 1, true}, {"nolimits_2", 1, false, 0.05}, {"project_cars_2"}, {"iracing", kRad, false, 1e-3, 1, -1, -1},
                       {"wrc", 1, false, 0.05}, {"beamng", 1, true}, {"live_for_speed"}, {"rfactor_2"}, {"msfs2024"},
                       {"assetto_corsa_evo"}, {"truck_sim"}};

struct Row {
    const char* name;
    sim::PoseDrive::Pose pose;
};
const Row kPoses[] = {
    {"level", {}},
    {"pitched, heading 0", {0, 10, 0}},   {"pitched, heading 90", {90, 10, 0}},  {"pitched, heading 180", {180, 10, 0}},
    {"pitched, heading 270", {270, 10, 0}}, {"rolled, heading 0", {0, 0, 10}},    {"rolled, heading 90", {90, 0, 10}},
    {"rolled, heading 180", {180, 0, 10}}, {"rolled, heading 270", {270, 0, 10}},
    {"turning about the vertical axis", {135, 0, 0, kYawSpeed, kRate}},
    {"turning about the lateral axis", {135, 0, 0, kPitchSpeed, kRate}},
    {"turning about the longitudinal axis", {135, 0, 0, kRollSpeed, kRate}},
};

// What is wrong with a sample; empty when nothing is. Angles to float
// precision, gravity parts and accelerations to 1e-3 g.
std::string faults(const Game& game, const sim::PoseDrive::Pose& pose, const double* s) {
    std::ostringstream out;
    auto check = [&](int slot, double want, double tolerance) {
        if (!(std::fabs(s[slot] - want) <= tolerance)) out << gameSlotName(slot) << " " << s[slot] << " (want " << want << ") ";
    };
    if (pose.turning != kPitchSpeed) check(kPitchPosition, pose.pitch, 0.01);
    if (pose.turning != kRollSpeed) check(kRollPosition, pose.roll, 0.01);
    const double pitch = s[kPitchPosition] * kRad, roll = s[kRollPosition] * kRad, tolerance = 1e-3 * kG;
    check(kLongituGravi, game.longitudinalGravity * kG * std::sin(pitch), tolerance);
    check(kLateralGravi, game.lateralGravity * kG * std::cos(pitch) * std::sin(roll), tolerance);
    check(kVerticaGravi, kG * std::cos(pitch) * std::cos(roll), tolerance);
    for (int axis : {kLateralAccel, kLongituAccel, kVerticaAccel})  // its gravity part lies two slots on
        if (!pose.turning) check(axis, game.restIsMinusGravity ? -s[axis + 2] : 0.0, tolerance);
    for (int rate : {kYawSpeed, kPitchSpeed, kRollSpeed})
        check(rate, rate == pose.turning ? (rate == kPitchSpeed ? game.pitchRateSign : 1) * kRate * game.rateUnit : 0.0,
              game.rateTolerance * kRate * game.rateUnit);
    return out.str();
}

// Polls until `done` holds; false after 10 s.
template <class F>
bool waitFor(F done) {
    const std::int64_t deadline = platform::counterNow() + 10 * platform::counterFrequency();
    for (; platform::counterNow() < deadline; platform::sleepMs(1))
        if (done()) return true;
    return false;
}

TEST(MotionInvariants, AttitudeRatesAndGravityHoldAtAnyHeadingInEveryGame) {
    sim::setProcessHolder(test::sleeperHolder());
    for (const Game& game : kGames) {
        SCOPED_TRACE(game.key);
        std::string error;
        auto player = sim::makeGamePlayer(game.key, error);
        ASSERT_TRUE(player && player->start(error)) << error;
        sim::PoseDrive drive(game.rateUnit, game.pitchRateSign);
        drive.set(kPoses[0].pose);
        std::atomic<bool> stop{false};
        std::thread playing([&] { sim::playGame(*player, drive, 0, stop, nullptr); });
        auto reader = makeGameReader(sim::gameIdOfKey(game.key));
        const bool online = waitFor([&] { return reader->detect(); }) && waitFor([&] { return reader->attach(); });
        EXPECT_TRUE(online) << "not detected and attached";
        GameDataRecord record;
        for (const Row& row : kPoses) {
            if (!online) break;
            drive.set(row.pose);
            waitFor([&] { return reader->read(record) && faults(game, row.pose, record.slots).empty(); });
            EXPECT_EQ(faults(game, row.pose, record.slots), "") << game.key << ", " << row.name;
        }
        stop = true;
        playing.join();
        reader->close();
        player->stop();
    }
}

}  // namespace
}  // namespace rez
