#include <cstring>

#include "sources/udp/datagram.h"
#include "sources/udp/udp_decoders.h"

namespace rez {

bool hasBeamNgLead(const std::uint8_t* bytes, std::size_t length) {
    return length >= 4 && std::memcmp(bytes, "BNG1", 4) == 0;
}

bool decodeBeamNg(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record) {
    // A cut-short datagram would leave the channels past its end without data.
    if (!hasBeamNgLead(bytes, length) || length < kBeamNgLength) return false;
    const Datagram d(bytes, length);
    SlotStores s;
    s.set(kLateralAccelG, d.f32(28) * -1.0);
    s.set(kLongituAccelG, d.f32(32) * -1.0);
    s.set(kVerticaAccelG, d.f32(36) * -1.0);
    s.set(kLateralSpeed, d.f32(16) * -1.0);
    s.set(kLongituSpeed, d.f32(20) * -1.0);
    s.set(kVerticaSpeed, d.f32(24) * -1.0);
    s.set(kRollPosition, degrees(d.f32(52)));
    s.set(kPitchPosition, degrees(d.f32(56)));
    s.set(kYawPosition, degrees(d.f32(60)) * -1.0);
    s.set(kRollSpeed, degrees(d.f32(64)));
    s.set(kPitchSpeed, degrees(d.f32(68)));
    s.set(kYawSpeed, degrees(d.f32(72)) * -1.0);
    s.set(kRollAccel, degrees(d.f32(76)));
    s.set(kPitchAccel, degrees(d.f32(80)));
    s.set(kYawAccel, degrees(d.f32(84)) * -1.0);
    return s.storeInto(record);
}

}  // namespace rez
