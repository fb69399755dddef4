// The roller-coaster simulator's reader against a fake telemetry server on
// its fixed loopback port: detection, attach, the per-tick read, the ride
// arithmetic, and what a misbehaving server does to it.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <string>

#include "platform/clock.h"
#include "sources/game_source_set.h"
#include "sources/game_table.h"
#include "sources/tcp/nolimits_reader.h"
#include "sources/tcp/nolimits_ride.h"
#include "tests/shm_sources/shm_test_util.h"
#include "sim/fake_nolimits_server.h"
#include "tests/support/test_reader.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

using test::kG;
using test::markedRecord;
using test::sameRecord;

constexpr double kDeg = 180.0 / std::numbers::pi;

double msSince(std::int64_t from) {
    return static_cast<double>(platform::counterNow() - from) * 1000.0 / static_cast<double>(platform::counterFrequency());
}

long count(const std::string& text, const std::string& part) {
    long n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// A unit quaternion (x, y, z, w) for a turn of `degrees` about an axis.
std::array<float, 4> turn(double degrees, double ax, double ay, double az) {
    const double n = std::sqrt(ax * ax + ay * ay + az * az);
    const double half = degrees / kDeg / 2.0, s = std::sin(half) / n;
    return {static_cast<float>(ax * s), static_cast<float>(ay * s), static_cast<float>(az * s),
            static_cast<float>(std::cos(half))};
}

NoLimitsTelemetry riding(std::int32_t frame, std::array<float, 4> rotation = {0, 0, 0, 1},
                         std::array<float, 3> gForce = {0, 1, 0}) {
    NoLimitsTelemetry t;
    t.state = 1;
    t.frame = frame;
    t.speed = 12.5f;
    t.rotation = rotation;
    t.gForce = gForce;
    return t;
}

// Reads until the reader has taken one reply (its clock stamps every
// receive); true when that reply gave a sample. Only one reply is ever in
// flight: the server answers the first request after a reply was queued, and
// the reads made while waiting find the queue empty.
template <class Read>
bool takeOneReply(GameReader& reader, Read read) {
    const std::int64_t before = reader.clock.current;
    const std::int64_t start = platform::counterNow();
    while (msSince(start) < 10000) {
        const bool sample = read();
        if (reader.clock.current != before) return sample;
        EXPECT_FALSE(sample);
        platform::sleepMs(1);
    }
    ADD_FAILURE() << "no reply taken";
    return false;
}

class NoLimitsReaderTest : public testing::Test {
protected:
    void SetUp() override {
        noLimitsRide() = {};
        ASSERT_TRUE(server.listening());
        ASSERT_TRUE(reader.attach());
    }

    bool takeReply(GameDataRecord& record) {
        return takeOneReply(reader, [&] { return reader.read(record); });
    }
    bool sampleOf(const NoLimitsTelemetry& t, GameDataRecord& record) {
        server.queueTelemetry(t);
        return takeReply(record);
    }
    // The server answers every request with `t` from now on: reads until its
    // frame is taken, then `repeats` more replies of it; when it was taken.
    std::int64_t takeFrame(const NoLimitsTelemetry& t, GameDataRecord& record, int repeats) {
        server.setCurrentTelemetry(t);
        for (int i = 0; i < 100 && !takeReply(record); ++i) {}
        const std::int64_t at = reader.clock.current;
        EXPECT_EQ(record.slots[kLandingGear], t.frame);
        for (int i = 0; i < repeats; ++i) EXPECT_FALSE(takeReply(record));
        return at;
    }

    sim::FakeNoLimitsServer server;
    NoLimitsReader reader;
};

TEST(NoLimitsDetection, AnAnswerWithinItsBoundFindsTheServer) {
    struct Case {
        const char* what;
        bool listening, answering, found;
        double atLeastMs;
        const char* printed;
    };
    const Case cases[] = {
        {"server answers", true, true, true, 0, ""},
        {"server silent", true, false, false, 400, ""},
        {"nothing listens", false, false, false, 0, "Error connecting to server: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<sim::FakeNoLimitsServer> server;
        if (c.listening) {
            server = std::make_unique<sim::FakeNoLimitsServer>();
            ASSERT_TRUE(server->listening());
            server->answerIdle(c.answering);
        }
        auto reader = makeGameReader(kNoLimits2);
        testing::internal::CaptureStderr();
        const std::int64_t start = platform::counterNow();
        const bool found = reader->detect();
        const double tookMs = msSince(start);
        const std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_EQ(found, c.found);
        EXPECT_GE(tookMs, c.atLeastMs);
        EXPECT_LT(tookMs, 5000.0) << "the answer wait is 500 ms";
        EXPECT_EQ(printed.rfind(c.printed, 0), 0u) << printed;
        EXPECT_EQ(printed.empty(), *c.printed == '\0') << printed;
        if (server) {
            EXPECT_TRUE(server->waitForRequests(kNoLimitsIdle, 1));
        } else {
            EXPECT_FALSE(reader->attach()) << "attach needs the server too";
        }
    }
}

TEST_F(NoLimitsReaderTest, NoRideAndRepeatedFramesWriteNothing) {
    struct Step {
        const char* what;
        std::int32_t state, frame;
        bool sample;
    };
    const Step steps[] = {
        {"first frame number 0 is the stored one", 1, 0, false},
        {"not riding", 0, 1, false},
        {"riding", 1, 1, true},
        {"same frame again", 1, 1, false},
        {"paused bit among the state bits", 1 | 4, 2, true},
        {"not riding, new frame", 0, 3, false},
        {"riding again", 1, 3, true},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        NoLimitsTelemetry t = riding(s.frame, turn(20, 0, 1, 0));
        t.state = s.state;
        GameDataRecord r = markedRecord();
        const GameDataRecord before = r;
        EXPECT_EQ(sampleOf(t, r), s.sample);
        if (s.sample)
            EXPECT_EQ(r.slots[kLandingGear], s.frame);
        else
            EXPECT_TRUE(sameRecord(r, before));
    }
}

TEST_F(NoLimitsReaderTest, AnglesFromKnownQuaternions) {
    struct Case {
        const char* what;
        std::array<float, 4> q;
        double roll, pitch, yaw;
        bool rollOnly;  // at the pole, pitch and yaw share one turn
    };
    const Case cases[] = {
        {"level", {0, 0, 0, 1}, 0, 0, 0, false},
        {"about z", turn(30, 0, 0, 1), 30, 0, 0, false},
        {"about x", turn(40, 1, 0, 0), 0, 40, 0, false},
        {"about y", turn(50, 0, 1, 0), 0, 0, 50, false},
        {"about y, backwards", turn(-120, 0, 1, 0), 0, 0, -120, false},
        {"about x, half again as long", {0.51303021f, 0, 0, 1.40953893f}, 0, 40, 0, false},
        // A little off unit length at the pole: the sine taken from the raw
        // numbers would be above 1.
        {"at the pole, off unit length", {0, 0, 0.7072f, 0.7072f}, 90, 0, 0, true},
    };
    std::int32_t frame = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        GameDataRecord r = markedRecord();
        ASSERT_TRUE(sampleOf(riding(frame++, c.q), r));
        EXPECT_NEAR(r.slots[kRollPosition], c.roll, 1e-3);
        EXPECT_EQ(r.slots[kSpeed], 12.5);
        if (c.rollOnly) {
            EXPECT_TRUE(std::isfinite(r.slots[kPitchPosition]) && std::isfinite(r.slots[kYawPosition]));
        } else {
            EXPECT_NEAR(r.slots[kPitchPosition], c.pitch, 1e-3);
            EXPECT_NEAR(r.slots[kYawPosition], c.yaw, 1e-3);
        }
    }
}

// Speeds integrate over the time between new frames, not between receives
// (the server repeats its latest frame until it renders the next).
TEST_F(NoLimitsReaderTest, SpeedsFallToExactlyZeroAtRest) {
    GameDataRecord r = markedRecord();
    std::int32_t frame = 1;
    // Three samples of about 1 m/s² on each axis, level: the smoothed
    // accelerations climb past 0.2.
    const std::array<float, 3> moving = {-0.102f, 1.102f, 0.102f};
    double m = 0.0, speed = 0.0;
    std::int64_t previous = 0;
    for (int i = 0; i < 3; ++i) {
        const std::int64_t at = takeFrame(riding(frame++, {0, 0, 0, 1}, moving), r, 2);
        m += (0.102f * kG - m) * 0.1;
        const double dt = i == 0 ? 0.0 : static_cast<double>(at - previous) / static_cast<double>(platform::counterFrequency());
        speed = m * dt + speed * 0.999;
        previous = at;
        EXPECT_NEAR(r.slots[kLateralSpeed], speed, 1e-9);
    }
    ASSERT_GT(m, 0.2);
    for (int slot : {kLateralSpeed, kLongituSpeed, kVerticaSpeed}) EXPECT_NE(r.slots[slot], 0.0) << slot;
    int restSamples = 0;
    std::array<int, 3> zeroAt{};
    while (restSamples < 3000 && (zeroAt[0] == 0 || zeroAt[1] == 0 || zeroAt[2] == 0)) {
        takeFrame(riding(frame++), r, 0);
        ++restSamples;
        const int slots[3] = {kLateralSpeed, kLongituSpeed, kVerticaSpeed};
        for (std::size_t i = 0; i < 3; ++i) {
            if (zeroAt[i] == 0 && r.slots[slots[i]] == 0.0) zeroAt[i] = restSamples;
            if (zeroAt[i] != 0) {
                EXPECT_EQ(r.slots[slots[i]], 0.0) << "stays 0, axis " << i;
            }
        }
    }
    for (int at : zeroAt) {
        EXPECT_GT(at, 50) << "only after more than 50 still samples";
        EXPECT_LT(at, 3000);
    }
}

// The receive area still holds the previous reply, with its 'L' at byte 85:
// the first part of a split reply must not be completed from it.
TEST_F(NoLimitsReaderTest, ReplySplitAcrossTwoReceivesIsDropped) {
    GameDataRecord r = markedRecord();
    ASSERT_TRUE(sampleOf(riding(1, turn(10, 0, 1, 0)), r));
    const GameDataRecord before = r;
    server.queueSplitReply(sim::telemetryReply(riding(2, turn(30, 0, 1, 0))), 44);
    EXPECT_FALSE(takeReply(r)) << "first part";
    server.sendHeldBack();
    EXPECT_FALSE(takeReply(r)) << "second part";
    EXPECT_TRUE(sameRecord(r, before));
    ASSERT_TRUE(sampleOf(riding(3, turn(40, 0, 1, 0)), r)) << "the next whole reply is read again";
    EXPECT_NEAR(r.slots[kYawPosition], 40.0, 1e-3);
}

// Through the game table: found, read, and once the server is gone every read
// returns at once with nothing, so the engine's miss count can drop it.
TEST(NoLimitsThroughTheGameTable, ServerThatClosesNeverBlocksTheTick) {
    noLimitsRide() = {};
    sim::FakeNoLimitsServer server;
    ASSERT_TRUE(server.listening());
    GameSourceSet set;
    set.detectPauseMs = 0;
    for (int id = 0; id < kGameCount; ++id)
        if (id != kNoLimits2) set.setReader(id, std::make_unique<test::AbsentReader>());
    ASSERT_EQ(set.detectGame(), 1);
    ASSERT_EQ(set.presentGame(), kNoLimits2);
    ASSERT_EQ(set.openGameSource(), 1);
    GameReader& reader = *set.readers[kNoLimits2];
    auto readSample = [&] { return set.readGameSample() == 1; };
    server.queueTelemetry(riding(5));
    EXPECT_TRUE(takeOneReply(reader, readSample));
    EXPECT_EQ(set.record.slots[kLandingGear], 5.0);

    server.closeConnections();
    testing::internal::CaptureStderr();
    const std::int64_t start = platform::counterNow();
    int samples = 0;
    for (int i = 0; i < 1001; ++i) samples += set.readGameSample();
    const double tookMs = msSince(start);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(samples, 0);
    EXPECT_LT(tookMs, 5000.0) << "1001 reads must not wait";
    EXPECT_EQ(count(printed, "Error sending data: "), 1) << printed.substr(0, 200);
    EXPECT_EQ(set.closeGameSource(), 1);

    // Found again while it listens; the frame read before the close is no
    // new sample after it.
    ASSERT_EQ(set.detectGame(), 1);
    ASSERT_EQ(set.openGameSource(), 1);
    server.queueTelemetry(riding(5));
    EXPECT_FALSE(takeOneReply(reader, readSample));
    server.queueTelemetry(riding(6, turn(10, 0, 0, 1)));
    EXPECT_TRUE(takeOneReply(reader, readSample));
    EXPECT_EQ(set.record.slots[kLandingGear], 6.0);
    EXPECT_EQ(set.record.slots[kYawSpeed], 0.0) << "a turn made while away is no rate";
    EXPECT_EQ(set.closeGameSource(), 1);

    server.stop();
    testing::internal::CaptureStderr();
    EXPECT_EQ(set.detectGame(), 0) << "the simulator has quit";
    EXPECT_EQ(set.detectGame(), 0);
    EXPECT_EQ(count(testing::internal::GetCapturedStderr(), "Error connecting to server: "), 1) << "once while away";
}

}  // namespace
}  // namespace rez
