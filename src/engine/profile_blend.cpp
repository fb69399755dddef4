#include "engine/gamesource_engine.h"

namespace rez {

// Follows the present game's ground state with two weights that cross over
// by 0.01 per tick, so a landing or a take-off blends the AIR and GROUND
// profiles over 100 ticks instead of jumping.
void GamesourceEngine::updateProfileBlend() {
    const int present = sources.presentGame();
    const int g = present < 0 ? -1 : sources.readers[static_cast<std::size_t>(present)]->groundState.load();
    const int active = activeGroundState.load();
    if (g != active) {
        if (!transitionActive) {
            transitionActive = true;
            airWeight.store(active == 0 ? 1.0 : 0.0);
            groundWeight.store(active == 0 ? 0.0 : 1.0);
        }
        activeGroundState.store(g);
    }

    computeCues();

    if (!transitionActive) return;
    const int state = activeGroundState.load();
    const double step = 2.0 / transitionDurationMs;
    if (state == 0) {
        airWeight.store(airWeight.load() + step);
        groundWeight.store(1.0 - airWeight.load());
    } else if (state == 1) {
        groundWeight.store(groundWeight.load() + step);
        airWeight.store(1.0 - groundWeight.load());
    }
    if (airWeight.load() > 1.0 || groundWeight.load() > 1.0) {
        if (state == 0) {
            airWeight.store(1.0);
            groundWeight.store(0.0);
            groundCues.fill(0.0);
        } else if (state == 1) {
            airWeight.store(0.0);
            groundWeight.store(1.0);
            airCues.fill(0.0);
        }
        transitionActive = false;
    }
}

}  // namespace rez
