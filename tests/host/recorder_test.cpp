#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "tools/host/recorder.h"
#include "tools/host/summary.h"

namespace {

using rez::host::HistoryPairer;
using rez::sim::RecordedTick;

// Records of engine tick `id`: every value of both halves carries the id.
CalculationSnapshot calcOf(int id) {
    CalculationSnapshot c{};
    for (double& v : c.values) v = id;
    return c;
}
AccelerationSnapshot accelOf(int id) {
    AccelerationSnapshot a{};
    for (double& v : a.values) v = id + 0.5;
    return a;
}

// One take of both histories: the engine ticks [calcFrom, calcTo) and [accelFrom, accelTo).
struct Take {
    int calcFrom, calcTo, accelFrom, accelTo;
};

TEST(HistoryPairer, RowsJoinTheTwoHalvesOfTheSameTick) {
    struct Case {
        const char* what;
        std::vector<Take> takes;
        int firstId;  // engine tick of the first row
        int rows;
        int resyncs;
    };
    const Case cases[] = {
        {"equal takes", {{0, 25, 0, 25}, {25, 50, 25, 50}}, 0, 50, 0},
        // A tick landed between the two takes: one half waits for the next take.
        {"calculation ahead", {{0, 26, 0, 25}, {26, 50, 25, 50}}, 0, 50, 0},
        {"acceleration ahead", {{0, 25, 0, 26}, {25, 51, 26, 50}}, 0, 50, 0},
        {"nothing new", {{0, 3, 0, 2}, {3, 3, 2, 2}, {3, 4, 2, 4}}, 0, 4, 0},
        // Full histories lost their oldest records: lined up again at the newest end.
        {"overflow", {{0, 3, 0, 2}, {10, 160, 10, 160}}, 10, 150, 1},
    };
    for (const Case& c : cases) {
        HistoryPairer pairer;
        std::vector<RecordedTick> rows;
        for (const Take& t : c.takes) {
            std::vector<CalculationSnapshot> calc;
            std::vector<AccelerationSnapshot> accel;
            for (int id = t.calcFrom; id < t.calcTo; ++id) calc.push_back(calcOf(id));
            for (int id = t.accelFrom; id < t.accelTo; ++id) accel.push_back(accelOf(id));
            std::vector<RecordedTick> out;
            pairer.add(calc.data(), static_cast<int>(calc.size()), accel.data(), static_cast<int>(accel.size()), out);
            if (c.resyncs > 0) rows.clear();  // only the rows after the resynchronisation are checked
            rows.insert(rows.end(), out.begin(), out.end());
        }
        EXPECT_EQ(pairer.resyncs(), c.resyncs) << c.what;
        ASSERT_EQ(static_cast<int>(rows.size()), c.rows) << c.what;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const double id = c.firstId + static_cast<double>(i);
            ASSERT_EQ(rows[i].cues[0], id) << c.what << " row " << i;
            ASSERT_EQ(rows[i].cues[22], id) << c.what << " row " << i;
            ASSERT_EQ(rows[i].slots[0], id + 0.5) << c.what << " row " << i;
            ASSERT_EQ(rows[i].slots[42], id + 0.5) << c.what << " row " << i;
            if (i > 0) {
                ASSERT_EQ(rows[i].tick, rows[i - 1].tick + 1) << c.what;
            }
        }
    }
}

TEST(TickStamper, SpreadsATakesTicksUpToTheTakesTime) {
    struct Case {
        const char* what;
        std::vector<std::tuple<int, double, bool>> takes;  // ticks, time, histories overflowed
        std::vector<std::pair<int, double>> expected;      // (tick, seconds)
    };
    const Case cases[] = {
        {"even takes", {{25, 0.25, false}, {25, 0.30, false}}, {{0, 0.202}, {24, 0.25}, {25, 0.252}, {49, 0.30}}},
        {"slow take: 2.8 ms apart", {{25, 0.25, false}, {25, 0.32, false}}, {{25, 0.2528}, {37, 0.2864}, {49, 0.32}}},
        {"first take, 2 ms apart", {{10, 1.0, false}}, {{0, 0.982}, {9, 1.0}}},
        {"first take longer than the clock ran", {{100, 0.1, false}}, {{0, 0.001}, {99, 0.1}}},
        {"not stretched over a gap", {{25, 0.25, false}, {0, 0.30, false}, {10, 0.35, false}}, {{25, 0.332}, {34, 0.35}}},
        {"after an overflow", {{25, 0.25, false}, {150, 0.60, true}}, {{25, 0.302}, {174, 0.60}}},
    };
    for (const Case& c : cases) {
        rez::host::TickStamper stamper;
        std::vector<RecordedTick> all;
        for (const auto& [ticks, at, lostOlder] : c.takes) {
            std::vector<RecordedTick> fresh(static_cast<std::size_t>(ticks));
            stamper.stamp(fresh, at, lostOlder);
            all.insert(all.end(), fresh.begin(), fresh.end());
        }
        for (const auto& [tick, seconds] : c.expected)
            EXPECT_NEAR(all.at(static_cast<std::size_t>(tick)).seconds, seconds, 1e-9) << c.what << " tick " << tick;
    }
}

