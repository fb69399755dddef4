#include "sources/udp/datagram.h"
#include "sources/udp/udp_decoders.h"

namespace rez {

namespace {
constexpr std::size_t kHeaderBytes = 5;
constexpr std::size_t kRecordBytes = 36;  // index, then eight floats
}  // namespace

bool decodeXplane(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record, int& groundState) {
    if (length <= kShortTextDatagram) return false;
    SlotStores s;
    bool gearSeen = false;
    const Datagram d(bytes, length);
    const std::size_t records = (length - kHeaderBytes) / kRecordBytes;
    for (std::size_t i = 0; i < records; ++i) {
        const std::size_t at = kHeaderBytes + i * kRecordBytes;
        auto f = [&](int n) { return d.f32(at + 4 + 4 * static_cast<std::size_t>(n)); };
        switch (d.u8(at)) {  // the index's low byte names the record
            case 3: s.set(kSpeed, f(7)); break;
            case 17:
            case 127:
                s.set(kPitchPosition, f(0));
                s.set(kRollPosition, f(1));
                s.set(kYawPosition, f(2) * -1.0);
                break;
            case 66:
                s.set(kFrontLeftSusp, f(0));
                s.set(kFrontRightSusp, f(0));
                s.set(kRearRightSusp, f(1));
                s.set(kRearLeftSusp, f(2));
                gearSeen = true;
                break;
            case 135:
                s.set(kLateralAccelG, f(0));
                s.set(kVerticaAccelG, f(1) / 10.0);
                s.set(kLongituAccelG, f(2) * -1.0);
                s.set(kRollSpeed, f(3));
                s.set(kPitchSpeed, f(4));
                s.set(kYawSpeed, f(5) * -1.0);
                break;
            default: break;
        }
    }
    if (!s.storeInto(record)) return false;
    // The last gear record of the datagram decides.
    if (gearSeen)
        groundState = s[kFrontLeftSusp] > 0 && s[kRearRightSusp] > 0 && s[kRearLeftSusp] > 0 ? 1 : 0;
    return true;
}

}  // namespace rez
