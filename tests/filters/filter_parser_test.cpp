#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "filters/filter_parser.h"
#include "tests/filters/chain_shape.h"

namespace rez {
namespace {

struct NodeSpec {
    FilterKind kind;
    float p1 = 0, p2 = 0, p3 = 0, p4 = 0;
};

struct GoodText {
    std::string text;
    std::vector<NodeSpec> nodes;  // head first
};

using K = FilterKind;

const std::vector<GoodText> kGoodTexts = {
    {"VALUE", {{K::VALUE}}},
    {"  \t VALUE \r\n\v\f", {{K::VALUE}}},
    {"GAIN(EMALP(VALUE;25);1.5)", {{K::GAIN, 1.5f}, {K::EMALP, 25}, {K::VALUE}}},
    {"gain(VALUE;2)", {{K::GAIN, 2}, {K::VALUE}}},
    {"  Gain \t(VALUE;2)", {{K::GAIN, 2}, {K::VALUE}}},
    {" GAIN(VALUE;2) ", {{K::GAIN, 2}, {K::VALUE}}},
    {"GAIN(VALUE;2)xyz", {{K::GAIN, 2}, {K::VALUE}}},
    {"GAIN(VALUE;2)(", {{K::GAIN, 2}, {K::VALUE}}},
    {"GAIN(ABS(VALUE);1;2)", {{K::GAIN, 2}, {K::ABS}, {K::VALUE}}},
    {"GAIN( abs (VALUE);2)", {{K::GAIN, 2}, {K::ABS}, {K::VALUE}}},
    {"ABS(VALUE)", {{K::ABS}, {K::VALUE}}},
    {"ABS(GAIN(VALUE;2))", {{K::ABS}, {K::GAIN, 2}, {K::VALUE}}},
    {"GAIN(VALUE; 2\t)", {{K::GAIN, 2}, {K::VALUE}}},
    {"GAIN(VALUE;1,5)", {{K::GAIN, 1.5f}, {K::VALUE}}},
    {"GAIN(VALUE;1.2.3)", {{K::GAIN, 1.2f}, {K::VALUE}}},
    {"GAIN(VALUE;5-1)", {{K::GAIN, 5}, {K::VALUE}}},
    {"GAIN(VALUE;+.5)", {{K::GAIN, 0.5f}, {K::VALUE}}},
    {"GAIN(VALUE;-,25)", {{K::GAIN, -0.25f}, {K::VALUE}}},
    {"GAIN(VALUE;5.)", {{K::GAIN, 5}, {K::VALUE}}},
    {"GAIN(VALUE;007)", {{K::GAIN, 7}, {K::VALUE}}},
    {"GAIN(VALUE;0x10)", {{K::GAIN, 16}, {K::VALUE}}},
    {"GAIN(VALUE;-0x10)", {{K::GAIN, -16}, {K::VALUE}}},
    {"GAIN(VALUE;0xfF)", {{K::GAIN, 255}, {K::VALUE}}},
    {"GAIN(VALUE;0xFFFFFFFF)", {{K::GAIN, 4294967295.0f}, {K::VALUE}}},
    {"GAIN(VALUE;0x0000000000FFFFFFFF)", {{K::GAIN, 4294967295.0f}, {K::VALUE}}},
    {"GAIN(VALUE;-0x100000000)", {{K::GAIN, -4294967296.0f}, {K::VALUE}}},
    {"GAIN(VALUE;-0x8000000000000000)", {{K::GAIN, -9223372036854775808.0f}, {K::VALUE}}},
    {"MUL(VALUE;-3)", {{K::MUL, -3}, {K::VALUE}}},
    {"EMALP(VALUE;1)", {{K::EMALP, 1}, {K::VALUE}}},
    {"EmaHp(VALUE;40)", {{K::EMAHP, 40}, {K::VALUE}}},
    {"LOGISTIC(VALUE;10;1)", {{K::LOGISTIC, 10, 1}, {K::VALUE}}},
    {"CROP(VALUE;-1;1)", {{K::CROP, -1, 1}, {K::VALUE}}},
    {"ROLLOVER(VALUE;180)", {{K::ROLLOVER, 180}, {K::VALUE}}},
    {"REMAP(VALUE;0;10;-5;100)", {{K::REMAP, 0, 10, -5, 100}, {K::VALUE}}},
    {"NOISE(VALUE;1;100;7)", {{K::NOISE, 1, 100, 7}, {K::VALUE}}},
    {"NOISE(VALUE;0.5;0;-1)", {{K::NOISE, 0.5f, 0, -1}, {K::VALUE}}},
    {"BITSCALE(VALUE;1;255)", {{K::BITSCALE, 1, 255}, {K::VALUE}}},
    {"BITSCALESIGNED(VALUE;1;127)", {{K::BITSCALESIGNED, 1, 127}, {K::VALUE}}},
    {"SINUS(VALUE;2;1)", {{K::SINUS, 2, 1}, {K::VALUE}}},
    {"SETVALUE(VALUE;3)", {{K::SETVALUE, 3}, {K::VALUE}}},
    {"ADD(VALUE;-2,5)", {{K::ADD, -2.5f}, {K::VALUE}}},
    {"ADD(MUL(CROP(VALUE;-1;1);2);0.5)", {{K::ADD, 0.5f}, {K::MUL, 2}, {K::CROP, -1, 1}, {K::VALUE}}},
    {"ROLLOVER(NOISE(SINUS(VALUE;1;2);3;4;5);6)",
     {{K::ROLLOVER, 6}, {K::NOISE, 3, 4, 5}, {K::SINUS, 1, 2}, {K::VALUE}}},
    // Numbers go through a double before they become floats.
    {"GAIN(VALUE;0.1)", {{K::GAIN, static_cast<float>(0.1)}, {K::VALUE}}},
    {"GAIN(VALUE;16777217)", {{K::GAIN, 16777216.0f}, {K::VALUE}}},
};

TEST(FilterParser, GoodTextsBuildTheWrittenChain) {
    for (const GoodText& good : kGoodTexts) {
        SCOPED_TRACE(good.text);
        const auto head = parseFilterString(good.text);
        ASSERT_TRUE(head);
        EXPECT_TRUE(head->valid.load());
        const auto nodes = test::chainNodes(head);
        ASSERT_EQ(nodes.size(), good.nodes.size());
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            SCOPED_TRACE(i);
            const NodeSpec& want = good.nodes[i];
            EXPECT_EQ(nodes[i]->kind, want.kind);
            EXPECT_EQ(nodes[i]->name, filterKindName(want.kind));
            EXPECT_EQ(nodes[i]->param1, want.p1);
            EXPECT_EQ(nodes[i]->param2, want.p2);
            EXPECT_EQ(nodes[i]->param3, want.p3);
            EXPECT_EQ(nodes[i]->param4, want.p4);
            EXPECT_EQ(nodes[i]->filterState, 0.0f);
            EXPECT_EQ(nodes[i]->noise != nullptr, want.kind == K::NOISE);
            // The back links mirror the forward links.
            EXPECT_EQ(nodes[i]->prevNode(), i == 0 ? nullptr : nodes[i - 1]);
            if (i > 0) {
                EXPECT_FALSE(nodes[i]->valid.load());
            }
        }
        EXPECT_EQ(head->tailNode(), nodes.back());
    }
}

const std::vector<std::string> kBadTexts = {
    "",
    "   ",
    "value",
    "Value",
    "VALUE;",
    "GAIN(VALUE ;2)",
    "GAIN( VALUE;2)",
    "GAIN(VALUE;2;3)",
    "GAIN(VALUE;1;2)",
    "CROP(VALUE;1)",
    "GAIN(VALUE;)",
    "GAIN(VALUE)",
    "GAIN(VALUE;2))",
    "GAIN(VALUE;2",
    "GAIN VALUE;2",
    ")GAIN(VALUE;2(",
    "(VALUE;2)",
    "GAIN(;2)",
    "ABS()",
    "ABS(VALUE;3)",
    "ABS(VALUE; 0x1)",
    "GAIN(VALUE;1e3)",
    "GAIN(VALUE;1E3)",
    "GAIN(VALUE;1 5)",
    "GAIN(VALUE;-)",
    "GAIN(VALUE;+)",
    "GAIN(VALUE;.)",
    "GAIN(VALUE;,)",
    "GAIN(VALUE;+-1)",
    "GAIN(VALUE;inf)",
    "GAIN(VALUE;nan)",
    "GAIN(VALUE;(2))",
    "GAIN(VALUE;0X10)",
    "GAIN(VALUE;0x100000000)",
    "GAIN(VALUE;0x)",
    "GAIN(VALUE;-0x)",
    "GAIN(VALUE;0x1g)",
    "GAIN(VALUE;0x1.8)",
    "GAIN(VALUE;+0x10)",
    "GAIN(VALUE;--0x10)",
    "GAIN(VALUE;-0x8000000000000001)",
    "GAIN(VALUE;0x 10)",
    "EMALP(VALUE;0.5)",
    "EMALP(VALUE;0)",
    "EMAHP(VALUE;-4)",
    "EMALP(VALUE;0.99999999999)",
    "REMAP(VALUE;1;1;0;10)",
    "REMAP(VALUE;1;1.0000000001;0;10)",
    "REMAP(VALUE;0;10;0)",
    "NOISE(VALUE;1;100)",
    "FOO(VALUE;1)",
    "VALUE(1)",
    "GAIN(FOO(VALUE;1);2)",
    "GAIN(GAIN(VALUE;2);x)",
    "BITSCALESIGNEDX(VALUE;1;2)",
    "GAIN(EMALP(VALUE;25);1.5",
    "GAIN(VALUE;" + std::string(400, '9') + ")",
    "GAIN(VALUE;0." + std::string(400, '0') + "1)",
    std::string("GAIN\0(VALUE;2)", 14),
    std::string("VALUE\0", 6),
    std::string("GAIN(VALUE;2\0)", 14),
};

TEST(FilterParser, BadTextsGiveAFreshInvalidNode) {
    std::shared_ptr<FilterSys> previous;
    for (const std::string& text : kBadTexts) {
        SCOPED_TRACE(testing::PrintToString(text));
        const auto node = parseFilterString(text);
        ASSERT_TRUE(node);
        EXPECT_FALSE(node->valid.load());
        EXPECT_EQ(node->kind, FilterKind::VALUE);
        EXPECT_EQ(node->name, "");
        EXPECT_EQ(node->param1, 0.0f);
        EXPECT_EQ(node->param2, 0.0f);
        EXPECT_EQ(node->param3, 0.0f);
        EXPECT_EQ(node->param4, 0.0f);
        EXPECT_EQ(node->nextNode(), nullptr);
        EXPECT_EQ(node->prevNode(), nullptr);
        EXPECT_EQ(node->noise, nullptr);
        EXPECT_NE(node, previous);
        EXPECT_EQ(node->evaluate(5.0, 1, 1, 1), 0.0);
        previous = node;
    }
}

TEST(FilterParser, SmallestAndLargestDecimalsAtTheEdgeOfTheDoubleRange) {
    // The largest double written out in full is accepted (and becomes an
    // infinite float); the next digit beyond it is not.
    const std::string maxDouble =
        "179769313486231570814527423731704356798070567525844996598917476803157260780028538760589558632766878171540"
        "458953514382464234321326889464182768467546703537516986049910576551282076245490090389328944075868508455133"
        "942304583236903222948165808559332123348274797826204144723168738177180919299881250404026184124858368";
    const auto big = parseFilterString("GAIN(VALUE;" + maxDouble + ")");
    ASSERT_TRUE(big->valid.load());
    EXPECT_TRUE(std::isinf(big->param1));
    EXPECT_FALSE(parseFilterString("GAIN(VALUE;" + maxDouble + "0)")->valid.load());
    EXPECT_TRUE(parseFilterString("GAIN(VALUE;0." + std::string(300, '0') + "1)")->valid.load());
}

struct TrailingNumberCase {
    std::string args;
    bool ok;
    double number;
    std::string rest;  // the argument text afterwards
};

TEST(FilterParser, TakeTrailingNumber) {
    const std::vector<TrailingNumberCase> cases = {
        {"VALUE;2", true, 2, "VALUE"},
        {"a;b;-3.5", true, -3.5, "a;b"},
        {"x;  -1,25 \t", true, -1.25, "x"},
        {";5", true, 5, ""},
        {"x;0xFFFFFFFF", true, 4294967295.0, "x"},
        {"x;-0x7fffffffffffffff", true, -9223372036854775807.0, "x"},
        {"x;1.2.3", true, 1.2, "x"},
        {"VALUE;", false, 0, "VALUE;"},
        {"VALUE", false, 0, "VALUE"},
        {"", false, 0, ""},
        {"x; ", false, 0, "x; "},
        {"x;2)", false, 0, "x;2)"},
        {"x;0x", false, 0, "x;0x"},
        {"x;1e3", false, 0, "x;1e3"},
        {"x;1;", false, 0, "x;1;"},
        {"x;0x100000000", false, 0, "x;0x100000000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        std::string_view args = c.args;
        double number = -777;
        EXPECT_EQ(takeTrailingNumber(args, number), c.ok);
        EXPECT_EQ(std::string(args), c.rest);
        EXPECT_EQ(number, c.ok ? c.number : -777);
    }
}

TEST(FilterParser, AppendFilterAddsAtTheInnerEnd) {
    auto chain = appendFilter(nullptr, FilterKind::GAIN, 2.0, 0, 0, 0);
    const auto head = chain;
    chain = appendFilter(chain, FilterKind::NOISE, 1.0, 100.0, 7.9, 0);
    chain = appendFilter(chain, static_cast<FilterKind>(99), 0.1, 0, 0, 0);
    chain = appendFilter(chain, FilterKind::VALUE, 0, 0, 0, 0);
    EXPECT_EQ(chain, head);
    const auto nodes = test::chainNodes(chain);
    ASSERT_EQ(nodes.size(), 4u);
    EXPECT_EQ(nodes[0]->name, "GAIN");
    EXPECT_EQ(nodes[1]->name, "NOISE");
    ASSERT_TRUE(nodes[1]->noise);
    EXPECT_EQ(nodes[1]->noise->amplitude, 1.0f);
    EXPECT_EQ(nodes[1]->noise->period, 100.0f);
    EXPECT_EQ(nodes[2]->name, "UNKNOWN");
    EXPECT_EQ(nodes[2]->param1, 0.1f);
    EXPECT_EQ(nodes[3]->kind, FilterKind::VALUE);
    for (std::size_t i = 1; i < nodes.size(); ++i) EXPECT_EQ(nodes[i]->prevNode(), nodes[i - 1]);
    // Built by hand, the chain is not valid until someone says so.
    EXPECT_EQ(chain->evaluate(3.0, 1, 1, 1), 0.0);
    chain->valid = true;
    // The unknown kind passes its value on; the noise adds 0.02 of its first target.
    EXPECT_NEAR(chain->evaluate(3.0, 1, 1, 1), 6.0, 0.05);
}

std::string nested(const std::string& open, int depth, const std::string& close) {
    std::string text;
    text.reserve((open.size() + close.size()) * static_cast<std::size_t>(depth) + 5);
    for (int i = 0; i < depth; ++i) text += open;
    text += "VALUE";
    for (int i = 0; i < depth; ++i) text += close;
    return text;
}

TEST(FilterParser, DeeplyNestedTextsParseEvaluateAndRelease) {
    // Far deeper than any real filter; what matters is that parsing stays
    // linear and that releasing the chain does not recurse once per node.
    constexpr int depth = 100'000;
    {
        auto head = parseFilterString(nested("ABS(", depth, ")"));
        ASSERT_TRUE(head->valid.load());
        EXPECT_EQ(head->evaluate(-3.0, 1, 1, 1), 3.0);
        EXPECT_EQ(test::chainNodes(head).size(), static_cast<std::size_t>(depth) + 1);
    }
    {
        auto head = parseFilterString(nested("ADD(", depth, ";0x1)"));
        ASSERT_TRUE(head->valid.load());
        EXPECT_EQ(head->evaluate(0.5, 1, 1, 1), depth + 0.5);
        head.reset();
    }
    // One ')' too many moves every level's last ')' outward by one, until the
    // innermost argument reads "VALUE)".
    EXPECT_FALSE(parseFilterString(nested("ABS(", depth, ")") + ")")->valid.load());
}

}  // namespace
}  // namespace rez
