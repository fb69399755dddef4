// The flight-simulator reader against the stand-in server: the requests it
// sends, what it makes of the messages it gets, and how it detects the two
// simulators.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

#include "core/bytes.h"

#include "sources/simconnect/flight_sim_reader.h"
#include "sources/game_source_set.h"
#include "tests/simconnect/simconnect_test_util.h"
#include "tests/support/child_game.h"
#include "sim/fake_simconnect_server.h"
#include "tests/support/test_reader.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

using Server = sim::FakeSimConnectServer;

constexpr double kPi = 3.14159265358979;

// A reader attached to a fresh server, with the 2020 process running; over
// TCP, and where there are named pipes over a pipe as well.
class AttachedReader : public ::testing::TestWithParam<bool> {
protected:
    static void SetUpTestSuite() { process_ = new test::ChildGame("FlightSimulator.exe"); }
    static void TearDownTestSuite() {
        delete process_;
        process_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(process_->started());
        if (GetParam() && !server_.listening()) GTEST_SKIP() << "no named pipes on this system";
        ASSERT_TRUE(server_.listening());
        folders_.write("user", server_.configText());
        ASSERT_TRUE(reader_.detect());
        ASSERT_TRUE(reader_.attach());
        ASSERT_TRUE(test::eventually([&] { return server_.requests(0).size() == 24; }));
    }
    // Reads until `done` holds; every read must return 1.
    template <class F>
    bool readUntil(F done) {
        return test::eventually([&] {
            EXPECT_TRUE(reader_.read(record_));
            return done();
        });
    }

    static test::ChildGame* process_;
    test::ConfigFolders folders_;
    std::unique_ptr<Server> made_ = GetParam() ? std::make_unique<Server>("RezReader" + std::to_string(platform::counterNow()))
                                               : std::make_unique<Server>();
    Server& server_ = *made_;
    FlightSimReader reader_{kMsfs2020};
    GameDataRecord record_;
};

test::ChildGame* AttachedReader::process_ = nullptr;

TEST_P(AttachedReader, AttachSendsTheExactRequests) {
    EXPECT_TRUE(server_.faults().empty()) << ::testing::PrintToString(server_.faults());
    const auto r = server_.requests(0);
    ASSERT_EQ(r.size(), 24u);
    struct Expected {
        std::uint32_t id;
        const char* name1;
        const char* name2;
        std::uint32_t number;  // datum type, or event id
    };
    const Expected expected[] = {
        {0xF0000001, "Rovandelix", "", 0},
        {0xF000000C, "ACCELERATION BODY X", "meter per second squared", 4},
        {0xF000000C, "ACCELERATION BODY Y", "meter per second squared", 4},
        {0xF000000C, "ACCELERATION BODY Z", "meter per second squared", 4},
        {0xF000000C, "ROTATION ACCELERATION BODY X", "radians per second squared", 4},
        {0xF000000C, "ROTATION ACCELERATION BODY Y", "radians per second squared", 4},
        {0xF000000C, "ROTATION ACCELERATION BODY Z", "radians per second squared", 4},
        {0xF000000C, "VELOCITY BODY X", "meter per second", 4},
        {0xF000000C, "VELOCITY BODY Y", "meter per second", 4},
        {0xF000000C, "VELOCITY BODY Z", "meter per second", 4},
        {0xF000000C, "ROTATION VELOCITY BODY X", "radians per second", 4},
        {0xF000000C, "ROTATION VELOCITY BODY Y", "radians per second", 4},
        {0xF000000C, "ROTATION VELOCITY BODY Z", "radians per second", 4},
        {0xF000000C, "PLANE HEADING DEGREES TRUE", "radians", 4},
        {0xF000000C, "PLANE BANK DEGREES", "radians", 4},
        {0xF000000C, "PLANE PITCH DEGREES", "radians", 4},
        {0xF000000C, "GEAR IS ON GROUND", "Bool", 2},
        {0xF000000C, "SIM ON GROUND", "Bool", 2},
        {0xF000000E, "", "", 0},
        {0xF0000017, "Crashed", "", 6},
        {0xF0000017, "Quit", "", 7},
        {0xF0000017, "SimStart", "", 4},
        {0xF0000017, "SimStop", "", 5},
        {0xF0000017, "Sim", "", 3},
    };
    for (std::size_t i = 0; i < r.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r[i].serial, i + 1);
        EXPECT_EQ(r[i].id, expected[i].id);
        EXPECT_EQ(r[i].name1, expected[i].name1);
        EXPECT_EQ(r[i].name2, expected[i].name2);
        if (r[i].id == 0xF000000C) {
            EXPECT_EQ(r[i].u32At(16), 0u) << "definition 0";
            EXPECT_EQ(r[i].u32At(532), expected[i].number);
        }
        if (r[i].id == 0xF0000017) {
            EXPECT_EQ(r[i].u32At(16), expected[i].number);
        }
    }
    // Request 0, definition 0, user aircraft, every frame, nothing else.
    for (std::size_t at = 16, k = 0; at < 48; at += 4, ++k) EXPECT_EQ(r[18].u32At(at), k == 3 ? 3u : 0u) << at;
}

