#include "sources/shm/shared_memory_readers.h"

#include "core/console.h"
#include "core/relaxed.h"
#include "sources/shm/assetto_corsa_reader.h"
#include "sources/game_table.h"
#include "sources/shm/iracing_reader.h"
#include "sources/shm/pcars2_reader.h"
#include "sources/shm/raceroom_reader.h"
#include "sources/shm/rfactor2_reader.h"
#include "sources/shm/truck_sim_reader.h"

namespace rez {

std::unique_ptr<GameReader> makeSharedMemoryReader(int id) {
    switch (id) {
        case kAssettoCorsa: return std::make_unique<AssettoCorsaReader>();
        case kAssettoCorsaEvo: return std::make_unique<AssettoCorsaEvoReader>();
        case kRaceRoom: return std::make_unique<RaceRoomReader>();
        case kProjectCars2: return std::make_unique<ProjectCars2Reader>();
        case kIRacing: return std::make_unique<IRacingReader>();
        case kRFactor2: return std::make_unique<RFactor2Reader>();
        case kTruckSim: return std::make_unique<TruckSimReader>();
        default: return nullptr;
    }
}

bool openGameBlock(platform::SharedMemory& block, const std::string& name, std::size_t size) {
    if (!block.openExisting(name, platform::MapAccess::Read)) {
        consolePrint("Failed to open mapping");
        return false;
    }
    if (!block.map(platform::MapAccess::Read, size)) {
        consolePrint("Failed to map buffer");
        block.close();
        return false;
    }
    return true;
}

bool createOrOpenGameBlock(platform::SharedMemory& block, const std::string& name, std::size_t size) {
    if (block.openReadOnlyOrCreate(name, size) && block.map(platform::MapAccess::Read, size)) return true;
    block.close();
    return false;
}

void finishSample(GameReader& reader, GameDataRecord& record, AccelMode mode, double lateralSign) {
    // The host's getter reads the interval from its own thread.
    relaxedStore(record.timeFrame, reader.clock.stamp());
    reader.groundState.store(0, std::memory_order_relaxed);
    applyGravityParts(record, mode, kPiShort, 1.0, lateralSign);
}

bool GameBlockReader::attachBlock(const std::string& name, std::size_t size) {
    if (!openGameBlock(block_, name, size)) {
        error_ = true;
        return false;
    }
    consolePrint("Memory mapped successfully\n");
    error_ = false;
    attached_ = true;
    return true;
}

void GameBlockReader::close() {
    block_.close();
    attached_ = false;
}

}  // namespace rez
