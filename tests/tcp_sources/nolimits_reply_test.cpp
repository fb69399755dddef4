// The framing of the roller-coaster simulator's telemetry server: requests as
// the server expects them, and which replies the decoder takes.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sources/tcp/nolimits_reply.h"
#include "sim/fake_nolimits_server.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

TEST(NoLimitsFraming, RequestsAreBigEndian) {
    const auto idle = noLimitsRequest(kNoLimitsIdle, kNoLimitsIdleRequestId);
    EXPECT_EQ(std::vector<std::uint8_t>(idle.begin(), idle.end()),
              (std::vector<std::uint8_t>{'N', 0, 0, 0x00, 0x00, 0x04, 0xD2, 0, 0, 'L'}));
    const auto get = noLimitsRequest(kNoLimitsGetTelemetry, kNoLimitsTelemetryRequestId);
    EXPECT_EQ(std::vector<std::uint8_t>(get.begin(), get.end()),
              (std::vector<std::uint8_t>{'N', 0, 5, 0x00, 0x00, 0x0C, 0xAB, 0, 0, 'L'}));
}

TEST(NoLimitsFraming, TelemetryFieldsAreBigEndian) {
    std::vector<std::uint8_t> reply(kNoLimitsTelemetryBytes, 0);
    reply[0] = 'N';
    reply[2] = 6;
    reply[8] = 76;
    reply[85] = 'L';
    const std::size_t data = 9;
    reply[data + 3] = 0x05;                                    // state 5
    reply[data + 4] = 0x01, reply[data + 5] = 0x02;            // frame 0x01020000
    reply[data + 32] = 0x3F, reply[data + 33] = 0x80;          // speed 1.0f
    reply[data + 60] = 0xC0, reply[data + 61] = 0x00;          // w -2.0f
    reply[data + 72] = 0x41, reply[data + 73] = 0x20;          // g-force z 10.0f
    const auto t = decodeNoLimitsReply(reply.data(), reply.size());
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(t->state, 5);
    EXPECT_EQ(t->frame, 0x01020000);
    EXPECT_EQ(t->speed, 1.0f);
    EXPECT_EQ(t->rotation[3], -2.0f);
    EXPECT_EQ(t->gForce[2], 10.0f);
}

TEST(NoLimitsFraming, OnlyAWholeTelemetryMessageAtTheStartIsTaken) {
    NoLimitsTelemetry sent;
    sent.state = 1;
    sent.frame = 77;
    const std::vector<std::uint8_t> good = sim::telemetryReply(sent);
    ASSERT_EQ(good.size(), kNoLimitsTelemetryBytes);

    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        bool taken;
    };
    auto changed = [&](std::size_t at, std::uint8_t value) {
        auto b = good;
        b[at] = value;
        return b;
    };
    auto withTail = good;
    withTail.insert(withTail.end(), good.begin(), good.begin() + 40);
    const std::vector<std::uint8_t> longer = [&] {
        std::vector<std::uint8_t> data(80, 0);
        return noLimitsMessage(kNoLimitsTelemetry, 3243, data.data(), data.size());
    }();
    const Case cases[] = {
        {"whole", good, true},
        {"followed by the start of another", withTail, true},
        {"one byte short", std::vector<std::uint8_t>(good.begin(), good.end() - 1), false},
        {"first half only", std::vector<std::uint8_t>(good.begin(), good.begin() + 43), false},
        {"no lead", changed(0, 'X'), false},
        {"another type", changed(2, 5), false},
        {"type in the high byte", changed(1, 6), false},
        {"data size says 77", changed(8, 77), false},
        {"no end marker", changed(85, 'M'), false},
        {"a longer message", longer, false},
    };
    for (const Case& c : cases) {
        const auto t = decodeNoLimitsReply(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(t.has_value(), c.taken) << c.what;
        if (t) {
            EXPECT_EQ(t->frame, 77) << c.what;
        }
    }
}

}  // namespace
}  // namespace rez