// The summary lines frames up with the ticks that sent them.
TEST(Summary, CountsLostAndDamagedFramesAgainstTheTicks) {
    struct Case {
        const char* what;
        std::vector<int> sent;  // tick index of each frame that arrived, in order; -1: a damaged frame
        std::uint64_t lost, unmatched;
    };
    const Case cases[] = {
        {"all arrive", {0, 1, 2, 3, 4, 5, 6, 7}, 0, 0},
        {"link came up late", {3, 4, 5, 6, 7}, 0, 0},
        {"two lost", {0, 1, 3, 4, 6, 7}, 2, 0},
        {"one damaged", {0, 1, -1, 3, 4, 5, 6, 7}, 1, 1},
    };
    rez::host::SummaryInput base;
    for (int i = 0; i < 6; ++i) base.rigMinimum[i] = -1, base.rigMaximum[i] = 1;
    for (int t = 0; t < 8; ++t) {
        RecordedTick tick;
        tick.tick = t;
        for (int i = 0; i < 6; ++i) tick.cues[i] = 0.1 * t + 0.01 * i;
        tick.cues[3] = t == 5 ? 7.0 : tick.cues[3];  // clamped to 1 in the frame
        base.ticks.push_back(tick);
    }
    for (const Case& c : cases) {
        rez::host::SummaryInput in = base;
        for (int id : c.sent) {
            rez::host::SeenFrame f;
            f.crcOk = true;
            const auto rig = rez::host::rigCuesOfTick(base.ticks[id < 0 ? 0 : static_cast<std::size_t>(id)],
                                                      base.rigMinimum, base.rigMaximum);
            for (int i = 0; i < 6; ++i) {
                std::uint32_t bits;
                std::memcpy(&bits, &rig[i], 4);
                if (id < 0) bits ^= 0x00010000u;
                for (int b = 0; b < 4; ++b) f.bytes[2 + 4 * i + b] = static_cast<std::uint8_t>(bits >> (8 * b));
            }
            in.frames.push_back(f);
        }
        const rez::host::Summary s = rez::host::summarize(in);
        EXPECT_EQ(s.lost, c.lost) << c.what;
        EXPECT_EQ(s.unmatched, c.unmatched) << c.what;
    }
}

// Each library thread's CPU over the window, from two samples of every thread.
TEST(Summary, ThreadCpuCountsOnlyWhatEachThreadSpentInTheWindow) {
    using T = rez::platform::ThreadCpu;
    struct Case {
        const char* what;
        std::vector<T> atStart, atEnd;
        const char* line;  // over a window of 10 s, where 1 s of CPU is 10 %
    };
    const Case cases[] = {
        {"in both samples", {{"rez-engine", 5'000'000'000, 7}}, {{"rez-engine", 6'000'000'000, 7}}, "engine 10.0  (all 10.0)"},
        {"began in the window", {}, {{"rez-link", 500'000'000, 8}}, "link 5.0  (all 5.0)"},
        {"ended in the window", {{"rez-fan", 1'000'000'000, 9}}, {}, "none seen"},
        {"two threads of one name", {{"rez-link", 1'000'000'000, 8}},
         {{"rez-link", 2'000'000'000, 8}, {"rez-link", 1'000'000'000, 3}}, "link 20.0  (all 20.0)"},
        {"an id given again", {{"rez-link", 9'000'000'000, 8}}, {{"rez-link", 1'000'000'000, 8}}, "link 10.0  (all 10.0)"},
        {"two names", {}, {{"rez-link", 600'000'000, 2}, {"rez-engine", 4'100'000'000, 1}},
         "engine 41.0, link 6.0  (all 47.0)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rez::host::formatThreadCpu(rez::host::threadCpuShares(c.atStart, c.atEnd, 10.0)),
                  std::string("CPU per library thread (% of one core): ") + c.line)
            << c.what;
}

}  // namespace
