// Every simulated game against the library's own reader for it: the player
// publishes a state with a different value in every slot, the shipped reader
// detects the game, attaches and reads as the engine does, and must give
// back every slot that game supplies (and the ground state where the game
// reports one). A sign, a unit, an axis or a field out of place shows here.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "sim/game_player.h"
#include "sim/game_process.h"
#include "sources/game_data_record.h"
#include "sources/game_table.h"
#include "tests/support/child_game.h"

namespace rez {
namespace {

struct GameCase {
    const char* key;
    int id;
    std::vector<int> slots;  // the slots the game's reader writes from the game's own fields
    bool reportsGround;
};

const std::vector<int> kAcSlots = {kLateralAccel, kLongituAccel, kVerticaAccel, kLateralSpeed, kLongituSpeed, kVerticaSpeed,
                                   kYawSpeed, kRollSpeed, kPitchSpeed, kYawPosition, kRollPosition, kPitchPosition};
const std::vector<int> kFlightSimSlots = kAcSlots;
const std::vector<int> kAllMotion = {kLateralSpeed, kLateralAccel, kLongituSpeed, kLongituAccel, kVerticaSpeed, kVerticaAccel,
                                     kYawPosition, kYawSpeed, kYawAccel, kRollPosition, kRollSpeed, kRollAccel,
                                     kPitchPosition, kPitchSpeed, kPitchAccel};

const GameCase kGames[] = {
    {"xplane", kXplane,
     {kSpeed, kPitchPosition, kRollPosition, kYawPosition, kFrontLeftSusp, kRearRightSusp, kRearLeftSusp, kLateralAccelG,
      kVerticaAccelG, kLongituAccelG, kRollSpeed, kPitchSpeed, kYawSpeed},
     true},
    {"dcs", kDcs,
     {kLongituAccelG, kLateralAccelG, kVerticaAccelG, kLateralSpeed, kLongituSpeed, kVerticaSpeed, kYawSpeed, kRollSpeed,
      kPitchSpeed, kYawPosition, kRollPosition, kPitchPosition, kFrontLeftSusp, kRearLeftSusp},
     false},
    {"msfs2020", kMsfs2020, kFlightSimSlots, true},
    {"assetto_corsa", kAssettoCorsa, kAcSlots, false},
    {"raceroom", kRaceRoom, kAllMotion, false},
    {"dirt_rally_2", kDirtRally2,
     {kLateralAccel, kLongituAccel, kVerticaAccel, kPitchPosition, kPitchSpeed, kPitchAccel, kRollPosition, kRollSpeed,
      kRollAccel, kYawPosition, kYawSpeed, kYawAccel},
     false},
    {"condor_2", kCondor2, kAcSlots, false},
    {"f1", kF1,
     {kLongituAccelG, kLateralAccelG, kVerticaAccelG, kYawPosition, kPitchPosition, kRollPosition, kRollSpeed, kPitchSpeed,
      kYawSpeed},
     false},
    {"nolimits_2", kNoLimits2,
     {kSpeed, kRollPosition, kPitchPosition, kYawPosition, kLateralAccelG, kLongituAccelG, kVerticaAccelG}, false},
    {"project_cars_2", kProjectCars2, kAcSlots, false},
    // iRacing's accelerations include gravity, which its stand-in works out
    // from the attitude: the invariant table checks them.
    {"iracing", kIRacing, {kYawSpeed, kRollSpeed, kPitchSpeed, kYawPosition, kRollPosition, kPitchPosition}, false},
    {"wrc", kWrc23,
     {kLateralSpeed, kLongituSpeed, kVerticaSpeed, kLongituAccel, kLateralAccel, kVerticaAccel, kRollPosition, kPitchPosition,
      kYawPosition},
     false},
    {"beamng", kBeamNg,
     {kLateralAccelG, kLongituAccelG, kVerticaAccelG, kLateralSpeed, kLongituSpeed, kVerticaSpeed, kRollPosition,
      kPitchPosition, kYawPosition, kRollSpeed, kPitchSpeed, kYawSpeed, kRollAccel, kPitchAccel, kYawAccel},
     false},
    {"live_for_speed", kLfs,
     {kLateralAccel, kLongituAccel, kVerticaAccel, kRollSpeed, kPitchSpeed, kYawSpeed, kYawPosition, kPitchPosition,
      kRollPosition},
     false},
    {"rfactor_2", kRFactor2, kAllMotion, false},
    {"msfs2024", kMsfs2024, kFlightSimSlots, true},
    {"assetto_corsa_evo", kAssettoCorsaEvo, kAcSlots, false},
    {"truck_sim", kTruckSim,
     {kSpeed, kRpm, kLateralSpeed, kVerticaSpeed, kLongituSpeed, kPitchSpeed, kYawSpeed, kRollSpeed, kLateralAccel,
      kVerticaAccel, kLongituAccel, kPitchAccel, kYawAccel, kRollAccel, kYawPosition, kPitchPosition, kRollPosition},
     false},
};

// A different value in every slot, inside every game's angle ranges; the
// second state has the suspension (X-Plane's gear) unloaded and is airborne.
sim::SimState distinctState(bool onGround) {
    sim::SimState s;
    for (int i = 1; i <= kNamedSlotCount; ++i) s.slots[i] = onGround ? i + i / 100.0 : 0.5 + 0.37 * i;
    if (!onGround)
        for (int i = kFrontLeftSusp; i <= kRearRightSusp; ++i) s.slots[i] = 0;
    s.onGround = onGround;
    return s;
}

// What the game publishes for a slot: F1 and BeamNG send accelerations
// without gravity, which their readers keep in the with-gravity slots.
double published(const GameCase& g, const sim::SimState& s, int slot) {
    const bool gravityExcluded = g.id == kF1 || g.id == kBeamNg;
    const bool withGravity = slot == kLateralAccelG || slot == kLongituAccelG || slot == kVerticaAccelG;
    return s.slots[gravityExcluded && withGravity ? slot - 1 : slot];
}

bool near(double got, double want) { return std::fabs(got - want) <= 2e-4 * (1 + std::fabs(want)); }

// Publishes at a brisk rate, as the game streams, until `done` holds; false
// after 20 s. A port probe only sees what is sent while it listens.
bool publishUntil(sim::GamePlayer& player, const sim::SimState& s, const std::function<bool()>& done) {
    std::atomic<bool> playing{true};
    std::thread game([&] {
        while (playing.load()) {
            player.publish(s);
            platform::sleepMs(2);
        }
    });
    const std::int64_t deadline = platform::counterNow() + platform::counterFrequency() * 20;
    bool ok = false;
    while (!ok && platform::counterNow() < deadline) {
        ok = done();
        if (!ok) platform::sleepMs(2);
    }
    playing.store(false);
    game.join();
    return ok;
}

TEST(GameFormats, EachGameReaderGivesBackTheSlotsItsGameSupplies) {
    sim::setProcessHolder(test::sleeperHolder());
    ASSERT_EQ(sim::simulatedGames().size(), static_cast<std::size_t>(kGameCount));
    for (const GameCase& g : kGames) {
        SCOPED_TRACE(g.key);
        ASSERT_EQ(sim::gameIdOfKey(g.key), g.id);
        EXPECT_EQ(sim::simulatedGames()[static_cast<std::size_t>(g.id)].name, gameName(g.id));
        std::string error;
        auto player = sim::makeGamePlayer(g.key, error);
        ASSERT_TRUE(player) << error;
        ASSERT_TRUE(player->start(error)) << error;
        auto reader = makeGameReader(g.id);
        const sim::SimState first = distinctState(true);
        ASSERT_TRUE(publishUntil(*player, first, [&] { return reader->detect(); })) << "not detected";
        ASSERT_TRUE(publishUntil(*player, first, [&] { return reader->attach(); })) << "not attached";

        for (bool onGround : {true, false}) {
            const sim::SimState s = distinctState(onGround);
            GameDataRecord record;
            auto allBack = [&] {
                if (!reader->read(record)) return false;
                for (int slot : g.slots)
                    if (!near(record.slots[slot], published(g, s, slot))) return false;
                return !g.reportsGround || reader->groundState.load() == (onGround ? 1 : 0);
            };
            publishUntil(*player, s, allBack);
            for (int slot : g.slots)
                EXPECT_PRED2(near, record.slots[slot], published(g, s, slot)) << gameSlotName(slot) << (onGround ? " on the ground" : " in the air");
            if (g.reportsGround) {
                EXPECT_EQ(reader->groundState.load(), onGround ? 1 : 0);
            }
        }
        reader->close();
        player->stop();
    }
}

}  // namespace
}  // namespace rez
