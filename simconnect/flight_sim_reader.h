#pragma once
// The flight simulators' reader (games MSFS2020 and MSFS2024), read through
// our own SimConnect client.
#include <memory>

#include "sources/game_reader.h"

namespace rez {

// The reader for a flight-simulator game id, or nullptr for any other game.
std::unique_ptr<GameReader> makeFlightSimReader(int id);

}  // namespace rez
