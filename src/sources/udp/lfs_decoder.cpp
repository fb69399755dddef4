#include <cstring>

#include "sources/udp/datagram.h"
#include "sources/udp/udp_decoders.h"

namespace rez {

bool decodeLfs(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record) {
    if (length < kLfsLength || std::memcmp(bytes, "LFST", 4) != 0) return false;
    const Datagram d(bytes, length);
    double* s = record.slots;
    s[kLateralAccel] = d.f32(36);
    s[kLongituAccel] = d.f32(40);
    s[kVerticaAccel] = d.f32(44);
    s[kRollSpeed] = degrees(d.f32(12));
    s[kPitchSpeed] = degrees(d.f32(16));
    s[kYawSpeed] = degrees(d.f32(20));
    s[kYawPosition] = degrees(d.f32(24));
    s[kPitchPosition] = degrees(d.f32(28));
    s[kRollPosition] = degrees(d.f32(32));
    return true;
}

}  // namespace rez
