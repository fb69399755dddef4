#pragma once
// Euro Truck Simulator 2 and American Truck Simulator through the game's
// telemetry example plug-in: a small packed block, read on every tick while
// its running byte is set.
//
// The plug-in makes the block itself and refuses to start when a block of
// that name already exists, so this reader only ever opens the plug-in's
// block: creating it would keep the game from publishing at all.
#include "platform/shared_memory.h"
#include "sources/game_reader.h"

namespace rez {

inline constexpr const char* kTruckBlockName = "SCSTelemetryExample";
inline constexpr std::size_t kTruckBlockSize = 177;

class TruckSimReader : public GameReader {
public:
    bool detect() override;
    bool attach() override;
    bool read(GameDataRecord& record) override;
    void close() override { block_.close(); }

private:
    platform::SharedMemory block_;
};

}  // namespace rez
