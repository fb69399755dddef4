#pragma once
// rFactor 2 through its telemetry plug-in's block: a new sample whenever the
// elapsed time moves on. Orientation comes as a rotation matrix.
#include <cstdint>
#include <limits>

#include "platform/shared_memory.h"
#include "sources/game_reader.h"

namespace rez {

inline constexpr const char* kRf2Name = "Local\\Rovandelix_rf2_data";
inline constexpr std::size_t kRf2Size = 1888;
// The plug-in writes this word at the start of a block that is not ready.
inline constexpr std::uint32_t kRf2NotReady = 1234567890u;

struct OrientationAngles {
    double yaw;
    double roll;
    double pitch;
};

// Yaw, roll and pitch in degrees from a row-major 3x3 rotation matrix:
// heading first, then pitch, then roll.
OrientationAngles rf2OrientationAngles(const double (&m)[3][3]);

class RFactor2Reader : public GameReader {
public:
    bool detect() override;
    void detectFailed() override { release(); }
    bool attach() override;
    bool read(GameDataRecord& record) override;
    void close() override { release(); }

    bool attached() const { return attached_; }
    bool failed() const { return error_; }
    bool holdsView() const { return block_.isMapped(); }

private:
    void release();

    platform::SharedMemory block_;
    bool attached_ = false;
    bool error_ = false;
    double lastElapsed_ = -std::numeric_limits<double>::infinity();
};

}  // namespace rez
