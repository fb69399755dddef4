#pragma once
// Assetto Corsa and Competizione (one reader) and Assetto Corsa EVO: both
// read the same physics page, whose packet number tells a new sample.
#include <cstdint>

#include "platform/shared_memory.h"
#include "sources/game_reader.h"

namespace rez {

inline constexpr const char* kAcPhysicsName = "Local\\acpmf_physics";
inline constexpr const char* kAcGraphicsName = "Local\\acpmf_graphics";
inline constexpr const char* kAcEvoPhysicsName = "Local\\acevo_pmf_physics";
inline constexpr std::size_t kAcPhysicsSize = 712;
inline constexpr std::size_t kAcGraphicsSize = 1320;
inline constexpr std::size_t kAcEvoPhysicsSize = 800;
inline constexpr std::int32_t kAcStatusLive = 2;

// The part both readers share: the physics view and the per-tick read.
class AcPhysicsReader : public GameReader {
public:
    bool read(GameDataRecord& record) override;

protected:
    platform::SharedMemory physics_;
    std::int32_t lastPacket_ = 0;
};

class AssettoCorsaReader : public AcPhysicsReader {
public:
    bool detect() override;
    bool attach() override;
    void close() override;

private:
    platform::SharedMemory graphics_;
};

// EVO publishes its physics page under a name of its own; the classic name
// is the fallback for builds that still use it.
class AssettoCorsaEvoReader : public AcPhysicsReader {
public:
    bool detect() override;
    bool attach() override;
    void close() override;
};

}  // namespace rez
