#pragma once
// Shared bits of the fault-injection suite: an engine whose game-source
// thread runs as a host runs it, with only the games a test plays.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>

#include "engine/gamesource_engine.h"
#include "platform/clock.h"
#include "sources/game_source_set.h"
#include "sources/game_table.h"
#include "tests/support/test_reader.h"

namespace rez::faults {

inline double msSince(std::int64_t from) {
    return static_cast<double>(platform::counterNow() - from) * 1000.0 / static_cast<double>(platform::counterFrequency());
}

// Polls until the condition holds or `ms` of wall time have passed.
template <class F>
bool eventually(F condition, int ms = 10000) {
    const std::int64_t start = platform::counterNow();
    while (msSince(start) < ms) {
        if (condition()) return true;
        platform::sleepMs(2);
    }
    return condition();
}

// Games other than `kept` get absent readers: their probes would only slow
// detection down.
inline void keepOnly(GameSourceSet& set, std::initializer_list<int> kept) {
    set.detectPauseMs = 0;
    for (int id = 0; id < kGameCount; ++id)
        if (std::find(kept.begin(), kept.end(), id) == kept.end()) set.setReader(id, std::make_unique<test::AbsentReader>());
}

// Hands everything to another reader and counts the reads: the engine makes
// one per tick.
class CountingReader : public GameReader {
public:
    explicit CountingReader(std::unique_ptr<GameReader> inner) : inner_(std::move(inner)) {}
    bool detect() override { return inner_->detect(); }
    void detectFailed() override { inner_->detectFailed(); }
    bool attach() override { return inner_->attach(); }
    bool read(GameDataRecord& record) override {
        ++reads;
        const bool got = inner_->read(record);
        groundState.store(inner_->groundState.load());
        return got;
    }
    void close() override { inner_->close(); }
    std::atomic<long> reads{0};

private:
    std::unique_ptr<GameReader> inner_;
};

// Puts a counting reader in front of a game's reader; the engine owns it.
inline CountingReader& countTicks(GameSourceSet& set, std::unique_ptr<GameReader> reader, int id) {
    auto counting = std::make_unique<CountingReader>(std::move(reader));
    CountingReader& r = *counting;
    set.setReader(id, std::move(counting));
    return r;
}

// Ticks made over `ms` of wall time.
inline long ticksOver(const CountingReader& reader, int ms) {
    const long before = reader.reads.load();
    const std::int64_t start = platform::counterNow();
    while (msSince(start) < ms) platform::sleepMs(10);
    return reader.reads.load() - before;
}

}  // namespace rez::faults
