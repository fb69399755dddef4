#include "sources/udp/datagram.h"
#include "sources/udp/udp_decoders.h"

namespace rez {

namespace {
constexpr std::size_t kHeaderBytes = 29;
constexpr std::size_t kCarBytes = 60;
}  // namespace

bool decodeF1(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record) {
    const Datagram d(bytes, length);
    if (length < 2) return false;
    const std::uint16_t format = d.u16(0);
    if (format != 2023 && format != 2024) return false;
    const double g = kStandardGravity;
    SlotStores s;
    if (length == kF1MotionLength) {
        // The header names the player's car; the byte after it is the second
        // player's in split screen (255 when there is none). A car index out of
        // range (spectating) falls back to the first car.
        std::size_t car = d.u8(kF1PlayerCarIndexOffset);
        if (car >= static_cast<std::size_t>(kF1CarCount)) car = 0;
        const std::size_t at = kHeaderBytes + car * kCarBytes;
        s.set(kLongituAccelG, d.f32(at + 40) * g);
        s.set(kLateralAccelG, d.f32(at + 36) * -1.0 * g);
        s.set(kVerticaAccelG, d.f32(at + 44) * -1.0 * g);
        s.set(kYawPosition, degrees(d.f32(at + 48)));
        s.set(kPitchPosition, degrees(d.f32(at + 52)));
        s.set(kRollPosition, degrees(d.f32(at + 56)));
        return s.storeInto(record);
    }
    if (length == kF1ExtendedLength2023 || length == kF1ExtendedLength2024) {
        s.set(kRollSpeed, -degrees(d.f32(173)));
        s.set(kPitchSpeed, -degrees(d.f32(177)));
        s.set(kYawSpeed, -degrees(d.f32(181)));
        return s.storeInto(record);
    }
    return false;
}

}  // namespace rez
