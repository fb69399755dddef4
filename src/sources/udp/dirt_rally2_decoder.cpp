#include "sources/udp/datagram.h"
#include "sources/udp/udp_decoders.h"

namespace rez {

bool decodeDirtRally2(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record) {
    // Anything but the one layout the game's export sends is no sample.
    if (length != kDirtRally2Length) return false;
    const Datagram d(bytes, length);
    const double g = kStandardGravity;
    SlotStores s;
    s.set(kLateralAccel, d.f32(24) * g * -1.0);
    s.set(kLongituAccel, d.f32(28) * g);
    s.set(kVerticaAccel, d.f32(32) * g);
    s.set(kPitchPosition, degrees(d.f32(48)));
    s.set(kPitchSpeed, degrees(d.f32(52)));
    s.set(kPitchAccel, degrees(d.f32(56)));
    s.set(kRollPosition, degrees(d.f32(60)));
    s.set(kRollSpeed, degrees(d.f32(64)));
    s.set(kRollAccel, degrees(d.f32(68)));
    s.set(kYawPosition, degrees(d.f32(84)) - 90.0);
    s.set(kYawSpeed, degrees(d.f32(88)));
    s.set(kYawAccel, degrees(d.f32(92)));
    s.set(kLateralSpeed, 0.0);
    s.set(kLongituSpeed, 0.0);
    s.set(kVerticaSpeed, 0.0);
    if (!s.storeInto(record)) return false;
    // The game sends no clock of its own.
    record.gameTimeDelta = -record.lastGameTime * 1000.0;
    record.lastGameTime = 0.0;
    return true;
}

}  // namespace rez
