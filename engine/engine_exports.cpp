// Flat C exports of the engine. Each one builds the engine on first use and
// runs its body through guardedCall, so no exception reaches the host.
#include <cstring>

#include "core/export_guard.h"
#include "engine/gamesource_engine.h"
#include "include/rezadedudid.h"

using rez::guardedCall;
using rez::theEngine;

extern "C" {

REZ_API void startGamesource_Thread(void) {
    guardedCall([] { theEngine().startThread(); });
}

REZ_API bool stopGamesource_Thread(void) {
    return guardedCall(false, [] { return theEngine().stopThread(); });
}

REZ_API void setMotionsystemready(int ready) {
    guardedCall([ready] { theEngine().setMotionSystemReady(ready); });
}

REZ_API void setTimerPrecision(int precise) {
    guardedCall([precise] { theEngine().tickClock.precise.store(precise); });
}

REZ_API int getGameID(void) {
    return guardedCall(-1, [] { return theEngine().sources.presentGame(); });
}

REZ_API void getGameName(char* buffer) {
    guardedCall([buffer] {
        auto& engine = theEngine();
        if (buffer == nullptr) return;
        const char* name = rez::gameName(engine.sources.presentGame());
        std::memcpy(buffer, name, std::strlen(name) + 1);
    });
}

REZ_API double getGameTimeFrame(void) {
    return guardedCall(0.0, [] { return theEngine().sources.record.timeFrame; });
}

REZ_API double getMotionDataTimeFrame(void) {
    return guardedCall(0.0, [] { return theEngine().tickPeriodMs(); });
}

REZ_API int getGameDataCount(void) {
    return guardedCall(0, [] {
        theEngine();
        return rez::kGameSlotCount + 1;
    });
}

REZ_API void getGameData(double** values, int* count) {
    guardedCall([values, count] {
        auto& engine = theEngine();
        if (values != nullptr) *values = engine.sources.record.slots;
        if (count != nullptr) *count = rez::kGameSlotCount;
    });
}

REZ_API void getGameDataNames(const char** first, int* count) {
    guardedCall([first, count] {
        theEngine();
        if (first != nullptr) *first = rez::gameSlotName(1);
        if (count != nullptr) *count = rez::kGameSlotCount;
    });
}

REZ_API double getTransitionStatus(void) {
    return guardedCall(0.0, [] { return theEngine().transitionStatus(); });
}

}  // extern "C"
