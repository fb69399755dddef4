// Arbitrary bytes as one receive from the roller-coaster simulator's
// telemetry server: the decoder must read only inside them (libFuzzer's input
// is an exact-size heap copy, so ASan reports one byte past the end), and a
// reply it takes must leave the ride's smoothing finite, whatever numbers it
// carries: that state lives as long as the process.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sources/tcp/nolimits_reply.h"
#include "sources/tcp/nolimits_ride.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static rez::NoLimitsRide ride;
    const auto telemetry = rez::decodeNoLimitsReply(data, size);
    if (!telemetry) return 0;
    rez::GameDataRecord record;
    // The interval comes from the input too, so long, short and zero ones are
    // all tried.
    const double timeFrameMs = size > 86 ? static_cast<double>(data[86]) * 4.0 : 2.0;
    if (!rez::applyNoLimitsTelemetry(*telemetry, timeFrameMs, record, ride)) return 0;
    for (double v : record.slots)
        if (!std::isfinite(v)) std::abort();
    for (double v : ride.rate)
        if (!std::isfinite(v)) std::abort();
    for (std::size_t i = 0; i < 3; ++i)
        if (!std::isfinite(ride.accel[i]) || !std::isfinite(ride.leak[i])) std::abort();
    return 0;
}
