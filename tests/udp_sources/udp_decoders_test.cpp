// The datagram decoders of the UDP games, called directly: known fields in,
// channels out (signs, units, degrees), and the datagrams each one refuses.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "sources/game_table.h"
#include "sources/udp/udp_decoders.h"
#include "tests/shm_sources/shm_test_util.h"
#include "sim/udp_game_senders.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

using sim::DatagramBytes;
using test::expectSlots;
using test::kG;
using test::kUntouched;
using test::markedRecord;
using test::sameRecord;
using test::SlotValue;

// Radians to degrees as the readers convert them.
double deg(double radians) { return radians * 180.0 / 3.14159265358979; }

void expectAll(const GameDataRecord& r, const std::vector<SlotValue>& expected, double tolerance = 1e-4) {
    for (const SlotValue& e : expected)
        EXPECT_NEAR(r.slots[e.slot], e.value, tolerance) << "slot " << e.slot << " (" << gameSlotName(e.slot) << ")";
}

std::vector<std::uint8_t> textBytes(const std::string& s) { return {s.begin(), s.end()}; }

struct XplaneRecord {
    std::uint32_t index;
    float f[8];
};

std::vector<std::uint8_t> xplaneDatagram(const std::vector<XplaneRecord>& records, std::size_t extra = 0) {
    DatagramBytes d(5 + 36 * records.size() + extra);
    d.text(0, "DATA*");
    for (std::size_t i = 0; i < records.size(); ++i) {
        d.u32(5 + 36 * i, records[i].index);
        for (std::size_t f = 0; f < 8; ++f) d.f32(5 + 36 * i + 4 + 4 * f, records[i].f[f]);
    }
    return d.bytes();
}

