#pragma once
// RaceRoom: the game's "$R3E" block, read on every tick while the game is
// driving (not paused, not in menus, not in a replay).
#include <cstddef>

#include "sources/shm/shared_memory_readers.h"

namespace rez {

inline constexpr const char* kR3eName = "$R3E";
inline constexpr std::size_t kR3eSize = 39320;

class RaceRoomReader : public GameBlockReader {
public:
    bool detect() override;
    bool attach() override;
    bool read(GameDataRecord& record) override;
};

}  // namespace rez
