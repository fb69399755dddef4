#pragma once
// Readers of the games that publish their telemetry in shared memory.
#include <memory>

#include "sources/game_reader.h"

namespace rez {

// The reader for a shared-memory game id, or nullptr for other games.
std::unique_ptr<GameReader> makeSharedMemoryReader(int id);

}  // namespace rez
