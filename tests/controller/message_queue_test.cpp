#include "controller/message_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <thread>
#include <vector>

#include "core/bytes.h"

namespace rez {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(MessageQueue, FirstInFirstOutWithinCapacity) {
    MessageQueue queue(3);
    EXPECT_TRUE(queue.empty());
    EXPECT_FALSE(queue.front().has_value());
    EXPECT_FALSE(queue.popFront());
    EXPECT_FALSE(queue.takeFront().has_value());

    EXPECT_TRUE(queue.push(Bytes{1}));
    EXPECT_TRUE(queue.push(Bytes{2, 2}));
    const Bytes third{3, 3, 3};
    EXPECT_TRUE(queue.push(std::span<const std::uint8_t>(third)));
    EXPECT_FALSE(queue.push(Bytes{4})) << "a full queue refuses";
    EXPECT_EQ(queue.size(), 3u);

    EXPECT_EQ(queue.front(), Bytes{1});
    EXPECT_EQ(queue.size(), 3u) << "front only looks";
    EXPECT_TRUE(queue.popFront());
    EXPECT_EQ(queue.takeFront(), (Bytes{2, 2}));
    EXPECT_TRUE(queue.push(Bytes{5}));
    EXPECT_EQ(queue.takeFront(), third);
    EXPECT_EQ(queue.takeFront(), Bytes{5});
    EXPECT_TRUE(queue.empty());

    EXPECT_TRUE(queue.push(Bytes{6}));
    EXPECT_TRUE(queue.push(Bytes{7}));
    queue.clear();
    EXPECT_EQ(queue.size(), 0u);
    EXPECT_TRUE(queue.push(Bytes{8}));
    EXPECT_EQ(queue.front(), Bytes{8});
}

TEST(MessageQueue, ConcurrentProducersNeverOverfillIt) {
    MessageQueue queue(150);
    std::atomic<int> accepted{0};
    std::vector<std::thread> producers;
    for (int t = 0; t < 8; ++t) {
        producers.emplace_back([&] {
            for (int i = 0; i < 100; ++i) {
                if (queue.push(Bytes{0x0A, 0x0D})) ++accepted;
            }
        });
    }
    for (auto& t : producers) t.join();
    EXPECT_EQ(accepted.load(), 150);
    EXPECT_EQ(queue.size(), 150u);
}

// Producers tag each message with their id and a sequence number; every
// message must come out exactly once, and each producer's messages in order.
TEST(MessageQueue, ConcurrentProducersAndConsumersLoseNothing) {
    constexpr int kProducers = 4;
    constexpr int kConsumers = 2;
    constexpr std::uint32_t kPerProducer = 3000;
    MessageQueue queue(16);

    std::atomic<int> producersDone{0};
    std::vector<std::thread> threads;
    for (int p = 0; p < kProducers; ++p) {
        threads.emplace_back([&, p] {
            for (std::uint32_t seq = 0; seq < kPerProducer; ++seq) {
                Bytes message(5);
                message[0] = static_cast<std::uint8_t>(p);
                store_le(message.data() + 1, seq);
                while (!queue.push(std::span<const std::uint8_t>(message))) std::this_thread::yield();
            }
            ++producersDone;
        });
    }
    std::vector<std::vector<Bytes>> received(kConsumers);
    std::atomic<bool> overfilled{false};
    for (int c = 0; c < kConsumers; ++c) {
        threads.emplace_back([&, c] {
            for (;;) {
                if (queue.size() > queue.capacity()) overfilled = true;
                const bool finished = producersDone.load() == kProducers;
                if (auto m = queue.takeFront()) {
                    received[c].push_back(std::move(*m));
                } else if (finished) {
                    return;
                } else {
                    std::this_thread::yield();
                }
            }
        });
    }
    for (auto& t : threads) t.join();

    EXPECT_FALSE(overfilled.load());
    std::map<int, std::vector<bool>> seen;
    for (int p = 0; p < kProducers; ++p) seen[p].assign(kPerProducer, false);
    std::size_t total = 0;
    for (const auto& mine : received) {
        std::map<int, std::int64_t> last;
        for (const Bytes& m : mine) {
            ASSERT_EQ(m.size(), 5u);
            const int p = m[0];
            const auto seq = load_le<std::uint32_t>(m.data() + 1);
            ASSERT_LT(p, kProducers);
            ASSERT_LT(seq, kPerProducer);
            EXPECT_FALSE(seen[p][seq]) << "duplicate " << p << "/" << seq;
            seen[p][seq] = true;
            EXPECT_GT(static_cast<std::int64_t>(seq), last.count(p) ? last[p] : -1) << "out of order";
            last[p] = seq;
            ++total;
        }
    }
    EXPECT_EQ(total, kProducers * kPerProducer);
}

}  // namespace
}  // namespace rez
