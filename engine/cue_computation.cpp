#include "engine/gamesource_engine.h"

namespace rez {

// The channel bindings, filter chains and output sums come with the filter
// system; until then the cue arrays stay as they are.
void GamesourceEngine::computeCues() {}

}  // namespace rez
