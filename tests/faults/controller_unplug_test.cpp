// The motion controller is pulled out while the engine ticks and its cue
// frames stream to it, then plugged back in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "controller/crc16.h"
#include "controller/frame_parser.h"
#include "controller/link_flags.h"
#include "controller/mailbox.h"
#include "controller/serial_link.h"
#include "sim/emulated_controller.h"
#include "tests/faults/fault_util.h"

namespace rez {
namespace {

using sim::EmulatedController;
using Bytes = std::vector<std::uint8_t>;

class LinkThread {
public:
    LinkThread() {
        thread_ = std::thread([] { startREZadEdudid_Thread(); });
        faults::eventually([] { return linkFlags().linkRunning.load(); });
    }
    ~LinkThread() {
        stopREZadEdudid_Thread();
        thread_.join();
    }

private:
    std::thread thread_;
};

std::size_t cueFrames(const EmulatedController& controller) { return controller.framesWithLead(0xFC).size(); }

Bytes withChecksum(Bytes message) {
    writeChecksumTrailer(message);
    return message;
}

TEST(ControllerUnplug, LinkComesBackWithItsHandshakeAndCueFramesFlowAgain) {
    linkFlags().reset();
    mailbox().clearAll();
    EmulatedController controller;
    std::string why;
    if (!controller.open(why)) GTEST_SKIP() << why;
    if (!controller.hasUsbIdentity())
        GTEST_SKIP() << "no USB adapter the library accepts is listed for " << controller.portName()
                     << " (under Wine scripts/wine-serial-test.sh registers one)";
    controller.setVersion(330);

    auto engine = std::make_unique<GamesourceEngine>();
    faults::keepOnly(engine->sources, {});
    auto reader = std::make_unique<test::TestReader>();
    reader->setSample([](GameDataRecord& r, long n) {
        r.slots[kLateralAccel] = static_cast<double>(n % 100);
        return true;
    });
    faults::CountingReader& ticks = faults::countTicks(engine->sources, std::move(reader), kAssettoCorsa);

    enableAutoconnect();
    {
        LinkThread link;
        engine->startThread();
        engine->setMotionSystemReady(1);
        ASSERT_TRUE(faults::eventually([] { return linkFlags().serialLive.load(); }, 20000));
        ASSERT_TRUE(faults::eventually([&] { return cueFrames(controller) > 50; })) << "cue frames reach the controller";

        ASSERT_TRUE(controller.vanish(why)) << why;
        ASSERT_TRUE(faults::eventually([] { return !linkFlags().portConnected.load(); }));
        // A whole second without a controller, the engine ticking all along.
        // Generous: a stalled tick makes none; 500 a second is the pace.
        EXPECT_GT(faults::ticksOver(ticks, 1000), 10) << "the engine ticks on without its controller";
        EXPECT_TRUE(engine->gameConnected.load());

        controller.reset();
        ASSERT_TRUE(controller.comeBack(why)) << why;
        ASSERT_TRUE(faults::eventually([] { return linkFlags().portConnected.load(); }, 20000)) << "found again by the scan";
        const Bytes command4 = withChecksum(Bytes(kCommand4Message.begin(), kCommand4Message.end()));
        const Bytes command2 = withChecksum(Bytes(kCommand2Request.begin(), kCommand2Request.end()));
        auto sent = [&](const Bytes& message) {
            const auto frames = controller.frames();
            return std::any_of(frames.begin(), frames.end(), [&](const auto& f) { return f.bytes == message; });
        };
        EXPECT_TRUE(faults::eventually([&] { return sent(command4) && sent(command2); }))
            << "the handshake of the new connection reaches the controller";
        EXPECT_TRUE(faults::eventually([] { return linkFlags().serialLive.load(); }));
        const std::size_t before = cueFrames(controller);
        EXPECT_TRUE(faults::eventually([&] { return cueFrames(controller) > before + 50; })) << "cue frames flow again";
        EXPECT_EQ(controller.counts().badChecksums, 0u);
        engine->stopThread();
    }
    disableAutoconnect();
    linkFlags().reset();
    mailbox().clearAll();
}

}  // namespace
}  // namespace rez
