#include "engine/gamesource_engine.h"

namespace rez {

// The cue frame, the pose block and the fan byte come with the controller
// mailbox and the fan port; until then a tick sends nothing.
void GamesourceEngine::sendRigOutputs() {}

}  // namespace rez
