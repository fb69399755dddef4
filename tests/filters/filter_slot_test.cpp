#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "filters/filter_parser.h"
#include "filters/filter_slot.h"

namespace rez {
namespace {

TEST(FilterSlot, StartsAsAPassThroughChain) {
    FilterSlot slot;
    const auto head = slot.load();
    ASSERT_TRUE(head);
    EXPECT_TRUE(head->valid.load());
    EXPECT_EQ(head->kind, FilterKind::VALUE);
    EXPECT_EQ(slot.evaluate(-2.5), -2.5);
    // Each slot parses its own chain.
    FilterSlot other;
    EXPECT_NE(other.load(), head);
}

TEST(FilterSlot, StoreReplacesAndIgnoresEmpty) {
    FilterSlot slot;
    slot.store(parseFilterString("GAIN(VALUE;3)"));
    EXPECT_EQ(slot.evaluate(2), 6);
    slot.store(nullptr);
    EXPECT_EQ(slot.evaluate(2), 6);
    std::weak_ptr<FilterSys> old = slot.load();
    slot.store(parseFilterString("ADD(VALUE;1)"));
    EXPECT_TRUE(old.expired());
    EXPECT_EQ(slot.evaluate(2), 3);
}

TEST(FilterSlot, ReplacingWhileAnotherThreadEvaluates) {
    // The game-source thread evaluates in a tight loop while the host's
    // thread keeps installing new chains; every result must come from one
    // whole chain, never a released one.
    FilterSlot slot(parseFilterString("GAIN(VALUE;1)"));
    std::atomic<bool> done{false};
    std::atomic<long> evaluations{0};
    std::atomic<long> strange{0};
    std::thread evaluator([&] {
        while (!done.load(std::memory_order_acquire)) {
            const double v = slot.evaluate(1.0);
            // GAIN chains give their factor; the smoothing chains give
            // something between 0 and the factor.
            if (!(v >= 0.0 && v <= 64.0)) strange.fetch_add(1);
            evaluations.fetch_add(1, std::memory_order_relaxed);
        }
    });
    constexpr int installs = 4000;
    for (int i = 0; i < installs; ++i) {
        const int factor = 1 + i % 64;
        const std::string text = i % 2 ? "GAIN(VALUE;" + std::to_string(factor) + ")"
                                       : "GAIN(EMALP(NOISE(EMAHP(VALUE;3);0;100;" + std::to_string(i) + ");5);" +
                                             std::to_string(factor) + ")";
        slot.store(parseFilterString(text));
    }
    // Let the evaluator see the last chain at least once.
    const long seen = evaluations.load();
    while (evaluations.load() < seen + 10) std::this_thread::yield();
    done.store(true, std::memory_order_release);
    evaluator.join();
    EXPECT_EQ(strange.load(), 0);
    EXPECT_GT(evaluations.load(), 10);
    EXPECT_EQ(slot.load()->param1, 32.0f);  // the last install, i = 3999
}

TEST(FilterSlot, ReleasingAChainBeingWalkedByAnotherThread) {
    // The only reference to the chain is dropped by one thread while the
    // other walks it from a node it holds: the walk ends early and nothing
    // is touched after release.
    for (int round = 0; round < 200; ++round) {
        auto head = parseFilterString("ADD(ADD(ADD(ADD(ADD(ADD(ADD(ADD(VALUE;1);1);1);1);1);1);1);1)");
        auto tail = head->tailNode();
        std::atomic<bool> go{false};
        std::thread walker([&] {
            while (!go.load()) std::this_thread::yield();
            int steps = 0;
            for (auto node = tail; node; node = node->prevNode()) ++steps;
            EXPECT_GE(steps, 1);
            EXPECT_LE(steps, 9);
        });
        go.store(true);
        head.reset();
        walker.join();
    }
}

}  // namespace
}  // namespace rez
