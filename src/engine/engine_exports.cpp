// Flat C exports of the engine. Each one builds the engine on first use and
// runs its body through guardedCall, so no exception reaches the host.
#include <cstdlib>
#include <cstring>

#include "controller/wind_serial.h"
#include "core/export_guard.h"
#include "core/relaxed.h"
#include "engine/gamesource_engine.h"
#include "rezadedudid.h"

using rez::guardedCall;
using rez::theEngine;

namespace {
// Hands a history to the host in memory it releases with the Free export.
template <class Record>
const Record* handOut(const std::vector<Record>& records, int* count) {
    *count = static_cast<int>(records.size());
    if (records.empty()) return nullptr;
    auto* array = static_cast<Record*>(std::malloc(records.size() * sizeof(Record)));
    if (array == nullptr) {
        *count = 0;
        return nullptr;
    }
    std::memcpy(array, records.data(), records.size() * sizeof(Record));
    return array;
}
}  // namespace


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
    // The game-source thread rewrites it on every sample.
    return guardedCall(0.0, [] { return rez::relaxedLoad(theEngine().sources.record.timeFrame); });
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

// The arrays handed out by address (game data, cues, position snapshot) are
// rewritten by the game-source thread every tick; a host reading them may see
// a mix of two ticks.
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

// ---- Rig outputs, motion cancel, fan ----

REZ_API void getOutputData(uint8_t* frame) {
    guardedCall([=] {
        auto& engine = theEngine();
        if (frame != nullptr) engine.copyMotionFrame(frame);
    });
}

REZ_API void SetRigDofLimitValue(int index, double minimum, double maximum) {
    guardedCall([=] { theEngine().setRigDofLimit(index, minimum, maximum); });
}

REZ_API void activateMotionCancel(bool on) {
    // Only the low byte of a boolean argument counts.
    const bool enable = *reinterpret_cast<const unsigned char*>(&on) != 0;
    guardedCall([=] { theEngine().activateMotionCancel(enable); });
}

REZ_API void setFilterMotionCancel(double filter) {
    guardedCall([=] { theEngine().setFilterMotionCancel(filter); });
}

REZ_API void setGainMotionCancel(double gain) {
    guardedCall([=] { theEngine().setGainMotionCancel(gain); });
}

REZ_API bool initWindSerial(const wchar_t* portName, int baudRate, const wchar_t* format, int intervalMs) {
    return guardedCall(false, [=] { return rez::initWindSerialOn(theEngine().wind, portName, baudRate, format, intervalMs); });
}

// ---- Snapshots ----

REZ_API const double* GetPositionSnapshot(void) {
    return guardedCall(static_cast<const double*>(nullptr), [] { return theEngine().positionSnapshot.data(); });
}

REZ_API const CalculationSnapshot* GetCalculationSnapshots(int* count) {
    return guardedCall(static_cast<const CalculationSnapshot*>(nullptr), [=] {
        auto& engine = theEngine();
        if (count == nullptr) return static_cast<const CalculationSnapshot*>(nullptr);
        return handOut(engine.takeCalculationHistory(), count);
    });
}

REZ_API const AccelerationSnapshot* GetAccelerationSnapshots(int* count) {
    return guardedCall(static_cast<const AccelerationSnapshot*>(nullptr), [=] {
        auto& engine = theEngine();
        if (count == nullptr) return static_cast<const AccelerationSnapshot*>(nullptr);
        return handOut(engine.takeAccelerationHistory(), count);
    });
}

REZ_API void FreeCalculationSnapshots(const void* array) {
    guardedCall([=] { std::free(const_cast<void*>(array)); });
}

REZ_API void FreeAccelerationSnapshots(const void* array) { FreeCalculationSnapshots(array); }

}  // extern "C"
