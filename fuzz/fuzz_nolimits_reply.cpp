// Arbitrary bytes as the receives of one ride from the roller-coaster
// simulator's telemetry server: every 90 bytes are one receive, the reply at
// its start and, in its last 4 bytes, the seconds since the receive before
// (any float, so gaps of no time, negative, huge or not a number are tried).
// The decoder must read only inside the bytes (libFuzzer's input is an
// exact-size heap copy, so ASan reports one byte past the end), and whatever
// numbers a reply carries and whenever it comes, no slot it stores and no
// state the ride carries to the next sample may be other than finite: that
// state lives as long as the process.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/bytes.h"
#include "sources/tcp/nolimits_reply.h"
#include "sources/tcp/nolimits_ride.h"

namespace {

constexpr std::size_t kStep = rez::kNoLimitsTelemetryBytes + 4;

void trapUnlessFinite(double v) {
    if (!std::isfinite(v)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rez::NoLimitsRide ride;
    double receivedAtS = 0.0;
    for (std::size_t from = 0; from < size; from += kStep) {
        const std::size_t left = size - from;
        if (left >= kStep)
            receivedAtS += std::bit_cast<float>(rez::load_be<std::uint32_t>(data + from + rez::kNoLimitsTelemetryBytes));
        const auto telemetry = rez::decodeNoLimitsReply(data + from, left);
        rez::GameDataRecord record;
        if (!telemetry || !rez::applyNoLimitsTelemetry(*telemetry, receivedAtS, record, ride)) continue;
        for (double v : record.slots) trapUnlessFinite(v);
        for (std::size_t i = 0; i < 3; ++i) {
            trapUnlessFinite(ride.rate[i]);
            trapUnlessFinite(ride.accel[i]);
            trapUnlessFinite(ride.leak[i]);
        }
    }
    return 0;
}
