#pragma once
// RaceRoom: the game's "$R3E" block, read on every tick while the game is
// driving (not paused, not in menus, not in a replay).
#include "platform/shared_memory.h"
#include "sources/game_reader.h"

namespace rez {

inline constexpr const char* kR3eName = "$R3E";
inline constexpr std::size_t kR3eSize = 39320;

class RaceRoomReader : public GameReader {
public:
    bool detect() override;
    bool attach() override;
    bool read(GameDataRecord& record) override;
    void close() override;

    bool attached() const { return attached_; }
    bool failed() const { return error_; }

private:
    platform::SharedMemory block_;
    bool attached_ = false;
    bool error_ = false;
};

}  // namespace rez
