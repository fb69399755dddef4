#pragma once
// Every tick the engine appends one record to each of its two histories: the
// position snapshot (23 values) and the game slots it read (43). The host
// takes both histories in turn and pairs them here into one row per tick.
//
// Pairing: the two histories receive the same ticks in the same order, so
// the n-th record ever taken from one and the n-th from the other belong to
// the same tick. A tick may land between the two takes, so one batch can be
// a record longer than the other; the unpaired records wait for the next
// take. A batch of a full history (150 records) may have lost its oldest
// records: what waited is dropped, the halves are lined up again at the
// newest end (which may pair them a tick apart) and the resynchronisation is
// counted. Taking every 50 ms keeps well clear of that.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "rezadedudid.h"
#include "sim/recording.h"
#include "tools/host/api.h"

namespace rez::host {

constexpr int kHistoryCapacity = 150;

class HistoryPairer {
public:
    // Adds one take of each history (oldest first) and appends the ticks
    // that now have both halves to `out`.
    void add(const CalculationSnapshot* calc, int calcCount, const AccelerationSnapshot* accel, int accelCount,
             std::vector<sim::RecordedTick>& out);
    std::int64_t paired() const { return next_; }
    int resyncs() const { return resyncs_; }

private:
    std::deque<CalculationSnapshot> calc_;
    std::deque<AccelerationSnapshot> accel_;
    std::int64_t next_ = 0;
    int resyncs_ = 0;
};

// Takes both histories from the library (calculation first), pairs them and,
// when a recording is open, writes every tick to it.
class HistoryFetcher {
public:
    explicit HistoryFetcher(const Api& api) : api_(api) {}
    // Throws away what earlier runs left in the histories.
    void discard();
    bool openRecording(const std::string& path, const std::string& game, std::string& error);
    // Takes and pairs; the new ticks are also kept in `ticks()` when keeping is on.
    void fetch();
    void keepTicks(bool keep) { keep_ = keep; }
    const std::vector<sim::RecordedTick>& ticks() const { return kept_; }
    std::int64_t paired() const { return pairer_.paired(); }
    int resyncs() const { return pairer_.resyncs(); }
    bool closeRecording(std::string& error);

private:
    const Api& api_;
    HistoryPairer pairer_;
    sim::RecordingWriter writer_;
    std::vector<sim::RecordedTick> fresh_;
    std::vector<sim::RecordedTick> kept_;
    bool keep_ = false;
    bool writeFailed_ = false;
};

}  // namespace rez::host
