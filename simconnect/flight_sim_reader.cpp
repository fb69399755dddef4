#include "simconnect/flight_sim_reader.h"

namespace rez {

// Not built yet: the game table falls back to a reader that never attaches.
std::unique_ptr<GameReader> makeFlightSimReader(int) { return nullptr; }

}  // namespace rez
