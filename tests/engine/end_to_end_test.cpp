// A game publishing telemetry drives the whole engine: detection, the tick,
// the cues, and what reaches the controller mailbox, the pose block and the fan.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "controller/link_flags.h"
#include "controller/mailbox.h"
#include "core/bytes.h"
#include "engine/gamesource_engine.h"
#include "platform/clock.h"
#include "platform/shared_memory.h"
#include "sim/game_writers.h"
#include "sim/pty_pair.h"
#include "tests/support/test_reader.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

// Polls until the condition holds or `ms` of wall time have passed.
template <class F>
bool eventually(F condition, int ms) {
    const std::int64_t deadline = platform::counterNow() + platform::counterFrequency() * ms / 1000;
    while (platform::counterNow() < deadline) {
        if (condition()) return true;
        platform::sleepMs(1);
    }
    return condition();
}

// The game: Assetto Corsa publishing a steady lateral, longitudinal and
// vertical acceleration and a yaw rate, with a velocity that wobbles so the
// engine never takes the game for paused.
class PublishingGame {
public:
    PublishingGame() {
        writer_.setStatus(2);
        thread_ = std::thread([this] {
            for (std::int32_t packet = 1; running_.load(); ++packet) {
                sim::AcPhysics sample;
                sample.packetId = packet;
                sample.accG[0] = 0.5f;    // lateral, g
                sample.accG[1] = 1.0f;    // vertical
                sample.accG[2] = -0.25f;  // longitudinal
                sample.localAngularVel[1] = 0.1f;  // yaw rate, rad/s
                sample.localVelocity[0] = static_cast<float>(packet % 2);
                writer_.publish(sample);
                platform::sleepMs(2);
            }
        });
    }
    ~PublishingGame() {
        running_ = false;
        thread_.join();
    }
    bool ok() const { return writer_.ok(); }

private:
    sim::AssettoCorsaWriter writer_;
    std::atomic<bool> running_{true};
    std::thread thread_;
};

TEST(EndToEnd, GameTelemetryBecomesFramesPoseAndFanBytes) {
    linkFlags().reset();
    mailbox().clearAll();
    platform::SharedMemory::removeName("Local\\motionRigPose");

    auto engine = std::make_unique<GamesourceEngine>();
    engine->sources.detectPauseMs = 0;
    for (int id = 0; id < kGameCount; ++id)
        if (id != kAssettoCorsa) engine->sources.setReader(id, std::make_unique<test::AbsentReader>());
    for (int c = 0; c < 8; ++c) engine->setInputDofLimit(c, -100, 100);
    for (int i = 0; i < 6; ++i) engine->setRigDofLimit(i, -10, 10);
    ASSERT_TRUE(engine->installChannelFilter(0, 21, "SETVALUE(VALUE;50)"));
    engine->activateMotionCancel(true);
    engine->setFilterMotionCancel(1);

    sim::PtyPair fan;
    std::string whyNoFan;
    const bool haveFan = fan.open(whyNoFan);
    if (haveFan) {
        ASSERT_TRUE(engine->wind.init(fan.portName(), 9600, "8N1", 5));
    }

    linkFlags().linkRunning = true;
    linkFlags().serialLive = true;

    PublishingGame game;
    ASSERT_TRUE(game.ok());
    engine->startThread();
    engine->setMotionSystemReady(1);
    ASSERT_TRUE(eventually([&] { return engine->gameConnected.load(); }, 5000));
    EXPECT_EQ(engine->sources.presentGame(), kAssettoCorsa);
    // What the cues predict from the telemetry (accelerations in g x 9.81,
    // vertical sign flipped, gravity added; yaw rate in degrees).
    const double lateral = static_cast<double>(0.5f) * 9.81;
    const double longitudinal = static_cast<double>(-0.25f) * 9.81;
    const double vertical = -9.81 + 9.80665;
    const double yaw = static_cast<double>(0.1f) * 180.0 / 3.14159265358979;
    const double expected[6] = {lateral, longitudinal, vertical, yaw, lateral, longitudinal};

    // The newest frame of a few taken while the fade stayed complete. The fade
    // itself, not its rounded percent, is judged: the percent reads 100 a tick
    // before the outputs stop being faded. The tick that finished the fade may
    // post its frame, still faded, after the clear; and a game thread starved
    // for 250 ticks looks frozen and starts a new fade, so a capture during
    // which the fade left 1 is taken again.
    std::optional<MessageQueue::Message> frame;
    for (int attempt = 0; attempt < 5; ++attempt) {
        ASSERT_TRUE(eventually([&] { return engine->outputFade.load() == 1.0; }, 30000)) << "the output fade completes";
        mailbox().serialTxQueue.clear();
        ASSERT_TRUE(eventually([&] { return mailbox().serialTxQueue.size() >= 3; }, 10000));
        while (auto next = mailbox().serialTxQueue.takeFront()) frame = std::move(next);
        if (engine->outputFade.load() == 1.0) break;
        frame.reset();
    }
    ASSERT_TRUE(frame.has_value());
    ASSERT_EQ(frame->size(), 36u);
    EXPECT_EQ((*frame)[0], 0xFC);
    EXPECT_EQ((*frame)[35], 0x0D);
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(load_le<float>(frame->data() + 2 + 4 * i), expected[i], 1e-4) << "frame float " << i;

    platform::SharedMemory headset;
    ASSERT_TRUE(headset.openExisting("Local\\motionRigPose", platform::MapAccess::Read));
    ASSERT_TRUE(headset.map(platform::MapAccess::Read, 512));
    // The pose's roll and pitch add outputs 6 + 8 and 7 + 9 once more on top of
    // outputs 4 and 5, which already hold them.
    const double pose[6] = {lateral, longitudinal, vertical, yaw, 2 * lateral, 2 * longitudinal};
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(load_le<double>(headset.data() + 8 * i), pose[i], 1e-9) << "pose " << i;

    if (haveFan) {
        // The line still holds the bytes of the fade, which climb through each
        // value for several bytes; a run of bytes longer than that, all equal,
        // is the steady speed.
        std::vector<unsigned char> bytes;
        auto steadyRun = [&] {
            unsigned char chunk[256];
            const int n = fan.read(chunk, sizeof chunk, 100);
            if (n > 0) bytes.insert(bytes.end(), chunk, chunk + n);
            return bytes.size() >= 20 && std::all_of(bytes.end() - 20, bytes.end(), [&](unsigned char b) { return b == bytes.back(); });
        };
        ASSERT_TRUE(eventually(steadyRun, 10000)) << "the fan gets a steady speed";
        EXPECT_EQ(bytes.back(), 127) << "fan speed 50 of 100";
    }

    EXPECT_FALSE(engine->stopThread());
    engine->activateMotionCancel(false);
    linkFlags().reset();
    mailbox().clearAll();
    if (!haveFan) GTEST_SKIP() << "fan part skipped: " << whyNoFan;
}

}  // namespace
}  // namespace rez
