// Channel bindings, input limits, belt sum, output sums, profile settings and
// the air/ground transition, driven through the engine's tick steps.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "core/bytes.h"
#include "engine/gamesource_engine.h"
#include "tests/support/test_reader.h"

namespace rez {
namespace {

class CueTest : public testing::Test {
protected:
    void SetUp() override {
        engine = std::make_unique<GamesourceEngine>();
        for (int id = 0; id < kGameCount; ++id) engine->sources.setReader(id, std::make_unique<test::AbsentReader>());
        auto r = std::make_unique<test::TestReader>();
        reader = r.get();
        engine->sources.setReader(kXplane, std::move(r));
        engine->sources.gamePresent[kXplane] = 1;
    }
    double* slots() { return engine->sources.record.slots; }
    void filter(int profile, int channel, const char* text) {
        ASSERT_TRUE(engine->installChannelFilter(profile, channel, text)) << text;
    }

    std::unique_ptr<GamesourceEngine> engine;
    test::TestReader* reader = nullptr;
};

TEST_F(CueTest, InputLimitsClampOnlyTheLimitedChannels) {
    for (int slot = 1; slot < kGameSlotCount; ++slot) slots()[slot] = slot * 10.0;
    engine->computeCues();
    for (int c = 0; c <= 7; ++c) EXPECT_EQ(engine->airCues[static_cast<std::size_t>(c)], 0.0) << "limits 0,0 feed 0: channel " << c;
    EXPECT_EQ(engine->airCues[8], slots()[kRollPosition]);
    EXPECT_EQ(engine->airCues[9], slots()[kPitchPosition]);

    struct Case { double minimum, maximum, input, expected; };
    const Case cases[] = {
        {-5, 5, 3, 3}, {-5, 5, 7, 5}, {-5, 5, -9, -5},
        {4, 1, 0, 4}, {4, 1, 2, 4}, {4, 1, 4, 1}, {4, 1, 9, 1},  // minimum above maximum
    };
    for (const auto& c : cases) {
        engine->setInputDofLimit(0, c.minimum, c.maximum);
        slots()[kLateralAccelG] = c.input;
        engine->computeCues();
        EXPECT_EQ(engine->airCues[0], c.expected) << c.minimum << ".." << c.maximum << " in " << c.input;
    }
    engine->setInputDofLimit(23, 1, 2);
    engine->setInputDofLimit(-1, 1, 2);
    EXPECT_EQ(engine->inputLimits[0].minimum.load(), 4.0) << "out-of-range channels change nothing";
}

// A game that sends no number, an infinity or a value that overflows a
// filter for a while, in every slot: no cue, frame float, belt word or fan
// byte is ever non-finite, and once good values return every channel ends
// where a game that never sent the bad ones would have put it.
TEST(CueGuards, NonFiniteGameValuesNeverReachTheRig) {
    auto makeEngine = [] {
        auto e = std::make_unique<GamesourceEngine>();
        for (int c = 0; c <= 7; ++c) e->setInputDofLimit(c, -1e300, 1e300);
        for (int i = 0; i < 6; ++i) e->setRigDofLimit(i, -1e30, 1e30);
        for (int profile = 0; profile < 2; ++profile)
            for (int channel = 0; channel <= 14; ++channel)
                EXPECT_TRUE(e->installChannelFilter(profile, channel, "EMAHP(EMALP(VALUE;5);50)"));
        EXPECT_TRUE(e->installChannelFilter(0, 21, "EMALP(VALUE;5)"));
        for (int index = 1; index < kGameSlotCount - 1; ++index) e->setBeltMix(0, index, 1.0);
        e->airWeight = 0.5;
        e->groundWeight = 0.5;
        return e;
    };
    auto feed = [](GamesourceEngine& e, double value, int ticks) {
        std::array<unsigned char, 36> frame;
        for (int t = 0; t < ticks; ++t) {
            for (int slot = 1; slot < kGameSlotCount - 1; ++slot) e.sources.record.slots[slot] = value * slot;
            e.computeCues();
            e.buildMotionFrame(frame);
            for (double cue : e.outputCues)
                if (!std::isfinite(cue)) return false;
            for (int i = 0; i < 6; ++i)
                if (!std::isfinite(load_le<float>(&frame[static_cast<std::size_t>(2 + 4 * i)]))) return false;
        }
        return true;
    };
    for (double bad : {double(NAN), double(INFINITY), -double(INFINITY), 1e300}) {
        auto guarded = makeEngine();
        auto clean = makeEngine();
        EXPECT_TRUE(feed(*guarded, 0.5, 100));
        EXPECT_TRUE(feed(*guarded, bad, 50)) << bad;
        EXPECT_TRUE(feed(*guarded, 0.5, 1000)) << bad;
        feed(*clean, 0.5, 1150);
        for (std::size_t c = 0; c < kChannelCount; ++c)
            EXPECT_NEAR(guarded->outputCues[c], clean->outputCues[c], 1e-6 * (1 + std::fabs(clean->outputCues[c])))
                << "channel " << c << " after " << bad;
        EXPECT_NE(clean->outputCues[22], 0.0) << "the fan follows the game";
    }
}

TEST_F(CueTest, OutputSumsAndBeltSum) {
    for (int c = 0; c <= 7; ++c) engine->setInputDofLimit(c, -1000, 1000);
    const double values[][2] = {{kLateralAccelG, 1}, {kLongituAccelG, 2}, {kVerticaAccelG, 3}, {kYawSpeed, 4},
                                {kRollSpeed, 5},     {kPitchSpeed, 6},    {kRollPosition, 7},  {kPitchPosition, 8},
                                {kSpeed, 50}};
    for (const auto& v : values) slots()[static_cast<int>(v[0])] = v[1];
    engine->setBeltMix(0, 1, 1.0);
    engine->setBeltMix(0, 2, 10.0);
    engine->setBeltMix(0, 4, 100.0);
    engine->setBeltMix(0, 5, 1000.0);
    engine->setBeltMix(1, 1, 2.0);  // GROUND belt mix is never used
    filter(0, 15, "SETVALUE(VALUE;0.5)");
    filter(0, 19, "SETVALUE(VALUE;0.25)");
    filter(0, 10, "GAIN(VALUE;2)");
    engine->computeCues();

    const double belt = 1 * 2 + 10 * 3 + 100 * 5 + 1000 * 6;
    EXPECT_EQ(slots()[kBeltSum], belt);
    const auto& out = engine->outputCues;
    EXPECT_EQ(out[0], 1 + 0.5);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(out[2], 3);
    EXPECT_EQ(out[3], 4);
    EXPECT_EQ(out[6], 1);
    EXPECT_EQ(out[7], 2);
    EXPECT_EQ(out[8], 7);
    EXPECT_EQ(out[9], 8);
    EXPECT_EQ(out[4], 1 + 5 + 7 + 0.25);
    EXPECT_EQ(out[5], 2 + 6 + 8);
    EXPECT_EQ(out[10], 2 * belt);
    EXPECT_EQ(out[22], 50);
    for (int i = 11; i <= 21; ++i) EXPECT_EQ(out[static_cast<std::size_t>(i)], 0.0) << i;
    for (int i = 0; i <= 9; ++i) EXPECT_EQ(engine->groundCues[static_cast<std::size_t>(i)], 0.0) << "ground weight 0";

    engine->setActiveAxis(0, 21, 0);
    engine->computeCues();
    EXPECT_EQ(out[22], 0.0) << "a disabled fan channel gives 0";
}

TEST_F(CueTest, SettingsIgnoreOutOfRangeAndKeepTheLowByte) {
    engine->setActiveAxis(0, 5, 256);
    EXPECT_EQ(engine->profiles[0].enableFlags[5].load(), 0) << "only the low byte is stored";
    engine->setActiveAxis(1, 22, 0x1FF);
    EXPECT_EQ(engine->profiles[1].enableFlags[22].load(), 0xFF);
    for (auto [profile, channel] : {std::pair{2, 0}, std::pair{0, 23}, std::pair{-1, 0}, std::pair{0, -1}}) {
        engine->outputFade = 1.0;
        engine->setActiveAxis(profile, channel, 0);
        EXPECT_EQ(engine->transitionStatus(), 0.0) << "the fade restarts even when nothing is stored";
    }
    EXPECT_EQ(engine->profiles[2].enableFlags[0].load(), 1);
    EXPECT_EQ(engine->profiles[0].enableFlags[0].load(), 1);
    engine->setBeltMix(0, 43, 5.0);
    engine->setBeltMix(2, 1, 5.0);
    EXPECT_EQ(engine->profiles[2].beltMix[1].load(), 0.0);
    EXPECT_EQ(engine->profiles[0].name, "Profil AIR");
    EXPECT_EQ(engine->profiles[1].name, "Profil GROUND");
    EXPECT_EQ(engine->profiles[2].name, "Transition");
}

TEST_F(CueTest, InstallingFilterStrings) {
    struct Case { int profile, channel; const char* text; bool installed; };
    const Case cases[] = {
        {0, 0, "GAIN(VALUE;2)", true},  {1, 22, "VALUE", true},      {0, 0, "GAIN(VALUE;x)", false},
        {2, 0, "VALUE", false},         {0, 23, "VALUE", false},     {-1, 0, "VALUE", false},
        {0, 0, nullptr, false},         {0, 0, "", false},
    };
    for (const auto& c : cases) {
        engine->outputFade = 1.0;
        engine->outputsSuppressed = false;
        auto before = engine->profiles[0].filterSlots[0].load();
        EXPECT_EQ(engine->installChannelFilter(c.profile, c.channel, c.text), c.installed) << (c.text ? c.text : "null");
        EXPECT_EQ(engine->outputsSuppressed.load(), !c.installed);
        EXPECT_EQ(engine->transitionStatus(), 0.0);
        if (!c.installed) {
            EXPECT_EQ(engine->profiles[0].filterSlots[0].load(), before) << "a rejected text keeps the old chain";
        }
    }
    engine->setInputDofLimit(0, -100, 100);
    slots()[kLateralAccelG] = 3;
    engine->computeCues();
    EXPECT_EQ(engine->airCues[0], 6.0);
}

TEST_F(CueTest, LimitedChannelWithInvalidChainGivesZero) {
    engine->profiles[0].filterSlots[0].store(FilterSys::createInvalid());
    engine->profiles[0].filterSlots[8].store(FilterSys::createInvalid());
    engine->setInputDofLimit(0, -100, 100);
    slots()[kLateralAccelG] = 3;
    slots()[kRollPosition] = 3;
    engine->computeCues();
    EXPECT_EQ(engine->airCues[0], 0.0);
    EXPECT_EQ(engine->airCues[8], 0.0) << "an invalid chain evaluates to 0 on an unlimited channel too";
}

TEST(MotionCueExports, WhichOutsideZeroToThreeLeavesTheOutputsAlone) {
    double sentinel = 1.0;
    double* values = &sentinel;
    int count = -7;
    getMotionCueData(4, &values, &count);
    getMotionCueData(-1, &values, &count);
    EXPECT_EQ(values, &sentinel);
    EXPECT_EQ(count, -7);
    for (int which = 0; which <= 3; ++which) {
        getMotionCueData(which, &values, &count);
        EXPECT_NE(values, &sentinel);
        EXPECT_EQ(count, 23);
    }
    getMotionCueData(2, nullptr, nullptr);
}

// The weights follow the ground state by 0.01 per tick.
class TransitionTest : public CueTest {
protected:
    void tick(int groundState, int n = 1) {
        reader->groundState = groundState;
        for (int i = 0; i < n; ++i) engine->updateProfileBlend();
    }
    double air() { return engine->airWeight.load(); }
    double ground() { return engine->groundWeight.load(); }
};

TEST_F(TransitionTest, CarGameStaysOnAir) {
    tick(0, 50);
    EXPECT_EQ(air(), 1.0);
    EXPECT_EQ(ground(), 0.0);
    EXPECT_EQ(engine->airTransitionStatus(), 100.0);
    EXPECT_EQ(engine->groundTransitionStatus(), 0.0);
    EXPECT_EQ(engine->activeGroundState.load(), 0);
}

TEST_F(TransitionTest, LandingCrossesOverIn100Or101Ticks) {
    engine->setInputDofLimit(0, -100, 100);
    slots()[kLateralAccelG] = 10;
    reader->groundState = 1;
    engine->updateProfileBlend();
    EXPECT_EQ(engine->airCues[0], 10.0) << "the first tick still computes with weights 1 and 0";
    EXPECT_DOUBLE_EQ(ground(), 0.01);
    EXPECT_DOUBLE_EQ(air(), 0.99);
    int ticks = 1;
    while (engine->transitionActive && ticks < 200) {
        engine->updateProfileBlend();
        ++ticks;
    }
    EXPECT_GE(ticks, 100);
    EXPECT_LE(ticks, 101);
    EXPECT_EQ(air(), 0.0);
    EXPECT_EQ(ground(), 1.0);
    EXPECT_EQ(engine->airCues[0], 0.0) << "the faded-out profile's cues are cleared";
    EXPECT_EQ(engine->activeGroundState.load(), 1);
    EXPECT_EQ(engine->airTransitionStatus(), 0.0);
    EXPECT_EQ(engine->groundTransitionStatus(), 100.0);
}

TEST_F(TransitionTest, TurningBackMidwayContinuesFromTheCurrentWeights) {
    tick(1, 30);
    EXPECT_NEAR(ground(), 0.30, 1e-9);
    tick(0);
    EXPECT_NEAR(air(), 0.71, 1e-9) << "turns around from 0.7, not from the end values";
    int more = 1;
    while (engine->transitionActive && more < 100) {
        tick(0);
        ++more;
    }
    EXPECT_GE(more, 29);
    EXPECT_LE(more, 31);
    EXPECT_EQ(air(), 1.0);
    EXPECT_EQ(ground(), 0.0);
}

TEST_F(TransitionTest, ResetDuringATransitionEndsItOnTheNextAirTick) {
    tick(1, 40);
    ASSERT_TRUE(engine->transitionActive);
    engine->resetGameSource();
    EXPECT_EQ(air(), 1.0);
    EXPECT_EQ(engine->activeGroundState.load(), 0);
    EXPECT_TRUE(engine->transitionActive) << "the reset leaves the transition flag alone";
    engine->sources.gamePresent[kXplane] = 1;
    tick(0);
    EXPECT_FALSE(engine->transitionActive);
    EXPECT_EQ(air(), 1.0);
    EXPECT_EQ(ground(), 0.0);
}

TEST_F(TransitionTest, NoGameFreezesARunningTransition) {
    tick(1, 10);
    engine->sources.gamePresent[kXplane] = 0;
    tick(0, 20);
    EXPECT_EQ(engine->activeGroundState.load(), -1);
    EXPECT_NEAR(ground(), 0.10, 1e-9);
    EXPECT_TRUE(engine->transitionActive);
}

}  // namespace
}  // namespace rez
