#include "sources/udp/datagram.h"
#include "sources/udp/udp_decoders.h"

namespace rez {

bool decodeDirtRally2(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record) {
    // Anything but the one layout the game's export sends is no sample.
    if (length != kDirtRally2Length) return false;
    const Datagram d(bytes, length);
    const double g = kStandardGravity;
    double* s = record.slots;
    s[kLateralAccel] = d.f32(24) * g * -1.0;
    s[kLongituAccel] = d.f32(28) * g;
    s[kVerticaAccel] = d.f32(32) * g;
    s[kPitchPosition] = degrees(d.f32(48));
    s[kPitchSpeed] = degrees(d.f32(52));
    s[kPitchAccel] = degrees(d.f32(56));
    s[kRollPosition] = degrees(d.f32(60));
    s[kRollSpeed] = degrees(d.f32(64));
    s[kRollAccel] = degrees(d.f32(68));
    s[kYawPosition] = degrees(d.f32(84)) - 90.0;
    s[kYawSpeed] = degrees(d.f32(88));
    s[kYawAccel] = degrees(d.f32(92));
    s[kLateralSpeed] = 0.0;
    s[kLongituSpeed] = 0.0;
    s[kVerticaSpeed] = 0.0;
    // The game sends no clock of its own.
    record.gameTimeDelta = -record.lastGameTime * 1000.0;
    record.lastGameTime = 0.0;
    return true;
}

}  // namespace rez
