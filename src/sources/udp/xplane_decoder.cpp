#include "sources/udp/datagram.h"
#include "sources/udp/udp_decoders.h"

namespace rez {

namespace {
constexpr std::size_t kHeaderBytes = 5;
constexpr std::size_t kRecordBytes = 36;  // index, then eight floats
}  // namespace

bool decodeXplane(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record, int& groundState) {
    if (length <= kShortTextDatagram) return false;
    double* s = record.slots;
    const std::size_t records = (length - kHeaderBytes) / kRecordBytes;
    for (std::size_t i = 0; i < records; ++i) {
        const std::size_t at = kHeaderBytes + i * kRecordBytes;
        const Datagram d(bytes, length);
        auto f = [&](int n) { return d.f32(at + 4 + 4 * static_cast<std::size_t>(n)); };
        switch (d.u8(at)) {  // the index's low byte names the record
            case 3: s[kSpeed] = f(7); break;
            case 17:
            case 127:
                s[kPitchPosition] = f(0);
                s[kRollPosition] = f(1);
                s[kYawPosition] = f(2) * -1.0;
                break;
            case 66:
                s[kFrontLeftSusp] = f(0);
                s[kFrontRightSusp] = f(0);
                s[kRearRightSusp] = f(1);
                s[kRearLeftSusp] = f(2);
                groundState = s[kFrontLeftSusp] > 0 && s[kRearRightSusp] > 0 && s[kRearLeftSusp] > 0 ? 1 : 0;
                break;
            case 135:
                s[kLateralAccelG] = f(0);
                s[kVerticaAccelG] = f(1) / 10.0;
                s[kLongituAccelG] = f(2) * -1.0;
                s[kRollSpeed] = f(3);
                s[kPitchSpeed] = f(4);
                s[kYawSpeed] = f(5) * -1.0;
                break;
            default: break;
        }
    }
    return true;
}

}  // namespace rez
