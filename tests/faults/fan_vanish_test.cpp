// The fan's serial adapter is pulled out while the engine ticks and feeds
// it; later a fan is plugged in again and the host sets it up anew.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "controller/link_flags.h"
#include "controller/mailbox.h"
#include "sim/pty_pair.h"
#include "tests/faults/fault_util.h"

namespace rez {
namespace {

// Reads the fan line until `count` bytes of `value` in a row came.
bool fanRuns(sim::PtyPair& fan, unsigned char value, int count = 10) {
    int run = 0;
    return faults::eventually(
        [&] {
            unsigned char chunk[256];
            const int n = fan.read(chunk, sizeof chunk, 20);
            for (int i = 0; i < n; ++i) run = chunk[i] == value ? run + 1 : 0;
            return run >= count;
        },
        10000);
}

TEST(FanVanish, EngineTicksOnAndANewFanRunsOnceTheHostSetsItUp) {
    auto fan = std::make_unique<sim::PtyPair>();
    std::string why;
    if (!fan->open(why)) GTEST_SKIP() << why;
    if (!fan->inProcess())
        GTEST_SKIP() << "under Wine a new fan needs the spare port and the line put back afterwards, which only "
                        "the emulated controller does";
    linkFlags().reset();
    mailbox().clearAll();
    linkFlags().linkRunning = true;  // a controller link to take the cue frames
    linkFlags().serialLive = true;

    auto engine = std::make_unique<GamesourceEngine>();
    faults::keepOnly(engine->sources, {});
    auto reader = std::make_unique<test::TestReader>();
    reader->setSample([](GameDataRecord& r, long n) {
        r.slots[kLateralAccel] = static_cast<double>(n % 100);
        return true;
    });
    faults::CountingReader& ticks = faults::countTicks(engine->sources, std::move(reader), kAssettoCorsa);
    ASSERT_TRUE(engine->installChannelFilter(0, 21, "SETVALUE(VALUE;50)"));
    ASSERT_TRUE(engine->wind.init(fan->portName(), 9600, "8N1", 5));
    engine->startThread();
    engine->setMotionSystemReady(1);
    ASSERT_TRUE(fanRuns(*fan, 127)) << "the fan runs at half speed";

    fan.reset();  // pulled out: the port's writes fail from now on
    mailbox().serialTxQueue.clear();
    // Generous: a stalled tick makes none; 500 a second is the pace.
    EXPECT_GT(faults::ticksOver(ticks, 1000), 10) << "the engine ticks on without its fan";
    EXPECT_GT(mailbox().serialTxQueue.size(), 0u) << "cue frames still go to the controller";
    EXPECT_TRUE(engine->gameConnected.load());
    const std::int64_t stopping = platform::counterNow();
    EXPECT_FALSE(engine->stopThread());
    EXPECT_LT(faults::msSince(stopping), 5000.0) << "stopping does not hang on the dead fan";
    EXPECT_FALSE(engine->wind.isRunning());

    // A fan plugged in again comes under a name of its own; the host sets it
    // up and starts the engine again.
    fan = std::make_unique<sim::PtyPair>();
    ASSERT_TRUE(fan->open(why)) << why;
    ASSERT_TRUE(engine->wind.init(fan->portName(), 9600, "8N1", 5));
    engine->startThread();
    EXPECT_TRUE(fanRuns(*fan, 127)) << "the new fan runs";
    engine->stopThread();
    linkFlags().reset();
    mailbox().clearAll();
}

}  // namespace
}  // namespace rez
