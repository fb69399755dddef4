// rFactor 2 plug-in block: the not-ready marker, the elapsed-time rule, the
// orientation matrix turned into angles, and release on close.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <string>

#include "sources/game_table.h"
#include "sources/shm/rfactor2_reader.h"
#include "tests/shm_sources/shm_test_util.h"
#include "tests/support/child_game.h"
#include "sim/game_writers.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

using sim::Rf2Sample;

constexpr double kRad = std::numbers::pi / 180.0;

enum class Axis { X, Y, Z };

// Row-major rotation by `degrees` about one axis.
void rotation(Axis axis, double degrees, double (&m)[3][3]) {
    const double c = std::cos(degrees * kRad), s = std::sin(degrees * kRad);
    const double x[3][3] = {{1, 0, 0}, {0, c, -s}, {0, s, c}};
    const double y[3][3] = {{c, 0, s}, {0, 1, 0}, {-s, 0, c}};
    const double z[3][3] = {{c, -s, 0}, {s, c, 0}, {0, 0, 1}};
    const auto& r = axis == Axis::X ? x : axis == Axis::Y ? y : z;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) m[i][j] = r[i][j];
}

// Angles are compared as directions: 180 and -180 are the same.
::testing::AssertionResult sameAngle(double actual, double expected) {
    const double d = std::remainder(actual - expected, 360.0);
    if (std::isfinite(actual) && std::fabs(d) < 1e-6) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actual << " is not " << expected;
}

TEST(RFactor2Orientation, MatrixGivesYawRollAndPitch) {
    struct Case {
        const char* what;
        Axis axis;
        double degrees;
        double yaw, roll, pitch;
        double thenRolled = 0;  // degrees about z after the first turn
    };
    const Case cases[] = {
        {"level", Axis::X, 0.0, 0.0, 0.0, 0.0},
        {"turned left", Axis::Y, 30.0, -30.0, 0.0, 0.0},
        {"turned far right", Axis::Y, -120.0, 120.0, 0.0, 0.0},
        {"nose up", Axis::X, 45.0, 0.0, 0.0, 45.0},
        {"rolled", Axis::Z, 40.0, 0.0, 40.0, 0.0},
        {"rolled the other way", Axis::Z, -60.0, 0.0, -60.0, 0.0},
        {"rolled a quarter turn (rounding past 1)", Axis::Z, 90.0, 0.0, 90.0, 0.0},
        {"nearly upside down about x (small trace, x largest)", Axis::X, 170.0, 180.0, 180.0, 10.0},
        {"upside down about x", Axis::X, 180.0, 180.0, 180.0, 0.0},
        {"nearly reversed about y (y largest)", Axis::Y, 170.0, -170.0, 0.0, 0.0},
        {"nearly upside down about z (z largest)", Axis::Z, 170.0, 0.0, 170.0, 0.0},
        {"nose up, then rolled", Axis::X, 20.0, 0.0, 15.0, 20.0, 15.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        double m[3][3];
        double first[3][3], roll[3][3];
        rotation(c.axis, c.degrees, first);
        rotation(Axis::Z, c.thenRolled, roll);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) m[i][j] = first[i][0] * roll[0][j] + first[i][1] * roll[1][j] + first[i][2] * roll[2][j];
        const OrientationAngles a = rf2OrientationAngles(m);
        EXPECT_TRUE(sameAngle(a.yaw, c.yaw)) << "yaw";
        EXPECT_TRUE(sameAngle(a.roll, c.roll)) << "roll";
        EXPECT_TRUE(sameAngle(a.pitch, c.pitch)) << "pitch";
    }
}

class RFactor2Test : public test::ShmReaderTest {
protected:
    void SetUp() override {
        test::ShmReaderTest::SetUp();
        process = std::make_unique<test::ChildGame>("rFactor2.exe");
        ASSERT_TRUE(process->started());
    }
    void TearDown() override {
        process.reset();
        test::ShmReaderTest::TearDown();
    }
    // Attaches without letting the success message into the test output.
    bool quietAttach(GameReader& reader) {
        testing::internal::CaptureStdout();
        const bool ok = reader.attach();
        testing::internal::GetCapturedStdout();
        return ok;
    }
    std::unique_ptr<test::ChildGame> process;
};

Rf2Sample rf2Sample(double elapsed) {
    Rf2Sample s;
    s.elapsedTime = elapsed;
    const double v[3] = {1.0, 2.0, 3.0}, a[3] = {0.5, -9.0, 2.0}, r[3] = {0.3, -0.4, 0.6}, ra[3] = {0.25, -0.75, 1.0};
    for (int i = 0; i < 3; ++i) {
        s.localVel[i] = v[i];
        s.localAccel[i] = a[i];
        s.localRot[i] = r[i];
        s.localRotAccel[i] = ra[i];
    }
    rotation(Axis::X, 0.1 / kRad, s.orientation);  // nose up 0.1 rad
    return s;
}