TEST(XplaneDecoder, RecordsGiveChannelsAndGroundState) {
    struct Case {
        const char* name;
        std::vector<XplaneRecord> records;
        std::size_t extraBytes;
        bool decoded;
        std::vector<SlotValue> expected;
        int groundState;  // -1: left as it was
    };
    const Case cases[] = {
        {"one record is too short", {{3, {0, 0, 0, 0, 0, 0, 0, 55}}}, 0, false, {{kSpeed, kUntouched}}, -1},
        {"one record and a byte", {{3, {0, 0, 0, 0, 0, 0, 0, 55}}}, 1, true, {{kSpeed, 55}}, -1},
        {"angles and rates as sent, yaw turned",
         {{17, {2.5f, -3.5f, 45, 0, 0, 0, 0, 0}}, {135, {1.5f, 98.0f, 2.0f, 4, 5, 6, 0, 0}}},
         0,
         true,
         {{kPitchPosition, 2.5}, {kRollPosition, -3.5}, {kYawPosition, -45}, {kLateralAccelG, 1.5}, {kVerticaAccelG, 9.8},
          {kLongituAccelG, -2}, {kRollSpeed, 4}, {kPitchSpeed, 5}, {kYawSpeed, -6}},
         -1},
        {"index 127 is the attitude too, only the low byte counts",
         {{127, {1, 2, 3, 0, 0, 0, 0, 0}}, {0x100 + 3, {0, 0, 0, 0, 0, 0, 0, 7}}},
         0,
         true,
         {{kPitchPosition, 1}, {kRollPosition, 2}, {kYawPosition, -3}, {kSpeed, 7}},
         -1},
        {"all gear loaded", {{66, {100, 200, 300, 0, 0, 0, 0, 0}}, {99, {9, 9, 9, 9, 9, 9, 9, 9}}}, 0, true,
         {{kFrontLeftSusp, 100}, {kFrontRightSusp, 100}, {kRearRightSusp, 200}, {kRearLeftSusp, 300}}, 1},
        {"one gear free", {{66, {100, 0, 300, 0, 0, 0, 0, 0}}, {99, {}}}, 0, true, {{kRearRightSusp, 0}}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GameDataRecord r = markedRecord();
        int ground = 7;
        const auto bytes = xplaneDatagram(c.records, c.extraBytes);
        EXPECT_EQ(decodeXplane(bytes.data(), bytes.size(), r, ground), c.decoded);
        expectAll(r, c.expected);
        EXPECT_EQ(ground, c.groundState < 0 ? 7 : c.groundState);
    }
}

TEST(DcsDecoder, TokensInOrderUntilAShortOne) {
    // 25 tokens; the values are chosen so each channel shows where it came from.
    std::string full;
    for (int i = 1; i <= 24; ++i) full += std::to_string(i) + ".00000 ";
    struct Case {
        const char* name;
        std::string text;
        std::vector<SlotValue> expected;
        double lastGameTime;
    };
    const Case cases[] = {
        {"every token",
         full + "12.50000\n",
         {{kLongituAccelG, 1 * kG}, {kLateralAccelG, 2 * kG}, {kVerticaAccelG, 3 * kG}, {kLateralSpeed, 4},
          {kLongituSpeed, 5}, {kVerticaSpeed, 6}, {kYawSpeed, deg(7)}, {kRollSpeed, deg(8)}, {kPitchSpeed, deg(9)},
          {kYawPosition, deg(10)}, {kRollPosition, deg(11)}, {kPitchPosition, deg(12)}, {kFrontLeftSusp, 14},
          {kRearLeftSusp, 16}},
         12.5},
        {"a five-character token stops the rest",
         "1.00000 2.000 3.00000 4.00000\n",
         {{kLongituAccelG, kG}, {kLateralAccelG, 0}, {kVerticaAccelG, 0}, {kLateralSpeed, 0}},
         0.0},
        {"a token that is no number is 0, the rest goes on",
         "1.00000 abcdef -3.5000 4.00000\n",
         {{kLongituAccelG, kG}, {kLateralAccelG, 0}, {kVerticaAccelG, -3.5 * kG}, {kLateralSpeed, 4}},
         0.0},
        {"a line without an end gives nothing", "1.00000", {{kLongituAccelG, 0}}, 0.0},
        {"the text ends at a NUL", std::string("1.00000 2.00000\n", 16).replace(8, 1, std::string(1, '\0')),
         {{kLongituAccelG, kG}, {kLateralAccelG, 0}},
         0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GameDataRecord r = markedRecord();
        r.lastGameTime = 10.0;
        const auto bytes = textBytes(c.text);
        ASSERT_TRUE(decodeDcs(bytes.data(), bytes.size(), r));
        expectAll(r, c.expected);
        EXPECT_DOUBLE_EQ(r.lastGameTime, c.lastGameTime);
        EXPECT_DOUBLE_EQ(r.gameTimeDelta, (c.lastGameTime - 10.0) * 1000.0);
    }
    GameDataRecord r;
    const std::uint8_t one[] = {'1'};
    EXPECT_FALSE(decodeDcs(one, 1, r));
}

TEST(DirtRally2Decoder, NinetySixBytesOnly) {
    DatagramBytes d(96);
    d.f32(24, 0.5).f32(28, -0.25).f32(32, 1.0).f32(48, 0.1).f32(52, 0.2).f32(56, 0.3).f32(60, -0.1).f32(64, -0.2);
    d.f32(68, -0.3).f32(84, 1.0).f32(88, 0.4).f32(92, 0.5);
    GameDataRecord r = markedRecord();
    r.lastGameTime = 2.0;
    ASSERT_TRUE(decodeDirtRally2(d.bytes().data(), 96, r));
    expectSlots(r, {{kLateralAccel, -0.5 * kG}, {kLongituAccel, -0.25 * kG}, {kVerticaAccel, kG},
                    {kPitchPosition, deg(0.1)}, {kPitchSpeed, deg(0.2)}, {kPitchAccel, deg(0.3)},
                    {kRollPosition, deg(-0.1)}, {kRollSpeed, deg(-0.2)}, {kRollAccel, deg(-0.3)},
                    {kYawPosition, deg(1.0) - 90}, {kYawSpeed, deg(0.4)}, {kYawAccel, deg(0.5)},
                    {kLateralSpeed, 0}, {kLongituSpeed, 0}, {kVerticaSpeed, 0}});
    EXPECT_DOUBLE_EQ(r.gameTimeDelta, -2000.0);
    EXPECT_DOUBLE_EQ(r.lastGameTime, 0.0);

    for (std::size_t length : {2u, 64u, 95u, 97u, 264u}) {
        std::vector<std::uint8_t> other(d.bytes());
        other.resize(length);
        GameDataRecord untouched = markedRecord();
        EXPECT_FALSE(decodeDirtRally2(other.data(), other.size(), untouched)) << length;
        EXPECT_TRUE(sameRecord(untouched, markedRecord())) << length << " bytes must store nothing";
    }
}

TEST(Condor2Decoder, KnownKeysAreRememberedAcrossDatagrams) {
    Condor2Keys keys;
    struct Case {
        const char* name;
        std::string text;
        std::vector<SlotValue> expected;
    };
    const Case cases[] = {
        {"every channel",
         "pitch=0.1\nbank=0.2\nyaw=1\nax=1.5\nay=-2.5\naz=9\nvx=3\nvy=40\nvz=-1\nrollrate=0.3\npitchrate=0.4\nyawrate=-0.5\n",
         {{kPitchPosition, deg(0.1)}, {kRollPosition, -deg(0.2)}, {kYawPosition, deg(1) - 180}, {kLateralAccel, 1.5},
          {kLongituAccel, -2.5}, {kVerticaAccel, 9}, {kLateralSpeed, 3}, {kLongituSpeed, 40}, {kVerticaSpeed, -1},
          {kRollSpeed, deg(0.3)}, {kPitchSpeed, deg(0.4)}, {kYawSpeed, deg(-0.5)}}},
        {"missing keys keep their values; unknown, misspelt and bare lines are ignored",
         "pitch=0.2\nBank=0.9\nbanking=0.9\nbank\nhudmessages=hello=there\nflaps=2.7\naltitude=1000\n",
         {{kPitchPosition, deg(0.2)}, {kRollPosition, -deg(0.2)}, {kYawPosition, deg(1) - 180}, {kLongituSpeed, 40}}},
        {"a value that is no number reads as 0", "vx=fast\nvy=12.5 m/s\nnothing here, padding the datagram\n",
         {{kLateralSpeed, 0}, {kLongituSpeed, 12.5}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GameDataRecord r = markedRecord();
        const auto bytes = textBytes(c.text);
        ASSERT_TRUE(decodeCondor2(bytes.data(), bytes.size(), r, keys));
        expectAll(r, c.expected, 1e-5);
    }
    EXPECT_EQ(keys.hudMessages, "hello=there");
    EXPECT_EQ(keys.flaps, 2);
    const auto shortText = textBytes("pitch=1.0\nbank=1.0\nyaw=1.0\nax=1.0\nay=1.0\n");  // 41 bytes
    ASSERT_EQ(shortText.size(), 41u);
    GameDataRecord r = markedRecord();
    EXPECT_FALSE(decodeCondor2(shortText.data(), shortText.size(), r, keys));
    EXPECT_EQ(keys.value("ax"), 1.5f) << "a too-short datagram is not read at all";
}

TEST(F1Decoder, PlayersCarOfAMotionPacketAndTheExtendedRates) {
    auto motion = [](std::uint16_t format, std::uint8_t player, std::uint8_t second) {
        DatagramBytes d(1349);
        d.u16(0, format).u8(27, player).u8(28, second);
        for (std::size_t car = 0; car < 22; ++car) {
            const std::size_t at = 29 + 60 * car;
            d.f32(at + 36, 0.5).f32(at + 40, 1.5).f32(at + 44, -1.0);
            d.f32(at + 48, 0.01 * static_cast<double>(car)).f32(at + 52, 0.2).f32(at + 56, -0.3);
        }
        return d.bytes();
    };
    auto extended = [](std::uint16_t format, std::size_t length) {
        DatagramBytes d(length);
        d.u16(0, format).f32(173, 0.1).f32(177, -0.2).f32(181, 0.3);
        return d.bytes();
    };
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        bool decoded;
        std::vector<SlotValue> expected;
    };
    const Case cases[] = {
        {"single player: the player's car, not car 0", motion(2023, 7, 255), true,
         {{kYawPosition, deg(0.07)}, {kPitchPosition, deg(0.2)}, {kRollPosition, deg(-0.3)}, {kLongituAccelG, 1.5 * kG},
          {kLateralAccelG, -0.5 * kG}, {kVerticaAccelG, kG}}},
        {"split screen: still the first player's car", motion(2024, 3, 12), true, {{kYawPosition, deg(0.03)}}},
        {"no player car: the first car", motion(2024, 255, 255), true, {{kYawPosition, 0}}},
        {"format 2022 is skipped", motion(2022, 7, 255), false, {{kYawPosition, kUntouched}}},
        {"extended F1 23", extended(2023, 217), true,
         {{kRollSpeed, -deg(0.1)}, {kPitchSpeed, deg(0.2)}, {kYawSpeed, -deg(0.3)}}},
        {"extended F1 24", extended(2024, 237), true, {{kRollSpeed, -deg(0.1)}}},
        {"other lengths are skipped", extended(2024, 236), false, {{kRollSpeed, kUntouched}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GameDataRecord r = markedRecord();
        EXPECT_EQ(decodeF1(c.bytes.data(), c.bytes.size(), r), c.decoded);
        expectAll(r, c.expected);
    }
}

// WRC's orientation: three direction vectors whose reading gives roll,
// pitch and yaw; rates come from the previous sample.
std::vector<std::uint8_t> wrcDatagram(double rollDeg, double pitchDeg, double yawDeg, std::size_t length = 128) {
    sim::Motion m;
    m.roll = rollDeg;
    m.pitch = pitchDeg;
    m.yaw = yawDeg;
    m.lateralSpeed = 1;
    m.longitudinalSpeed = 20;
    m.verticalSpeed = -0.5;
    m.longitudinalAccel = 3;
    m.lateralAccel = -2;
    m.verticalAccel = 0.25;
    auto bytes = sim::gameDatagrams(kWrc23, m).front();
    bytes.resize(length);
    return bytes;
}

TEST(WrcDecoder, AnglesFromDirectionVectorsAndRatesFromThePreviousSample) {
    struct Step {
        double roll, pitch, yaw, intervalMs;
        double rollRate, pitchRate, yawRate;
    };
    // From a level start: 10 ms steps, a step longer than 30 ms (divided by
    // 20 ms), and yaw crossing 180 degrees, which is 2 degrees, not 358.
    const Step steps[] = {
        {0, 0, 0, 10, 0, 0, 0},
        {1, -2, 3, 10, 100, -200, 300},
        {2, -2, 3, 40, 50, 0, 0},
        {2, -2, 179, 10, 0, 0, 17600},
        {2, -2, -179, 10, 0, 0, 200},
        {-2, -2, 179, 25, -160, 0, -80},
    };
    WrcPrevious previous;
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << "yaw " << s.yaw << " after " << s.intervalMs << " ms");
        GameDataRecord r = markedRecord();
        r.timeFrame = s.intervalMs;
        const auto bytes = wrcDatagram(s.roll, s.pitch, s.yaw);
        ASSERT_TRUE(decodeWrc(bytes.data(), bytes.size(), r, previous));
        expectSlots(r, {{kRollPosition, s.roll}, {kPitchPosition, s.pitch}, {kYawPosition, s.yaw}}, 1e-3);
        expectSlots(r, {{kRollSpeed, s.rollRate}, {kPitchSpeed, s.pitchRate}, {kYawSpeed, s.yawRate}}, 0.5);
        expectSlots(r, {{kLateralSpeed, 1}, {kLongituSpeed, 20}, {kVerticaSpeed, -0.5}, {kLongituAccel, 3},
                        {kLateralAccel, -2}, {kVerticaAccel, 0.25}});
        EXPECT_EQ(r.slots[kRollPosition], static_cast<double>(static_cast<float>(r.slots[kRollPosition])));
    }
}

TEST(WrcDecoder, ShortOrDirectionlessDatagramsStoreNothing) {
    auto zeroVector = wrcDatagram(0, 0, 0);
    std::fill(zeroVector.begin() + 109, zeroVector.begin() + 121, 0);
    const std::vector<std::uint8_t> cases[] = {wrcDatagram(10, 5, 5, 120), wrcDatagram(10, 5, 5, 60), zeroVector};
    for (const auto& bytes : cases) {
        WrcPrevious previous;
        GameDataRecord r = markedRecord();
        r.timeFrame = 10;
        EXPECT_FALSE(decodeWrc(bytes.data(), bytes.size(), r, previous)) << bytes.size();
        for (double v : r.slots) EXPECT_EQ(v, kUntouched) << bytes.size();
    }
}

TEST(BeamNgDecoder, SignsAndDegreesOfAWholeDatagramOnly) {
    DatagramBytes d(88);
    d.text(0, "BNG1");
    for (std::size_t i = 0; i < 21; ++i) d.f32(4 + 4 * i, 0.1 * static_cast<double>(i + 1));
    GameDataRecord r = markedRecord();
    ASSERT_TRUE(decodeBeamNg(d.bytes().data(), 88, r));
    expectSlots(r, {{kLateralSpeed, -0.4}, {kLongituSpeed, -0.5}, {kVerticaSpeed, -0.6}, {kLateralAccelG, -0.7},
                    {kLongituAccelG, -0.8}, {kVerticaAccelG, -0.9}, {kRollPosition, deg(1.3)},
                    {kPitchPosition, deg(1.4)}, {kYawPosition, -deg(1.5)}, {kRollSpeed, deg(1.6)},
                    {kPitchSpeed, deg(1.7)}, {kYawSpeed, -deg(1.8)}, {kRollAccel, deg(1.9)}, {kPitchAccel, deg(2.0)},
                    {kYawAccel, -deg(2.1)}});
    // A datagram cut short holds only some of the fields; none is taken.
    GameDataRecord untouched = markedRecord();
    EXPECT_FALSE(decodeBeamNg(d.bytes().data(), 40, untouched));
    EXPECT_TRUE(sameRecord(untouched, markedRecord()));
}

TEST(LfsDecoder, OutSimFromTwoHundredEightyBytesWithItsLead) {
    DatagramBytes d(280);
    d.text(0, "LFST");
    for (std::size_t i = 0; i < 9; ++i) d.f32(12 + 4 * i, i / 3 == 1 ? 0.0 : 0.1 * static_cast<double>(i + 1));  // level
    struct Case {
        std::size_t length;
        const char* lead;
        bool decoded;
    };
    for (const Case c : {Case{280, "LFST", true}, Case{300, "LFST", true}, Case{279, "LFST", false}, Case{280, "LFSX", false}}) {
        auto bytes = d.bytes();
        bytes.resize(c.length);
        std::copy(c.lead, c.lead + 4, bytes.begin());
        GameDataRecord r = markedRecord();
        EXPECT_EQ(decodeLfs(bytes.data(), bytes.size(), r), c.decoded) << c.length << c.lead;
        if (c.decoded)
            expectSlots(r, {{kPitchSpeed, deg(0.1)}, {kRollSpeed, deg(0.2)}, {kYawSpeed, deg(0.3)},
                            {kYawPosition, 0}, {kPitchPosition, 0}, {kRollPosition, 0},
                            {kLateralAccel, 0.7}, {kLongituAccel, 0.8}, {kVerticaAccel, 0.9}});
        else
            EXPECT_TRUE(sameRecord(r, markedRecord()));
    }
}

}  // namespace
}  // namespace rez
