#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "filters/filter_parser.h"
#include "tests/filters/chain_shape.h"

namespace rez {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::shared_ptr<FilterSys> parseGood(const std::string& text) {
    auto head = parseFilterString(text);
    EXPECT_TRUE(head->valid.load()) << text;
    return head;
}

double run(const std::shared_ptr<FilterSys>& head, double input) { return head->evaluate(input, 1, 1, 1); }

struct Sample {
    double input;
    double expected;
};

struct StatelessCase {
    std::string text;
    std::vector<Sample> samples;
};

TEST(FilterOperations, StatelessFiltersMapInputsToOutputs) {
    const std::vector<StatelessCase> cases = {
        {"VALUE", {{1.25, 1.25}, {-7e10, -7e10}, {0.0, 0.0}}},
        {"GAIN(VALUE;1.5)", {{2, 3}, {-4, -6}}},
        {"MUL(VALUE;-2)", {{2, -4}}},
        {"ADD(VALUE;2.5)", {{1, 3.5}}},
        {"SETVALUE(VALUE;3)", {{-100, 3}, {kNaN, 3}}},
        {"ABS(VALUE)", {{-4, 4}, {4, 4}}},
        {"CROP(VALUE;-1;1)", {{-5, -1}, {0.5, 0.5}, {7, 1}, {-kInf, -1}}},
        {"CROP(VALUE;2;1)", {{-5, 2}, {1.5, 2}, {7, 2}}},
        {"ROLLOVER(VALUE;10)", {{12, 8}, {25, -5}, {-13, -7}, {10, 10}, {-10, -10}, {3, 3}, {45, 5}, {-31, 9}}},
        {"REMAP(VALUE;0;10;0;100)", {{5, 50}, {15, 150}, {-1, -10}}},
        {"REMAP(VALUE;10;0;-1;1)", {{10, -1}, {0, 1}, {5, 0}}},
        // Bounds 1e10 and 1e10+1 differ as doubles but not as floats: the
        // value passes through unchanged.
        {"REMAP(VALUE;10000000000;10000000001;0;1)", {{5, 5}}},
        {"BITSCALE(VALUE;1;255)", {{-0.5, 0}, {0.5, 127.5}, {3, 255}, {1, 255}}},
        {"BITSCALE(VALUE;0;255)", {{0.5, 0}, {-3, 0}}},
        {"BITSCALESIGNED(VALUE;1;127)", {{-2, -127}, {0.5, 63.5}, {3, 127}, {-0.5, -63.5}}},
        {"BITSCALESIGNED(VALUE;0;127)", {{0.5, 0}}},
        {"LOGISTIC(VALUE;10;1)", {{0, 0}, {1e7, 10}, {-1e7, -10}}},
        {"LOGISTIC(VALUE;0;1)", {{5, 1e-9}, {-5, -1e-9}, {0, 0}}},
        {"ADD(GAIN(VALUE;2);1)", {{3, 7}}},
        {"GAIN(ADD(VALUE;1);2)", {{3, 8}}},
        {"GAIN(ABS(ADD(VALUE;-10));-1)", {{3, -7}}},
    };
    for (const auto& c : cases) {
        const auto head = parseGood(c.text);
        for (const Sample& s : c.samples) {
            SCOPED_TRACE(c.text + " input " + std::to_string(s.input));
            EXPECT_DOUBLE_EQ(run(head, s.input), s.expected);
        }
    }
}

TEST(FilterOperations, NaNInputsPassThroughComparisons) {
    for (const char* text : {"CROP(VALUE;-1;1)", "BITSCALE(VALUE;1;255)", "ROLLOVER(VALUE;10)", "LOGISTIC(VALUE;10;1)"}) {
        SCOPED_TRACE(text);
        EXPECT_TRUE(std::isnan(run(parseGood(text), kNaN)));
    }
}

TEST(FilterOperations, LogisticIsAScaledTanh) {
    for (double limit : {10.0, 0.5, 180.0, -3.0}) {
        for (double slope : {1.0, 2.5, 0.1}) {
            const auto head = parseGood("LOGISTIC(VALUE;" + std::to_string(limit) + ";" + std::to_string(slope) + ")");
            for (double x : {-50.0, -1.0, -0.01, 0.003, 0.7, 4.0, 33.0}) {
                SCOPED_TRACE(std::to_string(limit) + " " + std::to_string(slope) + " " + std::to_string(x));
                const double l = head->param1;
                const double s = head->param2;
                EXPECT_NEAR(run(head, x), l * std::tanh(s * x / l), 1e-12 * std::fabs(l) + 1e-15);
            }
        }
    }
    // Slope at zero is the slope parameter: tiny inputs come out scaled by it.
    EXPECT_NEAR(run(parseGood("LOGISTIC(VALUE;10;1)"), 0.01), 0.01, 1e-8);
}

TEST(FilterOperations, EmaSequencesFromRest) {
    struct Sequence {
        std::string text;
        std::vector<double> outputs;  // for a constant input of 1
    };
    const std::vector<Sequence> sequences = {
        {"EMALP(VALUE;4)", {0.25, 0.4375, 0.578125, 0.68359375}},
        {"EMAHP(VALUE;4)", {0.75, 0.5625, 0.421875, 0.31640625}},
        {"EMALP(VALUE;1)", {1, 1, 1}},
        // The running value is a float: a third of 1 is the float nearest it.
        {"EMALP(VALUE;3)", {static_cast<double>(1.0f / 3.0f)}},
        {"EMAHP(VALUE;3)", {1.0 - static_cast<double>(1.0f / 3.0f)}},
    };
    for (const auto& seq : sequences) {
        SCOPED_TRACE(seq.text);
        const auto head = parseGood(seq.text);
        for (double want : seq.outputs) EXPECT_EQ(run(head, 1.0), want);
    }
    // Long runs settle on the input.
    const auto lp = parseGood("EMALP(VALUE;25)");
    const auto hp = parseGood("EMAHP(VALUE;25)");
    for (int i = 0; i < 2000; ++i) {
        run(lp, 2.0);
        run(hp, 2.0);
    }
    EXPECT_NEAR(run(lp, 2.0), 2.0, 1e-5);
    EXPECT_NEAR(run(hp, 2.0), 0.0, 1e-5);
}

TEST(FilterOperations, SinusRunsOneCycleIn500Evaluations) {
    const auto head = parseGood("SINUS(VALUE;2;1)");
    // The phase is kept as a float, so the first value is the float phase's sine.
    volatile float firstPhase = static_cast<float>(1.0 * 6.283185307179586 * 0.002);
    const double first = 2.0 * static_cast<double>(std::sin(static_cast<float>(firstPhase)));
    std::vector<double> values;
    for (int i = 0; i < 1000; ++i) values.push_back(run(head, 1000.0 * i));
    EXPECT_EQ(values[0], first);
    EXPECT_NEAR(values[124], 2.0, 1e-3);   // quarter cycle
    EXPECT_NEAR(values[249], 0.0, 1e-3);   // half
    EXPECT_NEAR(values[374], -2.0, 1e-3);  // three quarters
    EXPECT_NEAR(values[499], 0.0, 1e-3);   // full
    for (int i = 0; i < 400; ++i) EXPECT_NEAR(values[static_cast<std::size_t>(i + 500)], values[static_cast<std::size_t>(i)], 2e-3);
    // The phase wraps, so it stays within one cycle.
    EXPECT_LE(head->filterState, 6.2831855f);
    EXPECT_GE(head->filterState, 0.0f);
}

TEST(FilterOperations, SinusWithNegativeFrequencyCountsDownWithoutWrapping) {
    const auto head = parseGood("SINUS(VALUE;1;-1)");
    double v = 0;
    for (int i = 0; i < 1000; ++i) v = run(head, 0);
    EXPECT_NEAR(head->filterState, -4.0 * 3.14159265, 1e-3);
    EXPECT_NEAR(v, 0.0, 1e-3);
}

std::vector<float> referenceTargets(std::uint32_t seed, int count) {
    // Independent reading of the draw: a standard MT19937 output u as a
    // float, times 2^-32, mapped from [0, 1] to [-1, 1] in single precision.
    std::mt19937 mt(seed);
    std::vector<float> targets;
    for (int i = 0; i < count; ++i) {
        const float t = static_cast<float>(static_cast<std::uint32_t>(mt())) * (1.0f / 4294967296.0f);
        targets.push_back(-1.0f + 2.0f * t);
    }
    return targets;
}

TEST(FilterOperations, NoiseReachesItsSeededTargetsEveryHalfPeriod) {
    const auto head = parseGood("NOISE(VALUE;1;100;7)");
    const auto targets = referenceTargets(7, 6);
    std::vector<double> out;
    for (int i = 0; i < 250; ++i) out.push_back(run(head, 0.0));
    // The interpolation starts from 0.
    EXPECT_EQ(out[0], static_cast<double>(0.02f * targets[0]));
    // Every 50 evaluations the signal sits exactly on the next target.
    for (int k = 1; k <= 5; ++k) EXPECT_EQ(out[static_cast<std::size_t>(50 * k - 1)], static_cast<double>(targets[static_cast<std::size_t>(k - 1)])) << k;
    // In between it moves in a straight line.
    for (int i = 50; i < 99; ++i) {
        const double t = (i - 49) / 50.0;
        EXPECT_NEAR(out[static_cast<std::size_t>(i)], (1 - t) * targets[0] + t * targets[1], 1e-6) << i;
    }
}

TEST(FilterOperations, NoiseSeedIsTheTruncatedParameterLowWord) {
    // MT19937 with the standard seed 5489 first gives 3499211612, which as a
    // float is 3499211520. A period of 2 lands on a new target every time.
    const auto standard = parseGood("NOISE(VALUE;1;2;5489)");
    EXPECT_EQ(run(standard, 0.0), static_cast<double>(-1.0f + 2.0f * (3499211520.0f / 4294967296.0f)));

    auto firstValues = [](const std::string& text) {
        const auto head = parseGood(text);
        std::vector<double> v;
        for (int i = 0; i < 300; ++i) v.push_back(run(head, 0.0));
        return v;
    };
    EXPECT_EQ(firstValues("NOISE(VALUE;1;10;42.9)"), firstValues("NOISE(VALUE;1;10;42)"));
    EXPECT_EQ(firstValues("NOISE(VALUE;1;10;-0.7)"), firstValues("NOISE(VALUE;1;10;0)"));
    EXPECT_NE(firstValues("NOISE(VALUE;1;10;42)"), firstValues("NOISE(VALUE;1;10;43)"));
    EXPECT_EQ(NoiseLayer::seedFromParam(-1.0f), 4294967295u);
    EXPECT_EQ(NoiseLayer::seedFromParam(4294967296.0f), 0u);
    EXPECT_EQ(NoiseLayer::seedFromParam(4294967296.0f * 3 + 1024), 1024u);
    EXPECT_EQ(NoiseLayer::seedFromParam(1e30f), 0u);
    EXPECT_EQ(NoiseLayer::seedFromParam(std::numeric_limits<float>::quiet_NaN()), 0u);
    const auto seededMinusOne = parseGood("NOISE(VALUE;1;2;-1)");
    EXPECT_EQ(run(seededMinusOne, 0.0), static_cast<double>(referenceTargets(4294967295u, 1)[0]));
}

TEST(FilterOperations, NoiseChainsWithEqualParametersAgreeAndStayWithinAmplitude) {
    const auto a = parseGood("ADD(NOISE(VALUE;3;37;12345);0)");
    const auto b = parseGood("ADD(NOISE(VALUE;3;37;12345);0)");
    for (int i = 0; i < 20'000; ++i) {
        const double va = run(a, 0.0);
        ASSERT_EQ(va, run(b, 0.0)) << i;
        ASSERT_LE(std::fabs(va), 3.0 * (1 + 1e-6)) << i;
    }
}

TEST(FilterOperations, NoiseWithAPeriodBelowOneStepStaysBounded) {
    // Periods the signal cannot show run as the shortest it can: a new
    // target on every evaluation, exactly as a period of 2.
    const auto reference = parseGood("NOISE(VALUE;2;2;99)");
    std::vector<std::shared_ptr<FilterSys>> odd = {parseGood("NOISE(VALUE;2;1.5;99)"), parseGood("NOISE(VALUE;2;0;99)"),
                                                   parseGood("NOISE(VALUE;2;-5;99)")};
    auto nanPeriod = appendFilter(nullptr, FilterKind::NOISE, 2, kNaN, 99, 0);
    appendFilter(nanPeriod, FilterKind::VALUE, 0, 0, 0, 0);
    nanPeriod->valid = true;
    odd.push_back(nanPeriod);
    for (int i = 0; i < 5000; ++i) {
        const double want = run(reference, 1.0);
        ASSERT_LE(std::fabs(want - 1.0), 2.0);
        for (const auto& head : odd) ASSERT_EQ(run(head, 1.0), want) << i;
    }
}

// The band fold written as a loop of reflections, for inputs near the band.
double reflectLoop(double a, double r) {
    while (a > r || a < -r) a = a > 0 ? r - (a - r) : -r - (r + a);
    return a;
}

TEST(FilterOperations, RolloverMatchesTheReflectionLoopNearTheBand) {
    std::mt19937_64 rng(2024);
    for (double r : {10.0, 0.3, 180.0, 1e-3, 7.25e5}) {
        const auto head = parseGood("ROLLOVER(VALUE;" + std::to_string(r) + ")");
        const double limit = head->param1;
        std::uniform_real_distribution<double> near(-300.0 * limit, 300.0 * limit);
        for (int i = 0; i < 20'000; ++i) {
            const double x = near(rng);
            const double got = run(head, x);
            const double want = reflectLoop(x, limit);
            if (std::fabs(x) <= 64 * limit)
                ASSERT_EQ(got, want) << x;
            else  // the loop's own rounding adds up over many passes
                ASSERT_NEAR(got, want, 1e-12 * std::fabs(x)) << x;
            ASSERT_LE(std::fabs(got), limit);
        }
    }
}

TEST(FilterOperations, RolloverFarOutsideTheBandIsExact) {
    struct Far {
        double input;
        double expected;
    };
    const double period = 40.0;  // four band widths of ROLLOVER(VALUE;10)
    const std::vector<Far> cases = {
        {12 + period * 1e6, 8},   {25 + period * 3e6, -5},   {-13 - period * 7e6, -7},
        {12 + period * 1e13, 8},  {30 + period * 2.5e6, -10}, {-10 - period * 1e9, -10},
        {20 + period * 1e12, 0},
    };
    const auto head = parseGood("ROLLOVER(VALUE;10)");
    for (const Far& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(run(head, c.input), c.expected);
    }
    EXPECT_LE(std::fabs(run(head, -std::numeric_limits<double>::max())), 10.0);
    // 2^1000 is 1 more than a multiple of 3, the period of a band of 0.75.
    const auto narrow = parseGood("ROLLOVER(VALUE;0.75)");
    EXPECT_EQ(run(narrow, std::ldexp(1.0, 1000)), 0.5);
    EXPECT_EQ(run(narrow, -std::ldexp(1.0, 1000)), -0.5);
}

TEST(FilterOperations, RolloverWithoutABandOrWithInfiniteInputsStaysFinite) {
    struct Case {
        std::string text;
        double input;
        double expected;
    };
    const std::vector<Case> cases = {
        {"ROLLOVER(VALUE;0)", 5, 0},        {"ROLLOVER(VALUE;0)", -3, 0},        {"ROLLOVER(VALUE;0)", 0, 0},
        {"ROLLOVER(VALUE;-10)", 12, 8},     {"ROLLOVER(VALUE;-10)", -13, -7},    {"ROLLOVER(VALUE;-10)", 4, 4},
        {"ROLLOVER(VALUE;10)", kInf, 0},    {"ROLLOVER(VALUE;10)", -kInf, 0},    {"ROLLOVER(VALUE;0)", kInf, 0},
        {"ROLLOVER(VALUE;-0)", 1e300, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text + " " + std::to_string(c.input));
        EXPECT_EQ(run(parseGood(c.text), c.input), c.expected);
    }
}

TEST(FilterOperations, InvalidChainGivesZeroAndKeepsItsState) {
    const auto head = parseGood("EMALP(SINUS(VALUE;1;5);4)");
    const auto sinus = head->nextNode();
    run(head, 0);
    run(head, 0);
    const float lowPass = head->filterState;
    const float phase = sinus->filterState;
    head->valid = false;
    for (double x : {1.0, -5.0, 1e9, kNaN}) EXPECT_EQ(run(head, x), 0.0);
    EXPECT_EQ(head->filterState, lowPass);
    EXPECT_EQ(sinus->filterState, phase);
    head->valid = true;
    run(head, 0);
    EXPECT_NE(head->filterState, lowPass);

    const auto lp = parseGood("EMALP(VALUE;4)");
    run(lp, 1);
    lp->valid = false;
    run(lp, 1);
    lp->valid = true;
    EXPECT_EQ(run(lp, 1), 0.4375);
}

TEST(FilterOperations, AWalkStopsWhereTheOuterChainWasReleased) {
    auto head = parseGood("GAIN(ADD(ABS(VALUE);1);2)");
    auto middle = head->nextNode();
    const auto tail = head->tailNode();
    head.reset();
    // The released head's inner nodes that someone still holds stay linked
    // below that holder; above it there is nothing left.
    EXPECT_EQ(middle->prevNode(), nullptr);
    ASSERT_EQ(middle->nextNode(), tail->prevNode());
    EXPECT_EQ(tail->prevNode()->prevNode(), middle);
    middle.reset();
    EXPECT_EQ(tail->prevNode(), nullptr);
}

}  // namespace
}  // namespace rez
