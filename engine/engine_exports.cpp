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

// ---- Profiles, filters and cues ----

REZ_API bool setcheckFilterstring(int profile, int channel, const char* text) {
    return guardedCall(false, [=] { return theEngine().installChannelFilter(profile, channel, text); });
}

REZ_API void setActiveAxis(int profile, int channel, int enable) {
    guardedCall([=] { theEngine().setActiveAxis(profile, channel, enable); });
}

REZ_API void setBelt_Mix(int profile, int index, double weight) {
    guardedCall([=] { theEngine().setBeltMix(profile, index, weight); });
}

REZ_API void SetInputDofLimitValue(int channel, double minimum, double maximum) {
    guardedCall([=] { theEngine().setInputDofLimit(channel, minimum, maximum); });
}

REZ_API int getactiveProfil(void) {
    return guardedCall(0, [] { return theEngine().activeGroundState.load(); });
}

REZ_API double getProfilAirTransitionStatus(void) {
    return guardedCall(0.0, [] { return theEngine().airTransitionStatus(); });
}

REZ_API double getProfilGrdTransitionStatus(void) {
    return guardedCall(0.0, [] { return theEngine().groundTransitionStatus(); });
}

REZ_API void getMotionCueData(int which, double** values, int* count) {
    guardedCall([=] {
        auto& engine = theEngine();
        rez::CueArray* arrays[] = {&engine.airCues, &engine.groundCues, &engine.outputCues, &engine.fadeStart};
        if (which < 0 || which > 3) return;
        if (values != nullptr) *values = arrays[which]->data();
        if (count != nullptr) *count = rez::kChannelCount;
    });
}

}  // extern "C"
