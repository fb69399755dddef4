// The cue frame, the fan byte, motion cancel and the snapshot histories.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <memory>

#include "controller/link_flags.h"
#include "controller/mailbox.h"
#include "core/bytes.h"
#include "engine/gamesource_engine.h"
#include "engine/rig_outputs.h"
#include "platform/shared_memory.h"
#include "tests/support/test_reader.h"

namespace rez {
namespace {

float frameFloat(const std::array<unsigned char, 36>& frame, int i) { return load_le<float>(&frame[2 + 4 * static_cast<std::size_t>(i)]); }

TEST(MotionFrame, LayoutLimitsAndBeltWord) {
    GamesourceEngine engine;
    std::array<unsigned char, 36> frame;
    engine.outputCues = {2.5, -3, 0.25, 7, 8, 9, 0, 0, 0, 0, 258.9};
    engine.buildMotionFrame(frame);
    EXPECT_EQ(frame[0], 0xFC);
    EXPECT_EQ(frame[1], 0xFC);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(frameFloat(frame, i), 0.0f) << "limits 0,0 give 0";
    EXPECT_EQ(frame[26], 0x00);
    EXPECT_EQ(frame[27], 0x00);
    EXPECT_EQ(frame[28], 0x01);
    EXPECT_EQ(frame[29], 0x02);
    for (int i = 30; i < 34; ++i) EXPECT_EQ(frame[static_cast<std::size_t>(i)], 0);
    EXPECT_EQ(frame[34], 0x0A);
    EXPECT_EQ(frame[35], 0x0D);

    for (int i = 0; i < 6; ++i) engine.setRigDofLimit(i, -1, 1);
    engine.outputCues[3] = NAN;
    engine.buildMotionFrame(frame);
    EXPECT_EQ(frameFloat(frame, 0), 1.0f);
    EXPECT_EQ(frameFloat(frame, 1), -1.0f);
    EXPECT_EQ(frameFloat(frame, 2), 0.25f);
    EXPECT_EQ(frameFloat(frame, 3), 0.0f) << "a NaN output goes out as 0";
    // Cues beyond a float, and limits that are no number or infinite.
    struct Case { double cue, minimum, maximum; float sent; };
    for (Case c : {Case{1e39, -1e39, 1e39, FLT_MAX}, Case{-1e39, -1e39, 1e39, -FLT_MAX}, Case{2, NAN, NAN, 2},
                   Case{2, INFINITY, INFINITY, 2}, Case{-2, INFINITY, -INFINITY, -2}}) {
        engine.setRigDofLimit(4, c.minimum, c.maximum);
        engine.outputCues[4] = c.cue;
        engine.buildMotionFrame(frame);
        EXPECT_EQ(frameFloat(frame, 4), c.sent) << c.cue << " in " << c.minimum << ".." << c.maximum;
    }
    engine.setRigDofLimit(23, 5, 6);
    engine.setRigDofLimit(-1, 5, 6);
    EXPECT_EQ(engine.rigLimits[0].maximum.load(), 1.0);
}

TEST(MotionFrame, BeltWordAndFanByteConversions) {
    struct Belt { float x; std::uint32_t word; };
    for (Belt c : {Belt{258.9f, 258}, Belt{-5.0f, 0}, Belt{0.99f, 0}, Belt{NAN, 0}, Belt{4294967296.0f, 0xFFFFFFFFu},
                   Belt{1e20f, 0xFFFFFFFFu}, Belt{4294967040.0f, 4294967040u}})
        EXPECT_EQ(beltWord(c.x), c.word) << c.x;
    struct Fan { float v; int byte; };
    for (Fan c : {Fan{50, 127}, Fan{150, 255}, Fan{-1, 0}, Fan{100, 255}, Fan{0, 0}, Fan{NAN, 0}, Fan{0.5f, 1}})
        EXPECT_EQ(fanSpeedByte(c.v), c.byte) << c.v;
}

class SendTest : public testing::Test {
protected:
    void SetUp() override {
        linkFlags().reset();
        mailbox().clearAll();
    }
    void TearDown() override {
        linkFlags().reset();
        mailbox().clearAll();
    }
    GamesourceEngine engine;
};

TEST_F(SendTest, FrameGoesToTheLiveTransportAndIsKept) {
    engine.outputCues[0] = 0.5;
    engine.setRigDofLimit(0, -1, 1);
    engine.sendRigOutputs();
    EXPECT_TRUE(mailbox().serialTxQueue.empty()) << "no transport running: nothing queued";

    linkFlags().linkRunning = true;
    linkFlags().serialLive = true;
    engine.sendRigOutputs();
    auto queued = mailbox().serialTxQueue.takeFront();
    ASSERT_TRUE(queued.has_value());
    ASSERT_EQ(queued->size(), 36u);
    unsigned char copy[36] = {};
    engine.copyMotionFrame(copy);
    EXPECT_EQ(std::memcmp(copy, queued->data(), 36), 0);
    EXPECT_EQ(load_le<float>(copy + 2), 0.5f);
}

TEST_F(SendTest, EndMarkerInsideTheFloatsStillQueuesTheWholeFrame) {
    linkFlags().linkRunning = true;
    linkFlags().serialLive = true;
    const std::uint32_t bits = 0x3F800D0Au;  // little-endian bytes 0A 0D 80 3F
    float x;
    std::memcpy(&x, &bits, sizeof x);
    engine.setRigDofLimit(0, -10, 10);
    engine.outputCues[0] = x;
    engine.sendRigOutputs();
    auto queued = mailbox().serialTxQueue.takeFront();
    ASSERT_TRUE(queued.has_value());
    // Measured by its content the frame would end after 4 bytes, and the
    // controller would get a broken frame.
    ASSERT_EQ(queued->size(), 36u);
    EXPECT_TRUE(std::equal(queued->begin(), queued->end() - 2, engine.motionFrame.begin()));
}

TEST_F(SendTest, MotionCancelSmoothsThePoseIntoTheBlock) {
    platform::SharedMemory::removeName("Local\\motionRigPose");
    engine.setFilterMotionCancel(10);
    engine.setGainMotionCancel(3);
    EXPECT_EQ(engine.motionCancelFilter.load(), 60.0) << "ignored while off";
    EXPECT_EQ(engine.motionCancelGain.load(), 1.0);

    engine.activateMotionCancel(true);
    ASSERT_TRUE(engine.poseBlock.isMapped());
    platform::SharedMemory headset;
    ASSERT_TRUE(headset.openExisting("Local\\motionRigPose", platform::MapAccess::Read));
    ASSERT_TRUE(headset.map(platform::MapAccess::Read, 512));

    engine.setGainMotionCancel(2);
    engine.setFilterMotionCancel(1);
    engine.outputCues = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    engine.sendRigOutputs();
    const double expected[6] = {2, 4, 6, 8, 2 * (5 + 7 + 9), 2 * (6 + 8 + 10)};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(load_le<double>(headset.data() + 8 * i), expected[i]) << i;

    engine.activateMotionCancel(true);
    EXPECT_EQ(engine.motionCancelFilter.load(), 60.0) << "activation resets the filter";
    EXPECT_EQ(engine.motionCancelGain.load(), 2.0) << "but not the gain";
    engine.setGainMotionCancel(1);
    engine.smoothedPose.fill(0.0);
    engine.outputCues.fill(0.0);
    engine.outputCues[0] = 1.0;
    for (int n = 1; n <= 120; ++n) {
        engine.sendRigOutputs();
        EXPECT_NEAR(load_le<double>(headset.data()), 1.0 - std::pow(59.0 / 60.0, n), 1e-12) << n;
    }
    for (double bad : {0.0, -5.0, 0.5, double(NAN), double(INFINITY)}) {
        engine.setFilterMotionCancel(bad);
        EXPECT_EQ(engine.motionCancelFilter.load(), 60.0) << bad;
    }

    engine.activateMotionCancel(false);
    EXPECT_FALSE(engine.poseBlock.isMapped());
    const double before = load_le<double>(headset.data());
    engine.outputCues[0] = 50.0;
    engine.sendRigOutputs();
    EXPECT_EQ(load_le<double>(headset.data()), before) << "written only while motion cancel is on";
}

TEST_F(SendTest, NonFiniteGainOrCueCannotPoisonThePose) {
    engine.activateMotionCancel(true);
    ASSERT_TRUE(engine.poseBlock.isMapped());
    engine.setGainMotionCancel(2);
    engine.setFilterMotionCancel(2);
    engine.smoothedPose.fill(0.0);
    engine.outputCues.fill(0.0);
    engine.outputCues[0] = 1.0;
    engine.sendRigOutputs();
    ASSERT_EQ(load_le<double>(engine.poseBlock.data()), 1.0);
    for (double bad : {double(NAN), double(INFINITY), 1e308}) {
        engine.outputCues[0] = bad;
        engine.outputCues[4] = bad;
        engine.sendRigOutputs();
        EXPECT_EQ(load_le<double>(engine.poseBlock.data()), 1.0) << "cue " << bad << " leaves the pose as it was";
        EXPECT_EQ(load_le<double>(engine.poseBlock.data() + 32), 0.0) << "cue " << bad;
    }
    engine.outputCues[0] = 3.0;
    engine.outputCues[4] = 0.0;
    engine.sendRigOutputs();
    EXPECT_EQ(load_le<double>(engine.poseBlock.data()), 3.5) << "smoothing goes on from the kept value";

    for (double bad : {double(NAN), double(INFINITY), -double(INFINITY)}) {
        engine.setGainMotionCancel(bad);
        EXPECT_EQ(engine.motionCancelGain.load(), 2.0) << "gain " << bad;
    }
    engine.activateMotionCancel(false);
}

TEST_F(SendTest, SwitchingMotionCancelWhileTheTickWritesIsSafe) {
    engine.activateMotionCancel(true);
    std::atomic<bool> stop{false};
    std::thread tick([&] {
        while (!stop.load()) engine.sendRigOutputs();
    });
    for (int i = 0; i < 300; ++i) engine.activateMotionCancel(i % 2 == 0);
    stop = true;
    tick.join();
    engine.activateMotionCancel(false);
}

TEST(Snapshots, HistoriesKeepThe150NewestAndAreTakenWhole) {
    auto& engine = theEngine();
    int count = -1;
    FreeCalculationSnapshots(GetCalculationSnapshots(&count));
    FreeAccelerationSnapshots(GetAccelerationSnapshots(&count));
    EXPECT_EQ(GetCalculationSnapshots(&count), nullptr);
    EXPECT_EQ(count, 0);

    for (int tick = 0; tick < 400; ++tick) {
        engine.outputCues[0] = tick;
        engine.airCues[12] = -tick;
        engine.sources.record.slots[5] = tick * 2.0;
        engine.recordSnapshots();
    }
    const double* position = GetPositionSnapshot();
    EXPECT_EQ(position[0], 399.0);
    EXPECT_EQ(position[12], -399.0) << "entries 11..20 are the AIR channel results";

    const CalculationSnapshot* calc = GetCalculationSnapshots(&count);
    ASSERT_EQ(count, 150);
    ASSERT_NE(calc, nullptr);
    EXPECT_EQ(calc[0].values[0], 250.0);
    EXPECT_EQ(calc[149].values[0], 399.0) << "newest last";
    FreeCalculationSnapshots(calc);

    const AccelerationSnapshot* accel = GetAccelerationSnapshots(&count);
    ASSERT_EQ(count, 150);
    EXPECT_EQ(accel[149].values[5], 798.0);
    FreeAccelerationSnapshots(accel);
    EXPECT_EQ(GetAccelerationSnapshots(&count), nullptr) << "a second fetch finds nothing";
    EXPECT_EQ(count, 0);
    EXPECT_EQ(GetAccelerationSnapshots(nullptr), nullptr);
    FreeCalculationSnapshots(nullptr);
}

TEST(OutputDataExport, CopiesTheLastFrameAndIgnoresNull) {
    getOutputData(nullptr);
    unsigned char frame[36];
    std::memset(frame, 0xEE, sizeof frame);
    getOutputData(frame);
    unsigned char expected[36];
    theEngine().copyMotionFrame(expected);
    EXPECT_EQ(std::memcmp(frame, expected, 36), 0);
}

}  // namespace
}  // namespace rez
