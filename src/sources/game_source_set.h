#pragma once
// The game sources of the engine: which game is present, one reader per game,
// and the record the present reader fills. Driven only by the game-source
// thread; the host's getters read the flags and the record without a lock.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "sources/game_data_record.h"
#include "sources/game_reader.h"
#include "sources/game_table.h"

namespace rez {

class GameSourceSet {
public:
    GameSourceSet();

    std::array<std::atomic<std::uint8_t>, kGameCount> gamePresent{};
    std::array<std::unique_ptr<GameReader>, kGameCount> readers;
    GameDataRecord record;

    // One detection pass in walk order. When a test passes, that game's flag
    // is the only one set. With keepGoing, a pass cleared of it stops after
    // the test under way and reports nothing found.
    int detectGame(const std::atomic<bool>* keepGoing = nullptr);
    int openGameSource();
    int readGameSample();
    int closeGameSource();

    // GameId of the first set flag in walk order, or -1.
    int presentGame() const;
    void clearAllFlags();
    // Puts another reader in a game's place (tests, simulators).
    void setReader(int id, std::unique_ptr<GameReader> reader);

    // Pause between two detection tests; the engine leaves it at 10 ms.
    std::atomic<std::int64_t> detectPauseMs{10};
    // Pauses taken by detection so far.
    std::atomic<long> detectPauses{0};
};

}  // namespace rez
