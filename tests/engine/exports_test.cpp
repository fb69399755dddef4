// The engine's C exports as a host calls them, on the library's own engine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/gamesource_engine.h"
#include "rezadedudid.h"
#include "platform/clock.h"
#include "platform/dynlib.h"

namespace {

TEST(EngineExports, NoGameOnlineWithNothingRunning) {
    EXPECT_TRUE(stopGamesource_Thread()) << "stop before any start";
    startGamesource_Thread();
    startGamesource_Thread();
    rez::platform::sleepMs(600);
    EXPECT_EQ(getGameID(), -1);
    char name[21];
    std::memset(name, 'x', sizeof name);
    getGameName(name);
    EXPECT_STREQ(name, "No Game online");
    getGameName(nullptr);
    EXPECT_FALSE(stopGamesource_Thread());
    EXPECT_TRUE(stopGamesource_Thread());
}

TEST(EngineExports, GameDataShape) {
    EXPECT_EQ(getGameDataCount(), 44);
    double* values = nullptr;
    int count = 0;
    getGameData(&values, &count);
    ASSERT_NE(values, nullptr);
    EXPECT_EQ(count, 43);
    EXPECT_EQ(values[0], 0.0) << "no source writes slot 0";
    const char* first = nullptr;
    count = 0;
    getGameDataNames(&first, &count);
    EXPECT_STREQ(first, "lateral_speed");
    EXPECT_EQ(count, 43);
    getGameData(nullptr, nullptr);
    getGameDataNames(nullptr, nullptr);
}

TEST(EngineExports, TimerPrecisionBeforeStartIsOverwrittenByTheThread) {
    auto& precise = rez::theEngine().tickClock.precise;
    setTimerPrecision(0);
    EXPECT_EQ(precise.load(), 0);
    startGamesource_Thread();
    for (int i = 0; i < 2000 && precise.load() != 1; ++i) rez::platform::sleepMs(1);
    EXPECT_EQ(precise.load(), 1) << "the thread sets precise pacing when it starts";
    setTimerPrecision(0);
    EXPECT_EQ(precise.load(), 0) << "after the start the host's choice holds";
    EXPECT_FALSE(stopGamesource_Thread());
    setTimerPrecision(1);
}

TEST(EngineExports, ReadyRestartsTheFade) {
    setMotionsystemready(0);
    setMotionsystemready(1);
    EXPECT_EQ(getTransitionStatus(), 0.0);
    setMotionsystemready(0);
}

// The shipped library, loaded the way a host loads it, carries every export
// under its exact name.
TEST(LibraryExports, ExactNamesResolveFromTheSharedLibrary) {
#if defined(_WIN32)
    const std::string path = "rezadedudid.dll";
#else
    const std::string path = REZ_LIBRARY_PATH;
#endif
    void* library = rez::platform::loadLibrary(path);
    ASSERT_NE(library, nullptr) << rez::platform::lastLoadError();
    for (const char* name :
         {"startGamesource_Thread", "stopGamesource_Thread", "setMotionsystemready", "setTimerPrecision", "getGameID",
          "getGameName", "getGameTimeFrame", "getMotionDataTimeFrame", "getGameDataCount", "getGameData",
          "getGameDataNames", "getMotionCueData", "getOutputData", "getTransitionStatus", "getProfilAirTransitionStatus",
          "getProfilGrdTransitionStatus", "getactiveProfil", "setActiveAxis", "setBelt_Mix", "SetRigDofLimitValue",
          "SetInputDofLimitValue", "activateMotionCancel", "setFilterMotionCancel", "setGainMotionCancel",
          "GetPositionSnapshot", "GetCalculationSnapshots", "GetAccelerationSnapshots", "FreeCalculationSnapshots",
          "FreeAccelerationSnapshots", "setcheckFilterstring", "initWindSerial", "sendMessagemmf", "autoMessagemmf",
          "readMessagemmf", "newMessagemmf"})
        EXPECT_NE(rez::platform::findSymbol(library, name), nullptr) << name;
    EXPECT_EQ(rez::platform::findSymbol(library, "theEngine"), nullptr) << "internals stay hidden";
    auto getGameIDFn = reinterpret_cast<int (*)()>(rez::platform::findSymbol(library, "getGameID"));
    ASSERT_NE(getGameIDFn, nullptr);
    EXPECT_EQ(getGameIDFn(), -1);
    rez::platform::freeLibrary(library);
}

}  // namespace
