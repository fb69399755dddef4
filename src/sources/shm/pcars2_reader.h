#pragma once
// Project CARS 2 and Automobilista 2: the "$pcars2$" block, read on every
// tick while the game state says the player is driving.
#include <cstdint>

#include "sources/shm/shared_memory_readers.h"

namespace rez {

inline constexpr const char* kPcars2Name = "$pcars2$";
inline constexpr std::size_t kPcars2Size = 20700;
inline constexpr std::int32_t kPcars2StatePlaying = 2;

class ProjectCars2Reader : public GameBlockReader {
public:
    bool detect() override;
    bool attach() override;
    bool read(GameDataRecord& record) override;
};

}  // namespace rez
