#pragma once
// The roller-coaster simulator's reader (game NoLimits2), read over its TCP
// telemetry server.
#include <memory>

#include "sources/game_reader.h"

namespace rez {

// The reader for the roller-coaster game id, or nullptr for any other game.
std::unique_ptr<GameReader> makeNoLimitsReader(int id);

}  // namespace rez
