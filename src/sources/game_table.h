#pragma once
// The supported games: their ids, names and the one order in which
// detection, the name getters, dispatch and closing walk them.
#include <array>
#include <memory>

#include "sources/game_reader.h"

namespace rez {

inline constexpr int kGameCount = 18;
inline constexpr std::array<int, kGameCount> kGameWalkOrder = {0, 1, 2, 15, 3, 16, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 17};

enum GameId : int {
    kXplane = 0, kDcs = 1, kMsfs2020 = 2, kAssettoCorsa = 3, kRaceRoom = 4, kDirtRally2 = 5, kCondor2 = 6,
    kF1 = 7, kNoLimits2 = 8, kProjectCars2 = 9, kIRacing = 10, kWrc23 = 11, kBeamNg = 12, kLfs = 13,
    kRFactor2 = 14, kMsfs2024 = 15, kAssettoCorsaEvo = 16, kTruckSim = 17,
};

inline constexpr const char* kNoGameName = "No Game online";
// Name of a game id, or "No Game online" for anything else.
const char* gameName(int id);

// The reader for a game id, as the library ships it.
std::unique_ptr<GameReader> makeGameReader(int id);

// Builds now the process-wide state that reader families keep beyond one
// reader (the flight simulators' client list and connector, the roller
// coaster's ride). The engine's owner calls it before it builds the engine,
// so that this state outlives the readers' teardown, which still uses it.
void buildReaderFamilyState();

}  // namespace rez
