#pragma once
// iRacing: the telemetry header with its rotating data buffers and variable
// headers. The reader copies the newest row and looks its variables up by
// name. Once attached it reports a sample on every tick; while the game is
// between sessions the channels simply keep their last values.
#include <array>
#include <cstdint>
#include <limits>

#include "platform/named_event.h"
#include "platform/shared_memory.h"
#include "sources/game_reader.h"
#include "sources/shm/shared_memory_readers.h"

namespace rez {

inline constexpr const char* kIRacingMapName = "Local\\IRSDKMemMapFileName";
inline constexpr const char* kIRacingEventName = "Local\\IRSDKDataValidEvent";
inline constexpr std::size_t kIRacingRowSize = 10000;
inline constexpr std::int32_t kIRacingNoTick = std::numeric_limits<std::int32_t>::max();

// Interprets the game's bytes: connected bit, newest buffer, variables. It
// sees the view only as bytes of a known size, and everything the header
// says about places and lengths is checked against that size.
class IRacingSampler {
public:
    // Takes the newest row when it is newer than the last one and writes its
    // variables into `record`; true when a row was taken. A row holding a
    // value that is no finite number writes nothing and sets `refused`.
    bool sample(const ViewBytes& view, GameDataRecord& record);

    std::int32_t lastTick = kIRacingNoTick;
    bool refused = false;

private:
    // Copies the newest buffer when it is newer than the last one taken;
    // returns the number of bytes copied (0 = no new row).
    std::size_t takeNewestRow(const ViewBytes& view);
    bool readVariables(const ViewBytes& view, std::size_t rowLength, GameDataRecord& record) const;

    std::array<unsigned char, kIRacingRowSize> row_{};
};

class IRacingReader : public GameReader {
public:
    bool detect() override;
    void detectFailed() override { reset(); }
    bool attach() override;
    bool read(GameDataRecord& record) override;
    void close() override { reset(); }

    bool attached() const { return attached_; }
    std::int32_t lastTick() const { return sampler_.lastTick; }
    bool holdsMapping() const { return mapping_.isMapped(); }
    bool holdsEvent() const { return event_.isOpen(); }

private:
    // Opens whichever of mapping, view and event is not held yet.
    bool openHandles();
    void reset();

    platform::SharedMemory mapping_;
    platform::NamedEvent event_;
    bool attached_ = false;
    IRacingSampler sampler_;
};

}  // namespace rez
