#include "sources/tcp/nolimits_reader.h"

namespace rez {

// Not built yet: the game table falls back to a reader that never attaches.
std::unique_ptr<GameReader> makeNoLimitsReader(int) { return nullptr; }

}  // namespace rez