TEST_F(RFactor2Test, SampleGivesChannelsInUnitsAndSigns) {
    sim::RFactor2Writer game;
    game.publish(rf2Sample(12.5));
    auto reader = test::shippedReader(kRFactor2);
    ASSERT_TRUE(reader->detect());
    ASSERT_TRUE(quietAttach(*reader));
    GameDataRecord record = test::markedRecord();
    ASSERT_TRUE(reader->read(record));
    test::expectSlots(record, {
                                  {kLateralSpeed, -1.0},
                                  {kVerticaSpeed, 2.0},
                                  {kLongituSpeed, -3.0},
                                  {kLateralAccel, -0.5},
                                  {kVerticaAccel, -9.0},
                                  {kLongituAccel, -2.0},
                                  {kPitchSpeed, 17.188733853924695},
                                  {kYawSpeed, 22.918311805232928},
                                  {kRollSpeed, 34.37746770784939},
                                  {kPitchAccel, 14.32394487827058},
                                  {kYawAccel, 42.97183463481174},
                                  {kRollAccel, 57.29577951308232},
                                  {kYawPosition, 0.0},
                                  {kRollPosition, 0.0},
                                  {kPitchPosition, 5.729577951308232},
                              },
                      1e-9);
    test::expectGravity(record, 0.0, 0.1, 1e-9);
    test::expectAdded(record);
    EXPECT_EQ(record.slots[kSpeed], test::kUntouched);
}

TEST_F(RFactor2Test, OnlyALaterElapsedTimeIsANewSample) {
    sim::RFactor2Writer game;
    game.publish(rf2Sample(0.0));
    RFactor2Reader reader;
    ASSERT_TRUE(quietAttach(reader));
    struct Step {
        double elapsed;
        bool taken;
    };
    const Step steps[] = {{1.0, true},  {1.0, false}, {0.5, false},
                          {1.5, true},  {std::numeric_limits<double>::quiet_NaN(), false}, {2.0, true}};
    GameDataRecord record = test::markedRecord();
    double speed = 0.0;
    for (Step s : steps) {
        Rf2Sample sample = rf2Sample(s.elapsed);
        speed += 1.0;
        sample.localVel[2] = speed;
        game.publish(sample);
        const GameDataRecord before = record;
        EXPECT_EQ(reader.read(record), s.taken) << "elapsed " << s.elapsed;
        if (s.taken) {
            EXPECT_EQ(record.slots[kLongituSpeed], -speed);
        } else {
            EXPECT_TRUE(test::sameRecord(record, before)) << "elapsed " << s.elapsed;
        }
    }

    // A new session starts its clock again; after the source was dropped
    // and attached anew, its first sample is taken.
    reader.close();
    game.publish(rf2Sample(0.25));
    ASSERT_TRUE(quietAttach(reader));
    EXPECT_TRUE(reader.read(record));
}

TEST_F(RFactor2Test, BlockThatIsNotReadyDoesNotAttach) {
    sim::RFactor2Writer game;
    Rf2Sample sample = rf2Sample(3.0);
    sample.marker = 1234567890u;
    game.publish(sample);
    RFactor2Reader reader;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(reader.attach());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(reader.failed());
    EXPECT_FALSE(reader.attached());
    EXPECT_FALSE(reader.holdsView());
    GameDataRecord record;
    EXPECT_FALSE(reader.read(record));

    sample.marker = 7;
    game.publish(sample);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(reader.attach());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Memory mapped successfully\n");
    EXPECT_FALSE(reader.failed());
    EXPECT_TRUE(reader.read(record));
}

TEST_F(RFactor2Test, CloseReleasesTheViewAndASecondAttachLetsGo) {
    sim::RFactor2Writer game;
    game.publish(rf2Sample(1.0));
    RFactor2Reader reader;
    ASSERT_TRUE(quietAttach(reader));
    EXPECT_TRUE(reader.holdsView());
    EXPECT_FALSE(quietAttach(reader)) << "attach while attached only lets go";
    EXPECT_FALSE(reader.attached());
    EXPECT_FALSE(reader.holdsView());

    ASSERT_TRUE(quietAttach(reader));
    reader.close();
    EXPECT_FALSE(reader.holdsView());
    EXPECT_FALSE(reader.attached());
    GameDataRecord record;
    EXPECT_FALSE(reader.read(record));
    EXPECT_TRUE(quietAttach(reader)) << "a closed source attaches again at once";

    reader.detectFailed();
    EXPECT_FALSE(reader.attached());
    EXPECT_FALSE(reader.holdsView());
}

}  // namespace
}  // namespace rez