TEST_P(AttachedReader, DecodesEveryWaitingMessageInOrderWhateverThePieces) {
    double first[15], second[15], other[15];
    for (int i = 0; i < 15; ++i) {
        first[i] = 100.0 + i;
        second[i] = 0.1 * (i + 1);
        other[i] = -50.0;
    }
    auto shortData = Server::data(other, 0, 0);
    shortData.resize(100);
    shortData[0] = 100;  // a data message that stops before its 17 values
    const auto stream = sim::joined({Server::data(first, 0, 1), Server::event(4), Server::data(second, 1, 0), shortData,
                                      Server::data(other, 0, 1, /*requestId=*/1)});
    const auto deg = [](double r) { return r * 180.0 / kPi; };
    for (std::size_t piece : {0u, 1u, 7u, 176u}) {
        SCOPED_TRACE(piece);
        record_ = GameDataRecord{};
        reader_.groundState = 1;
        ASSERT_TRUE(server_.send(0, stream, piece));
        // The stream ends with messages that must change nothing, so the last
        // decoded values are the second message's.
        ASSERT_TRUE(server_.send(0, Server::data(second, 1, 0)));
        if (piece == 0) {
            // Sent at once, the whole stream is there for the first read that
            // finds anything: that read takes every message, in order.
            ASSERT_TRUE(readUntil([&] { return record_.slots[kLateralAccel] != 0.0; }));
            EXPECT_EQ(record_.slots[kLateralAccel], second[0]);
        }
        ASSERT_TRUE(readUntil([&] { return record_.slots[kLateralAccel] == second[0]; }));
        for (int i = 0; i < 20; ++i) EXPECT_TRUE(reader_.read(record_));
        const double* s = record_.slots;
        EXPECT_EQ(s[kLateralAccel], second[0]);
        EXPECT_EQ(s[kVerticaAccel], second[1]);
        EXPECT_EQ(s[kLongituAccel], second[2]);
        EXPECT_EQ(s[kLateralSpeed], -second[6]);
        EXPECT_EQ(s[kVerticaSpeed], -second[7]);
        EXPECT_EQ(s[kLongituSpeed], second[8]);
        EXPECT_DOUBLE_EQ(s[kPitchSpeed], -deg(second[9]));
        EXPECT_DOUBLE_EQ(s[kYawSpeed], -deg(second[10]));
        EXPECT_DOUBLE_EQ(s[kRollSpeed], -deg(second[11]));
        EXPECT_DOUBLE_EQ(s[kYawPosition], deg(second[12]));
        EXPECT_DOUBLE_EQ(s[kRollPosition], deg(second[13]));
        EXPECT_DOUBLE_EQ(s[kPitchPosition], -deg(second[14]));
        EXPECT_EQ(reader_.groundState.load(), 0);
        // Accelerations came without gravity: the gravity parts are added.
        EXPECT_DOUBLE_EQ(s[kLateralAccelG], s[kLateralAccel] + s[kLateralGravi]);
        EXPECT_DOUBLE_EQ(s[kVerticaAccelG], s[kVerticaAccel] + s[kVerticaGravi]);
        EXPECT_DOUBLE_EQ(s[kLongituAccelG], s[kLongituAccel] + s[kLongituGravi]);
        EXPECT_NE(s[kVerticaGravi], 0.0);
    }
}

TEST_P(AttachedReader, GroundStateIsOneOnlyForSimOnGroundExactlyOne) {
    const double v[15] = {};
    struct Case {
        std::int64_t gear, sim;
        int ground;
    };
    const Case cases[] = {{0, 1, 1}, {1, 0, 0}, {1, 2, 0}, {0, 1, 1}, {1, -1, 0}, {0, 0x100000001, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sim);
        ASSERT_TRUE(server_.send(0, Server::data(v, c.gear, c.sim)));
        ASSERT_TRUE(readUntil([&] { return reader_.groundState.load() == c.ground; }));
        // Nothing else is coming: the state stays.
        for (int i = 0; i < 5; ++i) EXPECT_TRUE(reader_.read(record_));
        EXPECT_EQ(reader_.groundState.load(), c.ground);
    }
}

