#pragma once
// The one interface through which every reader family plugs into the game
// table: a detection test, attach, one read per tick, and close.
#include <atomic>

#include "core/sample_clock.h"
#include "sources/game_data_record.h"

namespace rez {

class GameReader {
public:
    virtual ~GameReader() = default;

    // The game's detection test (process, mapping, port probe ...).
    virtual bool detect() = 0;
    // Called when detect() failed, for readers that drop state then.
    virtual void detectFailed() {}
    // Attaches to the game's telemetry.
    virtual bool attach() = 0;
    // Stores a new sample in `record`; false when there is none.
    virtual bool read(GameDataRecord& record) = 0;
    // Releases whatever attach or read took.
    virtual void close() = 0;

    // 1 on the ground, 0 otherwise; only flight sources change it.
    std::atomic<int> groundState{0};
    SampleClock clock;
};

}  // namespace rez
