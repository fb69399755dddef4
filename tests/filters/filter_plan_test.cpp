#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "filters/filter_parser.h"
#include "filters/filter_slot.h"
#include "tests/filters/chain_shape.h"

namespace rez {
namespace {

std::uint64_t bitsOf(double v) {
    std::uint64_t b = 0;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

struct Keyword {
    const char* name;
    int params;
};

// Every keyword, with how many numbers it takes.
const Keyword kKeywords[] = {
    {"EMALP", 1}, {"EMAHP", 1},    {"MUL", 1},   {"GAIN", 1},     {"LOGISTIC", 2},       {"CROP", 2},
    {"ROLLOVER", 1}, {"REMAP", 4}, {"NOISE", 3}, {"BITSCALE", 2}, {"BITSCALESIGNED", 2}, {"SINUS", 2},
    {"ABS", 0},   {"SETVALUE", 1}, {"ADD", 1},
};

// A random text of up to eight filters around VALUE, with parameters from
// ordinary to awkward (zero, negative, tiny, huge).
std::string randomChainText(std::mt19937& rng) {
    static const char* const kNumbers[] = {"0",    "1",   "-1",    "0,5",  "2.5",     "-3.75", "25",  "150",
                                           "0.001", "180", "1000000", "-0.25", "7",      "42.9",  "-2", "0x10",
                                           "3",    "1.5", "-10",   "10",   "0.3",     "80",    "12",  "-0x3"};
    const int depth = 1 + static_cast<int>(rng() % 8);
    std::string text = "VALUE";
    for (int d = 0; d < depth; ++d) {
        const Keyword& k = kKeywords[rng() % std::size(kKeywords)];
        text = std::string(k.name) + "(" + text;
        for (int p = 0; p < k.params; ++p) {
            std::string number = kNumbers[rng() % std::size(kNumbers)];
            if (std::string(k.name) == "NOISE" && p == 2) number = std::to_string(rng() % 100000);
            text += ";" + number;
        }
        text += ")";
    }
    return text;
}

double randomInput(std::mt19937& rng) {
    static const double kOdd[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity(), 0.0, -0.0, 1e300, -1e300,
                                  std::numeric_limits<double>::denorm_min(), 4e5, -7.5e7};
    const unsigned pick = rng() % 100;
    if (pick < 3) return kOdd[rng() % std::size(kOdd)];
    std::normal_distribution<double> ordinary(0.0, pick < 50 ? 2.0 : 200.0);
    return ordinary(rng);
}

// The same text parsed twice: one copy follows its plan, the other walks its
// nodes; over a long run of inputs every result and every piece of running
// state must agree bit for bit.
void expectPlanMatchesNodeWalk(const std::string& text, std::mt19937& rng, int evaluations) {
    SCOPED_TRACE(text);
    const auto planned = parseFilterString(text);
    const auto walked = parseFilterString(text);
    ASSERT_TRUE(planned->valid.load());
    ASSERT_TRUE(planned->hasPlan());
    const auto plannedNodes = test::chainNodes(planned);
    const auto walkedNodes = test::chainNodes(walked);
    ASSERT_EQ(planned->plan().size(), plannedNodes.size());
    for (int i = 0; i < evaluations; ++i) {
        const double x = randomInput(rng);
        const double a = planned->evaluate(x, 1.0, 1.0, 1.0);
        const double b = walked->evaluateByNodes(x, 1.0, 1.0, 1.0);
        ASSERT_EQ(bitsOf(a), bitsOf(b)) << "evaluation " << i << " input " << x << ": " << a << " vs " << b;
    }
    for (std::size_t n = 0; n < plannedNodes.size(); ++n) {
        EXPECT_EQ(std::memcmp(&plannedNodes[n]->filterState, &walkedNodes[n]->filterState, sizeof(float)), 0) << n;
        if (plannedNodes[n]->noise) {
            EXPECT_EQ(plannedNodes[n]->noise->phase, walkedNodes[n]->noise->phase);
            EXPECT_EQ(plannedNodes[n]->noise->nextTarget, walkedNodes[n]->noise->nextTarget);
        }
    }
}

TEST(FilterPlan, FollowsTheNodeWalkBitForBit) {
    std::mt19937 rng(20261207);
    // Every filter on its own over a long run (the generators over many
    // periods), then the kind of chains rig owners write, then random ones.
    for (const Keyword& k : kKeywords) {
        std::string text = std::string(k.name) + "(VALUE";
        const char* const params[] = {"4", "37", "12345", "2"};
        for (int p = 0; p < k.params; ++p) text += std::string(";") + params[p];
        expectPlanMatchesNodeWalk(text + ")", rng, 20'000);
    }
    for (const char* text : {"CROP(GAIN(EMAHP(EMALP(VALUE;25);150);1.5);-10;10)",
                             "LOGISTIC(EMAHP(EMALP(VALUE;8);150);12;1,2)", "ROLLOVER(GAIN(EMALP(VALUE;4);0.8);180)",
                             "ADD(NOISE(SINUS(VALUE;0.3;2);0.2;80;7);0.1)", "BITSCALE(ABS(EMALP(VALUE;40));60;255)",
                             "REMAP(CROP(EMALP(VALUE;12);-1;1);-1;1;-5;5)", "SINUS(VALUE;1;-1)", "VALUE"})
        expectPlanMatchesNodeWalk(text, rng, 20'000);
    for (int i = 0; i < 300; ++i) {
        std::string text;
        do text = randomChainText(rng);  // short smoothing lengths and empty remaps do not parse
        while (!parseFilterString(text)->valid.load());
        expectPlanMatchesNodeWalk(text, rng, 500);
    }
}

TEST(FilterPlan, ScaleFactorsReachThePlannedFilters) {
    std::mt19937 rng(5);
    const auto planned = parseFilterString("EMAHP(GAIN(EMALP(VALUE;10);2);30)");
    const auto walked = parseFilterString("EMAHP(GAIN(EMALP(VALUE;10);2);30)");
    for (int i = 0; i < 2000; ++i) {
        const double x = randomInput(rng);
        ASSERT_EQ(bitsOf(planned->evaluate(x, 0.5, 3.0, 0.01)), bitsOf(walked->evaluateByNodes(x, 0.5, 3.0, 0.01))) << i;
    }
}

TEST(FilterPlan, ARelinkedChainIsWalkedAsItNowIs) {
    // GAIN -> VALUE, then an ADD linked in below VALUE: the walk now starts
    // at ADD, so 3 becomes (3 + 1) * 2, not 3 * 2 as the old plan would say.
    const auto head = parseFilterString("GAIN(VALUE;2)");
    ASSERT_TRUE(head->hasPlan());
    appendFilter(head, FilterKind::ADD, 1, 0, 0, 0);
    EXPECT_FALSE(head->hasPlan());
    EXPECT_EQ(head->evaluate(3.0, 1, 1, 1), 8.0);

    // Linking a planned chain's tail under another node leaves the chain's
    // shape to the links as well.
    const auto second = parseFilterString("ADD(VALUE;5)");
    const auto outer = FilterSys::create(FilterKind::GAIN, 10);
    FilterSys::link(outer, second->nextNode());
    EXPECT_FALSE(second->hasPlan());
    EXPECT_EQ(second->evaluate(1.0, 1, 1, 1), second->evaluateByNodes(1.0, 1, 1, 1));
}

TEST(FilterPlan, TickHeadFollowsInstallsAndKeepsItsChainUntilItMovesOn) {
    FilterSlot slot(parseFilterString("GAIN(VALUE;3)"));
    FilterSys& first = slot.tickHead();
    EXPECT_EQ(slot.tickHead().evaluate(2.0, 1.0, 1.0, 1.0), 6.0);
    std::weak_ptr<FilterSys> old = slot.load();
    slot.store(parseFilterString("ADD(VALUE;1)"));
    // The host has let go; the tick's chain is still whole for its evaluation.
    ASSERT_FALSE(old.expired());
    EXPECT_EQ(first.evaluate(2.0, 1, 1, 1), 6.0);
    // The next tick picks up the new chain and lets go of the old one.
    EXPECT_EQ(slot.tickHead().evaluate(2.0, 1.0, 1.0, 1.0), 3.0);
    EXPECT_TRUE(old.expired());
    EXPECT_EQ(&slot.tickHead(), slot.load().get());
}

TEST(FilterPlan, TickEvaluationWhileTheHostKeepsInstalling) {
    // The tick evaluates through tickHead() in a tight loop while the host's
    // thread installs chains; every result comes from one whole chain.
    FilterSlot slot(parseFilterString("GAIN(VALUE;1)"));
    std::atomic<bool> done{false};
    std::atomic<long> evaluations{0};
    std::atomic<long> strange{0};
    std::thread tick([&] {
        while (!done.load(std::memory_order_acquire)) {
            const double v = slot.tickHead().evaluate(1.0, 1.0, 1.0, 1.0);
            if (!(v >= 0.0 && v <= 64.0)) strange.fetch_add(1);
            evaluations.fetch_add(1, std::memory_order_relaxed);
        }
    });
    for (int i = 0; i < 3000; ++i) {
        const int factor = 1 + i % 64;
        slot.store(parseFilterString(i % 2 ? "GAIN(VALUE;" + std::to_string(factor) + ")"
                                           : "GAIN(EMALP(NOISE(EMAHP(VALUE;3);0;100;" + std::to_string(i) + ");5);" +
                                                 std::to_string(factor) + ")"));
    }
    const long seen = evaluations.load();
    while (evaluations.load() < seen + 10) std::this_thread::yield();
    done.store(true, std::memory_order_release);
    tick.join();
    EXPECT_EQ(strange.load(), 0);
    EXPECT_EQ(slot.tickHead().evaluate(1.0, 1.0, 1.0, 1.0), 56.0) << "the last install, i = 2999";
}

}  // namespace
}  // namespace rez