TEST_P(AttachedReader, QuitTheQuitEventOrABrokenConnectionEndTheSlotOtherEventsDoNot) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> message;  // none: the server drops the connection
        bool closes;
    };
    auto tooLarge = Server::quit();  // more than the client accepts: it aborts the connection
    store_le<std::uint32_t>(tooLarge.data(), kSmallestMaxReceiveSize + 1);
    // Each case is played on its own connection.
    const Case cases[] = {
        {"Crashed", Server::event(6), false}, {"SimStart", Server::event(4), false}, {"SimStop", Server::event(5), false},
        {"Sim", Server::event(3), false},     {"exception", Server::exception(7, 3, 0xFFFFFFFFu), false},
        {"quit", Server::quit(), true},       {"Quit event", Server::event(7), true},
        {"too large", tooLarge, true},        {"dropped without a quit", {}, true},
    };
    double v[15] = {};
    int client = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!reader_.connected()) {
            ASSERT_TRUE(reader_.detect());
            ASSERT_TRUE(reader_.attach());
            ++client;
            ASSERT_TRUE(test::eventually([&] { return server_.requests(client).size() == 24; }));
        }
        v[0] += 1.0;
        const GameDataRecord before = record_;
        if (c.message.empty()) server_.drop(client);
        else ASSERT_TRUE(server_.send(client, sim::joined({c.message, Server::data(v, 0, 0)})));
        if (c.closes) {
            ASSERT_TRUE(test::eventually([&] { return !reader_.read(record_); }));
            EXPECT_FALSE(reader_.connected());
            EXPECT_FALSE(reader_.read(record_)) << "reads give nothing until the source is closed";
            EXPECT_TRUE(test::eventually([&] { return server_.clientClosed(client); }));
            for (int slot = 0; slot < kGameSlotCount; ++slot) EXPECT_EQ(record_.slots[slot], before.slots[slot]) << slot;
        } else {
            ASSERT_TRUE(readUntil([&] { return record_.slots[kLateralAccel] == v[0]; }));
            EXPECT_TRUE(reader_.connected());
        }
    }
}

// A used value that is no finite number (or radians too large for degrees)
// makes its message no sample: nothing of it is stored, and reads give none
// until a usable message comes. Fields 3 to 5 are not used.
TEST_P(AttachedReader, NonFiniteValuesAreNoSample) {
    const double inf = INFINITY;
    const std::pair<int, double> cases[] = {{0, NAN},  {1, inf},   {2, -inf}, {6, NAN},  {7, inf},  {8, -inf}, {9, NAN},
                                            {10, inf}, {11, -inf}, {12, NAN}, {13, inf}, {14, -inf}, {14, 1e307}, {3, NAN}};
    double v[15] = {};
    for (const auto& [field, value] : cases) {
        SCOPED_TRACE(field);
        v[1] += 1.0;
        ASSERT_TRUE(server_.send(0, Server::data(v, 0, 0)));
        ASSERT_TRUE(test::eventually([&] { return reader_.read(record_) && record_.slots[kVerticaAccel] == v[1]; }));
        const GameDataRecord before = record_;
        double bad[15] = {};
        bad[field] = value;
        ASSERT_TRUE(server_.send(0, Server::data(bad, 1, 1)));
        const bool used = field < 3 || field > 5;
        ASSERT_TRUE(test::eventually([&] { return reader_.read(record_) != used && reader_.groundState.load() != used; }));
        if (!used) continue;
        EXPECT_FALSE(reader_.read(record_));
        for (int slot = 0; slot < kGameSlotCount; ++slot) EXPECT_EQ(record_.slots[slot], before.slots[slot]) << slot;
    }
}

// A flooding server holds no tick: each read takes a bounded share of the
// messages, and later reads take the rest, in order.
TEST_P(AttachedReader, AFloodIsTakenInBoundedSharesInOrder) {
    constexpr double kTotal = 3000;
    std::atomic<double> sent{0};
    std::thread flood([&] {
        double v[15] = {};
        for (std::vector<std::uint8_t> batch; v[0] < kTotal; sent = v[0], batch.clear()) {
            for (int i = 0; i < 100; ++i, v[0] += 1) batch = sim::joined({batch, Server::data(v, 0, 0)});
            if (!server_.send(0, batch)) return;
        }
    });
    EXPECT_TRUE(test::eventually([&] { return sent > 0; }));
    double last = -1, largestStep = 0;
    EXPECT_TRUE(test::eventually(
        [&] {
            EXPECT_TRUE(reader_.read(record_));
            largestStep = std::max(largestStep, record_.slots[kLateralAccel] - last);
            last = record_.slots[kLateralAccel];
            return last == kTotal - 1;
        },
        60000));
    flood.join();
    EXPECT_LE(largestStep, kMostMessagesPerRead) << "messages taken by one read";
}

