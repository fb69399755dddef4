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
//
// Tick times: the snapshots carry no time, so the recorder stamps them. At
// each take it reads its own clock (seconds since the fetcher was made, which
// the host does as its run starts). The newest tick of a take ran within a
// tick of that moment, and the ticks of a take ran one after the other since
// the newest tick of the previous take: they are spread evenly between the
// two, the newest at the take's time. A loaded machine's slower ticks thus
// come out further apart than 2 ms. Where nothing precedes a take (the first
// take, a take after one that brought nothing, one whose histories overflowed)
// its ticks are put 2 ms apart back from the take's time, squeezed evenly into
// the time since the previous take (or since the clock's start) when they do
// not fit.
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

// Stamps the ticks of each take with when they ran (see above).
class TickStamper {
public:
    // `fresh`: the ticks this take paired, oldest first; `takeSeconds`: the
    // clock at the take; `lostOlder`: the histories overflowed before it.
    void stamp(std::vector<sim::RecordedTick>& fresh, double takeSeconds, bool lostOlder);

private:
    double newest_ = 0;    // time of the newest tick stamped
    double lastTake_ = 0;  // time of the previous take
    bool follows_ = false; // the previous take brought ticks
};

// Takes both histories from the library (calculation first), pairs them,
// stamps their times and, when a recording is open, writes every tick to it.
class HistoryFetcher {
public:
    explicit HistoryFetcher(const Api& api);
    // Throws away what earlier runs left in the histories.
    void discard();
    // A recording may be opened again after it was closed (the tuning page
    // starts and stops them); each takes the ticks from its opening on.
    bool openRecording(const std::string& path, const std::string& game, std::string& error);
    // Takes and pairs; the new ticks are also kept in `ticks()` when keeping is on.
    void fetch();
    void keepTicks(bool keep) { keep_ = keep; }
    const std::vector<sim::RecordedTick>& ticks() const { return kept_; }
    // The ticks the last take paired, with their times.
    const std::vector<sim::RecordedTick>& fresh() const { return fresh_; }
    std::int64_t paired() const { return pairer_.paired(); }
    int resyncs() const { return pairer_.resyncs(); }
    // The host is sending the rig to rest: the fade begins now. Takes what
    // the histories hold, then marks the recording (`# rest:` line).
    void markRest();
    // Where the rest fade began on the recording's clock; NaN before markRest().
    double restSeconds() const { return restSeconds_; }
    bool closeRecording(std::string& error);

private:
    double now() const;

    const Api& api_;
    std::int64_t start_;
    double restSeconds_;
    HistoryPairer pairer_;
    TickStamper stamper_;
    sim::RecordingWriter writer_;
    std::vector<sim::RecordedTick> fresh_;
    std::vector<sim::RecordedTick> kept_;
    bool keep_ = false;
    bool writeFailed_ = false;
};

}  // namespace rez::host
