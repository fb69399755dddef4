// iRacing: header and variable-header walk, the newest-buffer choice, the
// tick rules, subtract mode, and headers that lie about places and sizes.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "sources/game_table.h"
#include "sources/shm/iracing_reader.h"
#include "tests/shm_sources/shm_test_util.h"
#include "tests/support/child_game.h"
#include "sim/game_writers.h"

using namespace rez::sim;  // the stand-ins for games, controllers and networks

namespace rez {
namespace {

const std::vector<std::string> kAllVariables = {"SessionTime", "LatAccel", "LongAccel", "VertAccel", "YawRate",
                                                "RollRate",    "PitchRate", "Yaw",      "Roll",      "Pitch"};

std::map<std::string, float> motion(float base) {
    return {{"LatAccel", 2.0f + base}, {"LongAccel", 3.0f}, {"VertAccel", 9.0f}, {"YawRate", 0.1f},
            {"RollRate", -0.2f},       {"PitchRate", 0.3f}, {"Yaw", 0.5f},       {"Roll", 0.2f},
            {"Pitch", 0.1f}};
}

class IRacingTest : public test::ShmReaderTest {
protected:
    void SetUp() override {
        test::ShmReaderTest::SetUp();
        process = std::make_unique<test::ChildGame>("iRacingSim64DX11.exe");
        ASSERT_TRUE(process->started());
    }
    void TearDown() override {
        process.reset();
        test::ShmReaderTest::TearDown();
    }
    std::unique_ptr<test::ChildGame> process;
};

TEST_F(IRacingTest, SampleGivesChannelsWithGravitySubtracted) {
    sim::IRacingWriter game(kAllVariables);
    ASSERT_TRUE(game.ok());
    game.setConnected(true);
    auto reader = test::shippedReader(kIRacing);
    ASSERT_TRUE(reader->detect());
    ASSERT_TRUE(reader->attach());
    GameDataRecord record = test::markedRecord();
    game.publish(100, motion(0));
    ASSERT_TRUE(reader->read(record));
    game.publish(101, motion(0));
    ASSERT_TRUE(reader->read(record));
    test::expectSlots(record, {
                                  {kLateralAccelG, -2.0},
                                  {kLongituAccelG, 3.0},
                                  {kVerticaAccelG, 9.0},
                                  {kYawSpeed, 0.1},
                                  {kRollSpeed, -0.2},
                                  {kPitchSpeed, 0.3},
                                  {kYawPosition, 28.64788975654116},
                                  {kRollPosition, 11.459155902616464},
                                  {kPitchPosition, -5.729577951308232},
                              },
                      1e-5);
    // Roll 0.2 rad right side down: the lateral part of a roll of -0.2 in the
    // other games' sense.
    test::expectGravity(record, -0.2, -0.1);
    // iRacing's accelerations include gravity: the without-gravity values are
    // what is left after taking it away.
    EXPECT_DOUBLE_EQ(record.slots[kLateralAccel], record.slots[kLateralAccelG] - record.slots[kLateralGravi]);
    EXPECT_DOUBLE_EQ(record.slots[kLongituAccel], record.slots[kLongituAccelG] - record.slots[kLongituGravi]);
    EXPECT_DOUBLE_EQ(record.slots[kVerticaAccel], record.slots[kVerticaAccelG] - record.slots[kVerticaGravi]);
    EXPECT_NEAR(record.slots[kVerticaAccel], 9.0 - test::kG * std::cos(-0.1) * std::cos(0.2), 1e-5);
    EXPECT_EQ(record.slots[kSpeed], test::kUntouched);
}

// One buffer, so the tick the game writes is the newest one. Each step says
// whether its row was taken.
TEST_F(IRacingTest, TickRules) {
    sim::IRacingWriter game(kAllVariables, 1);
    game.setConnected(true);
    IRacingReader reader;
    ASSERT_TRUE(reader.attach());
    EXPECT_EQ(reader.lastTick(), INT_MAX);
    struct Step {
        const char* what;
        bool connected;
        std::int32_t tick;
        bool taken;
        std::int32_t lastTick;
    };
    const Step steps[] = {
        {"first read after attach only takes the tick", true, 10, false, 10},
        {"same tick", true, 10, false, 10},
        {"newer tick", true, 11, true, 11},
        {"unchanged again", true, 11, false, 11},
        {"tick went back: the game restarted its count", true, 3, false, 3},
        {"newer than the restarted count", true, 4, true, 4},
        {"disconnected", false, 5, false, INT_MAX},
        {"reconnected: the first tick is only taken", true, 6, false, 6},
        {"and the next one read", true, 7, true, 7},
    };
    GameDataRecord record = test::markedRecord();
    float value = 0.0f;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        value += 1.0f;
        game.setConnected(s.connected);
        auto values = motion(0);
        values["YawRate"] = value;
        game.publish(s.tick, values);
        const double before = record.slots[kYawSpeed];
        EXPECT_TRUE(reader.read(record)) << "every read reports a sample once attached";
        EXPECT_EQ(record.slots[kYawSpeed], s.taken ? static_cast<double>(value) : before);
        EXPECT_EQ(reader.lastTick(), s.lastTick);
    }
}

TEST_F(IRacingTest, NewestBufferWinsAndTheFirstWinsATie) {
    sim::IRacingWriter game(kAllVariables, 3);
    game.setConnected(true);
    IRacingReader reader;
    ASSERT_TRUE(reader.attach());
    GameDataRecord record;
    game.publish(1, motion(0));
    ASSERT_TRUE(reader.read(record));  // takes tick 1

    struct Case {
        std::int32_t ticks[3];
        float expectedYawRate;
    };
    // Rows hold YawRate 10, 20, 30 in buffers 0, 1, 2.
    const Case cases[] = {{{5, 9, 7}, 20.0f}, {{12, 11, 10}, 10.0f}, {{13, 15, 15}, 20.0f}, {{16, 16, 16}, 10.0f},
                          {{17, 18, 19}, 30.0f}};
    for (const Case& c : cases) {
        for (int b = 0; b < 3; ++b) {
            auto values = motion(0);
            values["YawRate"] = 10.0f * static_cast<float>(b + 1);
            game.writeRow(b, c.ticks[b], values);
        }
        ASSERT_TRUE(reader.read(record));
        EXPECT_EQ(record.slots[kYawSpeed], c.expectedYawRate) << c.ticks[0] << " " << c.ticks[1] << " " << c.ticks[2];
    }
}

TEST_F(IRacingTest, VariableTheGameDoesNotPublishKeepsItsChannel) {
    sim::IRacingWriter game({"LatAccel", "YawRate", "Roll"});
    game.setConnected(true);
    IRacingReader reader;
    ASSERT_TRUE(reader.attach());
    GameDataRecord record = test::markedRecord();
    game.publish(1, motion(0));
    reader.read(record);
    game.publish(2, motion(0));
    ASSERT_TRUE(reader.read(record));
    EXPECT_NEAR(record.slots[kLateralAccelG], -2.0, 1e-6);
    EXPECT_NEAR(record.slots[kYawSpeed], 0.1, 1e-6);
    EXPECT_NEAR(record.slots[kRollPosition], 11.459155902616464, 1e-5);
    for (int slot : {kLongituAccelG, kVerticaAccelG, kRollSpeed, kPitchSpeed, kYawPosition, kPitchPosition})
        EXPECT_EQ(record.slots[slot], test::kUntouched) << gameSlotName(slot);
}

TEST_F(IRacingTest, NamesAreComparedWholeOverAtMost32Characters) {
    // "Yaw" must not be found in "YawRate" nor "Roll" in "RollRate".
    sim::IRacingWriter game({"YawRate", "RollRate", "Pitchx", std::string(32, 'P')});
    game.setConnected(true);
    IRacingReader reader;
    ASSERT_TRUE(reader.attach());
    GameDataRecord record = test::markedRecord();
    game.publish(1, {});
    reader.read(record);
    game.publish(2, {{"YawRate", 0.25f}, {"RollRate", 0.5f}, {"Pitchx", 1.0f}});
    ASSERT_TRUE(reader.read(record));
    EXPECT_EQ(record.slots[kYawSpeed], 0.25);
    EXPECT_EQ(record.slots[kRollSpeed], 0.5);
    EXPECT_EQ(record.slots[kYawPosition], test::kUntouched);
    EXPECT_EQ(record.slots[kRollPosition], test::kUntouched);
    EXPECT_EQ(record.slots[kPitchPosition], test::kUntouched);
}

TEST_F(IRacingTest, AttachKeepsWhatItOpenedAndFailedDetectionDropsIt) {
    sim::GameBlock mapping("Local\\IRSDKMemMapFileName", 4096);
    ASSERT_TRUE(mapping.ok());
    IRacingReader reader;
    EXPECT_FALSE(reader.attach()) << "no data-valid event yet";
    EXPECT_TRUE(reader.holdsMapping()) << "the mapping is kept for the next try";
    EXPECT_FALSE(reader.holdsEvent());

    platform::NamedEvent event;
    ASSERT_TRUE(event.create("Local\\IRSDKDataValidEvent"));
    EXPECT_TRUE(reader.attach());
    EXPECT_TRUE(reader.attached());
    EXPECT_TRUE(reader.holdsEvent());
    EXPECT_FALSE(reader.attach()) << "a second attach releases everything";
    EXPECT_FALSE(reader.attached());
    EXPECT_FALSE(reader.holdsMapping());
    EXPECT_FALSE(reader.holdsEvent());

    ASSERT_TRUE(reader.attach());
    reader.detectFailed();
    EXPECT_FALSE(reader.attached());
    EXPECT_FALSE(reader.holdsMapping());
    EXPECT_EQ(reader.lastTick(), INT_MAX);
    GameDataRecord record;
    EXPECT_FALSE(reader.read(record)) << "not attached";
}

// --- Headers that lie ---------------------------------------------------------
// The sampler is run over a heap copy of exactly the mapping's size, so any
// read past the end is caught by the address sanitizer.

constexpr std::size_t kVarCountAt = 24, kVarHeaderOffsetAt = 28, kBufferCountAt = 32, kBufferLengthAt = 36;
constexpr std::size_t kFirstBufferOffsetAt = 52;

// A well-formed header with the ten variables in one buffer at tick 5.
std::vector<unsigned char> validTelemetry() {
    sim::IRacingWriter game(kAllVariables, 1);
    game.setConnected(true);
    game.publish(5, motion(0));
    // The writer's block is only borrowed for its bytes.
    platform::SharedMemory view;
    EXPECT_TRUE(view.openExisting("Local\\IRSDKMemMapFileName", platform::MapAccess::Read));
    EXPECT_TRUE(view.map(platform::MapAccess::Read, game.size()));
    return std::vector<unsigned char>(view.data(), view.data() + game.size());
}

// Exactly `bytes.size()` bytes on the heap, nothing around them to read.
std::unique_ptr<unsigned char[]> exactCopy(const std::vector<unsigned char>& bytes) {
    auto heap = std::make_unique<unsigned char[]>(bytes.size());
    if (!bytes.empty()) std::memcpy(heap.get(), bytes.data(), bytes.size());
    return heap;
}

TEST_F(IRacingTest, LyingHeadersReadNothingOutsideTheView) {
    const std::vector<unsigned char> valid = validTelemetry();
    ASSERT_GT(valid.size(), 2u * 144u);
    const auto size = static_cast<std::int32_t>(valid.size());
    // The second variable header belongs to "LatAccel".
    constexpr std::size_t kLatAccelOffsetAt = 144 + 144 + 4;
    struct Damage {
        const char* what;
        std::size_t at;
        std::int32_t value;
        bool taken;      // a row was copied
        bool yawRead;    // YawRate reached its channel
        bool latRead;    // LatAccel reached its channel
    };
    const Damage cases[] = {
        {"nothing damaged", 0, 2, true, true, true},
        {"huge variable count", kVarCountAt, INT_MAX, true, true, true},
        {"negative variable count", kVarCountAt, -5, true, false, false},
        {"variable headers past the end", kVarHeaderOffsetAt, size + 64, true, false, false},
        {"variable headers straddling the end", kVarHeaderOffsetAt, size - 100, true, false, false},
        {"negative variable header offset", kVarHeaderOffsetAt, -144, true, false, false},
        {"huge buffer count", kBufferCountAt, INT_MAX, true, true, true},
        {"negative buffer count", kBufferCountAt, INT_MIN, false, false, false},
        {"huge row length", kBufferLengthAt, INT_MAX, false, false, false},
        {"negative row length", kBufferLengthAt, -1, false, false, false},
        {"row length past the end", kBufferLengthAt, size, false, false, false},
        {"row offset past the end", kFirstBufferOffsetAt, size + 1, false, false, false},
        {"row offset straddling the end", kFirstBufferOffsetAt, size - 8, false, false, false},
        {"negative row offset", kFirstBufferOffsetAt, -40, false, false, false},
        {"variable placed far outside the row", kLatAccelOffsetAt, 1 << 30, true, true, false},
        {"variable placed before the row", kLatAccelOffsetAt, -4, true, true, false},
        {"variable straddling the row end", kLatAccelOffsetAt, 4 * 10 - 2, true, true, false},
    };
    for (const Damage& d : cases) {
        SCOPED_TRACE(d.what);
        std::vector<unsigned char> bytes(valid);
        store_le<std::int32_t>(bytes.data() + d.at, d.value);
        auto heap = exactCopy(bytes);
        IRacingSampler sampler;
        sampler.lastTick = 4;
        GameDataRecord record = test::markedRecord();
        EXPECT_EQ(sampler.sample(ViewBytes(heap.get(), bytes.size()), record), d.taken);
        EXPECT_EQ(record.slots[kYawSpeed] != test::kUntouched, d.yawRead);
        EXPECT_EQ(record.slots[kLateralAccelG] != test::kUntouched, d.latRead);
        if (d.yawRead) {
            EXPECT_NEAR(record.slots[kYawSpeed], 0.1, 1e-6);
        }
    }
}

TEST_F(IRacingTest, ViewSmallerThanTheHeaderGivesNothing) {
    for (std::size_t size : {0, 3, 7, 8, 40, 50, 63}) {
        std::vector<unsigned char> bytes(size, 0xFF);
        if (size >= 8) store_le<std::int32_t>(bytes.data() + 4, 1);  // connected
        if (size >= 40) {
            store_le<std::int32_t>(bytes.data() + 32, 1);  // one buffer
            store_le<std::int32_t>(bytes.data() + 36, 4);  // of four bytes
        }
        auto heap = exactCopy(bytes);
        IRacingSampler sampler;
        sampler.lastTick = -100;
        GameDataRecord record = test::markedRecord();
        EXPECT_FALSE(sampler.sample(ViewBytes(heap.get(), size), record)) << size;
        EXPECT_TRUE(test::sameRecord(record, test::markedRecord())) << size;
    }
}

TEST_F(IRacingTest, RowsLongerThanTheSampleRowAreCut) {
    // A row of 12 000 bytes whose first variable sits past the 10 000-byte cut.
    sim::IRacingWriter game({"YawRate", "RollRate"}, 1, 12000);
    game.setConnected(true);
    const std::size_t firstHeader = sim::IRacingWriter::kVarHeadersAt;
    game.putHeaderI32(firstHeader + 4, 11000);
    IRacingReader reader;
    ASSERT_TRUE(reader.attach());
    GameDataRecord record = test::markedRecord();
    game.publish(1, {});
    reader.read(record);
    game.publish(2, {{"RollRate", 0.75f}});
    ASSERT_TRUE(reader.read(record));
    EXPECT_EQ(record.slots[kRollSpeed], 0.75);
    EXPECT_EQ(record.slots[kYawSpeed], test::kUntouched) << "beyond the cut counts as not published";
}

// Random damage to a valid header, many times over: whatever the header
// says, the sampler stays inside the bytes it was given.
TEST_F(IRacingTest, RandomDamageStaysInsideTheView) {
    const std::vector<unsigned char> valid = validTelemetry();
    std::mt19937 random(20240611u);
    std::uniform_int_distribution<std::size_t> place(0, 143);
    std::uniform_int_distribution<int> pick(0, 3);
    const std::int32_t interesting[] = {0, -1, 1, INT_MAX, INT_MIN, static_cast<std::int32_t>(valid.size()),
                                        static_cast<std::int32_t>(valid.size()) - 1, 144, 4096};
    std::uniform_int_distribution<std::size_t> which(0, std::size(interesting) - 1);
    auto heap = exactCopy(valid);
    int taken = 0;
    for (int round = 0; round < 20000; ++round) {
        std::memcpy(heap.get(), valid.data(), valid.size());
        for (int k = pick(random); k >= 0; --k) {
            const std::size_t at = place(random) & ~std::size_t{3};
            store_le<std::int32_t>(heap.get() + at, interesting[which(random)]);
        }
        IRacingSampler sampler;
        sampler.lastTick = 4;
        GameDataRecord record;
        if (sampler.sample(ViewBytes(heap.get(), valid.size()), record)) ++taken;
    }
    EXPECT_GT(taken, 0) << "some damage leaves a readable row";
}

}  // namespace
}  // namespace rez
