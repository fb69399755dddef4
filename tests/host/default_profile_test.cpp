// The built-in profiles on the drives of their kind of game, through the real
// library: each drive is played into a game's format and the engine ticked by
// hand, one sample a tick (the output fade after each setting is left out).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "engine/gamesource_engine.h"
#include "platform/clock.h"
#include "rezadedudid.h"
#include "sim/drives.h"
#include "tools/host/profile.h"

namespace rez {
namespace {

struct Phase { const char* name; double a, b, c; };  // drive seconds: a ramp a..b, steady b..c
struct Row { const char *game, *carrier; double seconds; std::vector<Phase> rest, steady; unsigned still; };

std::vector<CalculationSnapshot> play(const Row& row) {
    host::Api api{.setcheckFilterstring = &::setcheckFilterstring, .setActiveAxis = &::setActiveAxis,
                  .setBelt_Mix = &::setBelt_Mix, .SetInputDofLimitValue = &::SetInputDofLimitValue,
                  .SetRigDofLimitValue = &::SetRigDofLimitValue, .activateMotionCancel = &::activateMotionCancel,
                  .setFilterMotionCancel = &::setFilterMotionCancel, .setGainMotionCancel = &::setGainMotionCancel};
    for (int c = 0; c < kChannelCount * 2; ++c)  // the engine as a host finds it, whatever an earlier row set
        setcheckFilterstring(c % 2, c / 2, "VALUE"), setActiveAxis(c % 2, c / 2, 1), setBelt_Mix(0, c / 2, 0);
    host::Profile profile;
    std::vector<std::string> errors;
    EXPECT_TRUE(host::parseProfile(host::defaultProfileText(row.game), "built-in", profile, errors) &&
                host::applyProfile(api, profile, errors)) << (errors.empty() ? "" : errors.front());
    auto waitFor = [](auto done) {  // with a generous deadline
        for (const std::int64_t end = platform::counterNow() + platform::counterFrequency() * 20; !done();)
            if (platform::counterNow() >= end) return false;
        return true;
    };
    std::string error;
    auto player = sim::makeGamePlayer(row.carrier, error);
    auto drive = sim::makeDrive("default", row.game, error);
    if (!player || !drive || !player->start(error)) {
        ADD_FAILURE() << error;
        return {};
    }
    GamesourceEngine& engine = theEngine();
    engine.resetGameSource();
    engine.sources.clearAllFlags();
    engine.sources.gamePresent[static_cast<std::size_t>(sim::gameIdOfKey(row.carrier))] = 1;
    EXPECT_TRUE(waitFor([&] { return engine.sources.openGameSource() == 1; })) << "attach";
    std::vector<CalculationSnapshot> ticks;
    sim::SimState state;
    for (int n = 0, i = 0; i * 0.002 < row.seconds; ++i) {
        drive->at(i * 0.002, state);
        player->publish(state);
        if (!waitFor([&] { return engine.sources.readGameSample() == 1; })) break;
        engine.updateProfileBlend();
        engine.recordSnapshots();
        const CalculationSnapshot* shots = GetCalculationSnapshots(&n);
        ticks.push_back(shots[n - 1]);
        FreeCalculationSnapshots(shots);
    }
    engine.sources.closeGameSource();
    player->stop();
    activateMotionCancel(false);
    return ticks;
}

TEST(DefaultProfiles, LevelAtRestOnsetsWashOutNoCueHeldAtItsLimitEveryCueMoves) {
    const Row rows[] = {  // rest: standing, 2 s or more after the last movement
        {"assetto_corsa", "assetto_corsa", 21, {{"start", 0, 0, 1}, {"stop", 20, 20, 21}},  // corners: 1 s steady
         {{"accelerating", 1, 2, 5}, {"left", 7.5, 8.5, 9.5}, {"right", 9.5, 11.5, 12.5}, {"braking", 14, 14.5, 17.5}},
         0},
        {"xplane", "xplane", 180, {{"start", 0, 0, 5}, {"stop", 175, 175, 180}},  // no side force: no lateral cue
         {{"take-off run", 5, 7, 24}, {"climb", 24, 28, 40}, {"turn", 55, 59, 71}, {"turn back", 80, 84, 96},
          {"descent", 100, 105, 140}, {"braking", 150, 151, 172}}, 1u << 0},
        // NoLimits 2's reader takes rates from the real time between replies,
        // which hand ticks do not keep: the ride comes through Assetto Corsa's
        // block instead, which carries every slot as it is.
        {"nolimits_2", "assetto_corsa", 64, {{"start", 0, 0, 4}, {"stop", 60, 60, 64}},
         {{"lift hill", 6, 8, 22}, {"turn", 30, 32, 38}, {"second turn", 46, 48, 52}, {"brakes", 54, 55, 57}}, 0},
    };
    const char* names[] = {"lateral", "longitudinal", "vertical", "yaw", "roll", "pitch"};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.game) + " with the " + host::defaultProfileKind(row.game) + " profile");
        const auto t = play(row);
        ASSERT_GE(t.size() * 0.002, row.seconds - 0.01) << "the drive was cut short";
        auto at = [&](double s) { return std::min(t.size() - 1, static_cast<std::size_t>(s / 0.002)); };
        // Roll and pitch onsets: their cue without the tilt (6, 7), body angles (8, 9) and effects (19, 20).
        auto onset = [&](std::size_t i, int c) {
            const double* v = t[i].values;
            return c < 4 ? v[c] : v[c] - v[c + 2] - v[c + 4] - v[c + 15];
        };
        for (int c = 0; c < 6; ++c) {
            const LimitPair& limit = theEngine().rigLimits[static_cast<std::size_t>(c)];
            const double lo = limit.minimum.load(), hi = limit.maximum.load(), range = hi - lo;
            double rest = 0, peak = 0, held = 0;
            for (const Phase& w : row.rest)
                for (std::size_t i = at(w.a); i < at(w.c); ++i) rest = std::max(rest, std::fabs(t[i].values[c]));
            for (const CalculationSnapshot& s : t)
                peak = std::max(peak, std::fabs(s.values[c])), held += s.values[c] <= lo || s.values[c] >= hi;
            for (const Phase& p : row.steady) {
                double onsetPeak = 0, settled = p.b;  // after the last tick above 10 % of the peak
                for (std::size_t i = at(p.a); i < at(p.c); ++i) onsetPeak = std::max(onsetPeak, std::fabs(onset(i, c)));
                if (onsetPeak < 0.02 * range) continue;  // this cue has no onset in this phase
                for (std::size_t i = at(p.b); i < at(p.c); ++i)
                    if (std::fabs(onset(i, c)) > 0.1 * onsetPeak) settled = (i + 1) * 0.002;
                EXPECT_TRUE(settled < p.c - 0.002 && settled - p.b <= 3.0)
                    << names[c] << " stays above 10 % of its onset for " << settled - p.b << " s of the " << p.name;
            }
            EXPECT_LE(rest, 0.02 * range) << names[c] << " is off level at rest";
            EXPECT_LE(held, 0.01 * t.size()) << names[c] << " is held at its rig limit for " << held << " ticks";
            EXPECT_TRUE((row.still >> c & 1) || peak > 0.05 * range) << names[c] << " never moves: peak " << peak;
        }
    }
}

}  // namespace
}  // namespace rez
