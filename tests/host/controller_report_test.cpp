// A controller's report read by the host: counts, frames with their
// trailers, and arrival times on the host's clock.
#include "tools/host/controller_report.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "platform/clock.h"
#include "platform/serial_port.h"
#include "sim/emulated_controller.h"

namespace rez::host {
namespace {

using sim::EmulatedController;

TEST(ControllerReport, FramesComeBackWholeWithTheirTrailersOnTheHostsClock) {
    EmulatedController controller;
    std::string why;
    if (!controller.open(why)) GTEST_SKIP() << why;
    ControllerReportServer server(controller);
    ASSERT_TRUE(server.listen(0, why)) << why;
    std::atomic<bool> done{false};
    std::thread serving([&] { server.serve([&] { return done.load(); }); });

    const auto good = EmulatedController::makeFrame(0xFC, 36, EmulatedController::Trailer::Checksum);
    const auto bad = EmulatedController::makeFrame(0xFC, 36, EmulatedController::Trailer::Bad);
    const auto marker = EmulatedController::makeFrame(0xF9, 8, EmulatedController::Trailer::Marker);
    platform::SerialHandle line = platform::serialOpen(controller.portName());
    ASSERT_NE(line, platform::invalidSerialHandle) << "cannot open " << controller.portName();
    const std::int64_t before = platform::counterNow();
    for (const auto* frame : {&good, &marker, &bad})
        ASSERT_EQ(platform::serialWrite(line, frame->data(), static_cast<int>(frame->size())), static_cast<int>(frame->size()));
    ASSERT_TRUE(EmulatedController::waitUntil([&] { return controller.counts().frames + controller.counts().badChecksums == 3; }, 5000));

    ControllerReportClient client;
    ASSERT_TRUE(client.connect(server.port(), why)) << why;
    // One process, one clock: the offset is what the round trip leaves open.
    EXPECT_LE(std::llabs(client.offsetNs()), client.roundTripNs());
    ControllerCounts counts;
    ASSERT_TRUE(client.counts(counts));
    EXPECT_EQ(counts.frames, 2u);
    EXPECT_EQ(counts.badChecksums, 1u);
    std::vector<ControllerFrame> frames;
    ASSERT_TRUE(client.frames(frames));
    ASSERT_EQ(frames.size(), 2u) << "the cue frames only";
    EXPECT_EQ(frames[0].bytes, good);
    EXPECT_TRUE(frames[0].crcOk);
    EXPECT_EQ(frames[1].bytes, bad);
    EXPECT_FALSE(frames[1].crcOk);
    for (const auto& f : frames) {
        EXPECT_GE(f.arrival, before - platform::counterFrequency() / 1000);
        EXPECT_LE(f.arrival, platform::counterNow());
    }
    platform::serialClose(line);
    done = true;
    serving.join();
}

}  // namespace
}  // namespace rez::host
