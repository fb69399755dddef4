#pragma once
// A scripted game reader for engine tests: it detects and attaches as told,
// and each read either stores the next sample or reports none.
#include <atomic>
#include <functional>
#include <mutex>

#include "core/relaxed.h"
#include "sources/game_reader.h"

namespace rez::test {

class TestReader : public GameReader {
public:
    std::atomic<bool> present{true};
    std::atomic<bool> attachOk{true};
    // Called on every read; return false for "no new sample".
    std::function<bool(GameDataRecord&, long readIndex)> sample;

    std::atomic<long> detects{0}, attaches{0}, reads{0}, closes{0};

    bool detect() override {
        ++detects;
        return present.load();
    }
    bool attach() override {
        ++attaches;
        return attachOk.load();
    }
    bool read(GameDataRecord& record) override {
        long index = reads++;
        std::lock_guard<std::mutex> lock(mutex_);
        if (!sample) return false;
        if (!sample(record, index)) return false;
        relaxedStore(record.timeFrame, clock.stamp());
        return true;
    }
    void close() override { ++closes; }
    void setSample(std::function<bool(GameDataRecord&, long)> fn) {
        std::lock_guard<std::mutex> lock(mutex_);
        sample = std::move(fn);
    }

private:
    std::mutex mutex_;
};

// A reader that never finds its game.
class AbsentReader : public GameReader {
public:
    bool detect() override { return false; }
    bool attach() override { return false; }
    bool read(GameDataRecord&) override { return false; }
    void close() override {}
};

}  // namespace rez::test