// Detection of the two simulators through the game table's order, each
// reader on its own slot.
class FlightSimDetection : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.listening());
        folders_.write("user", server_.configText());
        set_.detectPauseMs = 0;
        for (int id = 0; id < kGameCount; ++id)
            if (id != kMsfs2020 && id != kMsfs2024) set_.setReader(id, std::make_unique<test::AbsentReader>());
    }
    FlightSimReader& reader(int id) { return static_cast<FlightSimReader&>(*set_.readers[static_cast<std::size_t>(id)]); }

    test::ConfigFolders folders_;
    Server server_;
    GameSourceSet set_;
};

TEST_F(FlightSimDetection, BothRunningThe2020SlotWins) {
    test::ChildGame sim2020("FlightSimulator.exe"), sim2024("FlightSimulator2024.exe");
    ASSERT_TRUE(sim2020.started() && sim2024.started());
    EXPECT_EQ(set_.detectGame(), 1);
    EXPECT_EQ(set_.presentGame(), kMsfs2020);
    EXPECT_TRUE(reader(kMsfs2020).connected());
    EXPECT_FALSE(reader(kMsfs2024).connected()) << "the 2024 test never ran";
}

TEST_F(FlightSimDetection, The2024SlotKeepsItsConnectionUntilTheProcessComes) {
    // No simulator process: the 2020 slot lets its connection go, the 2024
    // slot keeps its own and opens no other on the next pass.
    EXPECT_EQ(set_.detectGame(), 0);
    ASSERT_TRUE(test::eventually([&] { return server_.clientCount() == 2 && server_.clientClosed(0); }));
    EXPECT_FALSE(reader(kMsfs2020).connected());
    EXPECT_TRUE(reader(kMsfs2024).connected());
    EXPECT_EQ(set_.detectGame(), 0);
    ASSERT_TRUE(test::eventually([&] { return server_.clientCount() == 3 && server_.clientClosed(2); }));
    EXPECT_FALSE(server_.clientClosed(1));

    {
        test::ChildGame sim2024("FlightSimulator2024.exe");
        ASSERT_TRUE(sim2024.started());
        EXPECT_EQ(set_.detectGame(), 1);
        EXPECT_EQ(set_.presentGame(), kMsfs2024);
        EXPECT_TRUE(test::eventually([&] { return server_.clientCount() == 4; }));
        EXPECT_FALSE(server_.clientClosed(1)) << "found over the connection it kept";
        EXPECT_EQ(set_.openGameSource(), 1);
        EXPECT_TRUE(test::eventually([&] { return server_.requests(1).size() == 24; }));
        EXPECT_EQ(set_.closeGameSource(), 1);
        EXPECT_TRUE(test::eventually([&] { return server_.clientClosed(1); }));
    }

    // A kept connection whose server went away frees the slot for a fresh open.
    EXPECT_EQ(set_.detectGame(), 0);
    ASSERT_TRUE(test::eventually([&] { return server_.clientCount() == 6; }));
    server_.drop(5);
    EXPECT_EQ(set_.detectGame(), 0);
    EXPECT_FALSE(reader(kMsfs2024).connected());
    EXPECT_EQ(set_.detectGame(), 0);
    EXPECT_TRUE(reader(kMsfs2024).connected());
    EXPECT_TRUE(server_.faults().empty()) << ::testing::PrintToString(server_.faults());
}

TEST_F(FlightSimDetection, OnlyThe2024ProcessFrees2020sConnection) {
    test::ChildGame sim2024("FlightSimulator2024.exe");
    ASSERT_TRUE(sim2024.started());
    EXPECT_EQ(set_.detectGame(), 1);
    EXPECT_EQ(set_.presentGame(), kMsfs2024);
    EXPECT_TRUE(test::eventually([&] { return server_.clientCount() == 2 && server_.clientClosed(0); }));
    EXPECT_FALSE(server_.clientClosed(1));
}

INSTANTIATE_TEST_SUITE_P(Transports, AttachedReader, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Pipe" : "Tcp"; });

TEST_F(FlightSimDetection, NoServerNoGame) {
    test::ChildGame sim2020("FlightSimulator.exe");
    ASSERT_TRUE(sim2020.started());
    folders_.write("user", "");
    EXPECT_EQ(set_.detectGame(), 0);
    EXPECT_FALSE(reader(kMsfs2020).connected());
    EXPECT_FALSE(reader(kMsfs2024).connected());
    EXPECT_EQ(liveSimConnectClients(), 0u);
}

}  // namespace
}  // namespace rez
