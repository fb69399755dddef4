// The UDP games at their edges: values that are no finite number, reads that
// give no sample, WRC and LFS motion at any heading (vectors in their worlds).
#include <gtest/gtest.h>

#include <limits>
#include <numbers>

#include "core/bytes.h"
#include "sim/udp_game_senders.h"
#include "sources/game_table.h"
#include "sources/udp/udp_game_reader.h"
#include "tests/shm_sources/shm_test_util.h"

namespace rez {
namespace {

using Bytes = std::vector<std::uint8_t>;
using V = std::array<double, 3>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN(), kInf = std::numeric_limits<double>::infinity();
double deg(double r) { return r * 180.0 / std::numbers::pi; }
const double c10 = std::cos(std::numbers::pi / 18), s10 = std::sin(std::numbers::pi / 18);

// A stand-in's datagram (packet n of a still sample), float triples from `at` on replaced.
Bytes poked(int id, std::size_t packet, std::size_t at, std::initializer_list<V> triples) {
    Bytes b = sim::gameDatagrams(id, sim::Motion{}).at(packet);
    for (const V& t : triples)
        for (double f : t) store_le<float>(b.data() + at, static_cast<float>(f)), at += 4;
    return b;
}

bool decode(int id, const Bytes& b, GameDataRecord& r) {
    static Condor2Keys keys;
    WrcPrevious previous;
    int ground;
    switch (id) {
        case kXplane: return decodeXplane(b.data(), b.size(), r, ground);
        case kDcs: return decodeDcs(b.data(), b.size(), r);
        case kDirtRally2: return decodeDirtRally2(b.data(), b.size(), r);
        case kCondor2: return decodeCondor2(b.data(), b.size(), r, keys);
        case kF1: return decodeF1(b.data(), b.size(), r);
        case kWrc23: return decodeWrc(b.data(), b.size(), r, previous);
        case kBeamNg: return decodeBeamNg(b.data(), b.size(), r);
        default: return decodeLfs(b.data(), b.size(), r);
    }
}

TEST(UdpEdges, ANonFiniteFieldMakesTheDatagramNoSample) {
    const std::string dcs = "1.0e308 2.00000\n";  // overflows in g
    const struct { const char* name; int id; std::size_t packet, at; double bad; } cases[] = {
        {"X-Plane pitch", kXplane, 0, 45, kNaN}, {"DCS", kDcs, 0, 0, 0},    {"DiRT Rally 2 pitch", kDirtRally2, 0, 48, kInf},
        {"F1 yaw", kF1, 0, 77, kNaN},            {"F1 rate", kF1, 1, 173, -kInf}, {"WRC up vector", kWrc23, 0, 109, kInf},
        {"WRC velocity", kWrc23, 0, 61, kNaN},   {"BeamNG accel", kBeamNg, 0, 28, kInf}, {"LFS heading", kLfs, 0, 24, kNaN},
    };
    for (const auto& c : cases) {
        GameDataRecord r = test::markedRecord();
        const Bytes bytes = c.id == kDcs ? Bytes(dcs.begin(), dcs.end()) : poked(c.id, c.packet, c.at, {{c.bad, 0, 0}});
        EXPECT_FALSE(decode(c.id, bytes, r)) << c.name;
        EXPECT_TRUE(test::sameRecord(r, test::markedRecord())) << c.name << ": stored something";
    }
}

TEST(UdpEdges, TextThatIsNoFiniteNumberReadsAsZero) {
    const std::string pad = "\nnothing=0 padding the datagram past its shortest";
    const struct { int id; std::string text; int slot; } cases[] = {
        {kDcs, "-nan(ind) 2.00000\n", kLongituAccelG}, {kDcs, "infinity 2.00000\n", kLongituAccelG},
        {kCondor2, "ax=inf" + pad, kLateralAccel},     {kCondor2, "ay=-nan(ind)" + pad, kLongituAccel},
    };
    for (const auto& c : cases) {
        GameDataRecord r = test::markedRecord();
        EXPECT_TRUE(decode(c.id, Bytes(c.text.begin(), c.text.end()), r)) << c.text;
        EXPECT_EQ(r.slots[c.slot], 0.0) << c.text;
    }
}

// WRC's world: x left, y up, z forward; velocity and acceleration (both v) in it.
TEST(UdpEdges, WrcAttitudeAndMotionAtAnyHeading) {
    const struct { const char* name; V left, forward, up, v; double pitch, roll, yaw; V carV; } cases[] = {
        {"along z, nose up", {1, 0, 0}, {0, s10, c10}, {0, c10, -s10}, {0, 20 * s10, 20 * c10}, 10, 0, -90, {0, 20, 0}},
        {"along -z, left side down", {-c10, -s10, 0}, {0, 0, -1}, {-s10, c10, 0}, {-2, 0, -20}, 0, 10, 90,
         {2 * c10, 20, 2 * s10}},
        {"along -x, nose up", {0, 0, 1}, {-c10, s10, 0}, {s10, c10, 0}, {-20 * c10, 20 * s10, 0}, 10, 0, 180, {0, 20, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GameDataRecord r;
        ASSERT_TRUE(decode(kWrc23, poked(kWrc23, 0, 61, {c.v, c.v, c.left, c.forward, c.up}), r));
        test::expectSlots(r, {{kPitchPosition, c.pitch}, {kRollPosition, c.roll}, {kLateralSpeed, c.carV[0]},
                              {kLongituSpeed, c.carV[1]}, {kVerticaSpeed, c.carV[2]}, {kLateralAccel, c.carV[0]},
                              {kLongituAccel, c.carV[1]}, {kVerticaAccel, c.carV[2]}}, 1e-3);
        EXPECT_NEAR(wrapDegrees(r.slots[kYawPosition] - c.yaw), 0, 1e-3);
    }
}

// LFS's world: x, y on the ground, z up, heading 0 along y. w, a: in the car's axes.
TEST(UdpEdges, LfsRatesAndAccelerationsInTheCarsAxes) {
    const struct { const char* name; double heading, pitch; V rate, accel, w, a; } cases[] = {
        {"heading 0, pitching nose up, speeding up", 0, 0, {0.5, 0, 0}, {0, 3, 0}, {0.5, 0, 0}, {0, 3, 0}},
        {"heading 90, rolling, speeding up", std::numbers::pi / 2, 0, {-0.5, 0, 0}, {-3, 0, 0}, {0, 0.5, 0}, {0, 3, 0}},
        {"heading 180, turning left, pushed along x", std::numbers::pi, 0, {0, 0, 0.5}, {3, 0, 0}, {0, 0, 0.5}, {-3, 0, 0}},
        {"pitched 30, turning on its roof", 0, std::numbers::pi / 6, {0, -0.25, 0.25 * std::sqrt(3.0)}, {}, {0, 0, 0.5}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GameDataRecord r;
        ASSERT_TRUE(decode(kLfs, poked(kLfs, 0, 12, {c.rate, {c.heading, c.pitch, 0}, c.accel}), r));
        test::expectSlots(r, {{kPitchSpeed, deg(c.w[0])}, {kRollSpeed, deg(c.w[1])}, {kYawSpeed, deg(c.w[2])},
                              {kLateralAccel, c.a[0]}, {kLongituAccel, c.a[1]}, {kVerticaAccel, c.a[2]}}, 1e-3);
    }
}

TEST(UdpEdges, ReadsWithoutADecodedDatagramAreNoSample) {
    const struct { const char* name; int id; Bytes bytes; bool stampsEveryCall; } cases[] = {
        {"F1, other format", kF1, poked(kF1, 0, 0, {{}}), true}, {"BeamNG, OutGauge", kBeamNg, Bytes(96, 'X'), true},
        {"LFS, no header", kLfs, Bytes(280, 0), true}, {"X-Plane NaN", kXplane, poked(kXplane, 0, 45, {{kNaN, 0, 0}}), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto reader = makeGameReader(c.id);
        ASSERT_TRUE(reader->attach());
        ASSERT_TRUE(sim::GameSender(c.id).sendBytes(c.bytes));
        GameDataRecord r = test::markedRecord();
        EXPECT_FALSE(reader->read(r));
        if (c.stampsEveryCall) r.timeFrame = 0;
        EXPECT_TRUE(test::sameRecord(r, test::markedRecord()));
    }
}

TEST(UdpEdges, WrcFirstSampleAfterEachAttachHasNoRates) {
    auto reader = makeGameReader(kWrc23);
    for (const double yaw : {90.0, 170.0}) {
        ASSERT_TRUE(reader->attach());
        ASSERT_TRUE(sim::GameSender(kWrc23).send({.yaw = yaw, .pitch = yaw / 20}));
        GameDataRecord r;
        ASSERT_TRUE(reader->read(r));
        test::expectSlots(r, {{kYawSpeed, 0}, {kPitchSpeed, 0}, {kRollSpeed, 0}, {kYawPosition, yaw}});
        reader->close();
    }
}

}  // namespace
}  // namespace rez
