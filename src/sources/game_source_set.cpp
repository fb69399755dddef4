#include "sources/game_source_set.h"

#include "platform/clock.h"

namespace rez {

GameSourceSet::GameSourceSet() {
    for (int id = 0; id < kGameCount; ++id) readers[static_cast<std::size_t>(id)] = makeGameReader(id);
}

void GameSourceSet::setReader(int id, std::unique_ptr<GameReader> reader) {
    if (id >= 0 && id < kGameCount && reader) readers[static_cast<std::size_t>(id)] = std::move(reader);
}

int GameSourceSet::presentGame() const {
    for (int id : kGameWalkOrder)
        if (gamePresent[static_cast<std::size_t>(id)].load(std::memory_order_relaxed) != 0) return id;
    return -1;
}

void GameSourceSet::clearAllFlags() {
    for (auto& flag : gamePresent) flag.store(0, std::memory_order_relaxed);
}

int GameSourceSet::detectGame(const std::atomic<bool>* keepGoing) {
    auto stopRequested = [keepGoing] { return keepGoing != nullptr && !keepGoing->load(); };
    bool firstTest = true;
    for (int id : kGameWalkOrder) {
        if (!firstTest) {
            // Between two tests only, and not at all once a stop is asked for:
            // a stop must not wait out the rest of a pass.
            if (stopRequested()) break;
            ++detectPauses;
            platform::sleepMs(detectPauseMs.load(std::memory_order_relaxed));
            if (stopRequested()) break;
        }
        firstTest = false;
        auto index = static_cast<std::size_t>(id);
        if (readers[index]->detect()) {
            // A game whose attach was refused in an earlier pass may still be
            // flagged; only the game found now may be named.
            clearAllFlags();
            gamePresent[index].store(1, std::memory_order_relaxed);
            return 1;
        }
        readers[index]->detectFailed();
        gamePresent[index].store(0, std::memory_order_relaxed);
    }
    clearAllFlags();
    return 0;
}

int GameSourceSet::openGameSource() {
    int id = presentGame();
    if (id < 0) return 0;
    return readers[static_cast<std::size_t>(id)]->attach() ? 1 : 0;
}

int GameSourceSet::readGameSample() {
    for (int id : kGameWalkOrder) {
        auto index = static_cast<std::size_t>(id);
        if (gamePresent[index].load(std::memory_order_relaxed) != 0 && readers[index]->read(record)) return 1;
    }
    return 0;
}

int GameSourceSet::closeGameSource() {
    int id = presentGame();
    if (id < 0) return 0;
    readers[static_cast<std::size_t>(id)]->close();
    gamePresent[static_cast<std::size_t>(id)].store(0, std::memory_order_relaxed);
    return 1;
}

}  // namespace rez
