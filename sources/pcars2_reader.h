#pragma once
// Project CARS 2 and Automobilista 2: the "$pcars2$" block, read on every
// tick while the game state says the player is driving.
#include <cstdint>

#include "platform/shared_memory.h"
#include "sources/game_reader.h"

namespace rez {

inline constexpr const char* kPcars2Name = "$pcars2$";
inline constexpr std::size_t kPcars2Size = 20700;
inline constexpr std::int32_t kPcars2StatePlaying = 2;

class ProjectCars2Reader : public GameReader {
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
