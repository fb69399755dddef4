#include "sources/udp/datagram.h"
#include "sources/udp/udp_decoders.h"

namespace rez {

namespace {

constexpr int kTokenCount = 25;
constexpr std::size_t kShortestToken = 6;

// The export script ends its line with a character outside the number
// characters (blank to ';'), usually a line feed.
bool numberCharacter(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= ' ' && u <= ';';
}

void store(GameDataRecord& record, int token, double v) {
    double* s = record.slots;
    const double g = kStandardGravity;
    switch (token) {
        case 1: s[kLongituAccelG] = v * g; break;
        case 2: s[kLateralAccelG] = v * g; break;
        case 3: s[kVerticaAccelG] = v * g; break;
        case 4: s[kLateralSpeed] = v; break;
        case 5: s[kLongituSpeed] = v; break;
        case 6: s[kVerticaSpeed] = v; break;
        case 7: s[kYawSpeed] = degrees(v); break;
        case 8: s[kRollSpeed] = degrees(v); break;
        case 9: s[kPitchSpeed] = degrees(v); break;
        case 10: s[kYawPosition] = degrees(v); break;
        case 11: s[kRollPosition] = degrees(v); break;
        case 12: s[kPitchPosition] = degrees(v); break;
        case 14: s[kFrontLeftSusp] = v; break;
        case 16: s[kRearLeftSusp] = v; break;
        case 25:  // the game's clock, seconds
            record.gameTimeDelta = (v - record.lastGameTime) * 1000.0;
            record.lastGameTime = v;
            break;
        default: break;  // sent, not used
    }
}

}  // namespace

bool decodeDcs(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record) {
    if (length <= kShortDatagram) return false;
    const char* text = reinterpret_cast<const char*>(bytes);
    const std::size_t end = textLength(bytes, length);
    std::size_t at = 0;
    for (int token = 1; token <= kTokenCount; ++token) {
        double value = 0.0;
        std::size_t tokenEnd = at;
        while (tokenEnd < end && text[tokenEnd] != ' ') ++tokenEnd;
        if (tokenEnd == end) {
            tokenEnd = at;
            while (tokenEnd < end && numberCharacter(text[tokenEnd])) ++tokenEnd;
        }
        // A token with no end, or a short one, is not taken: it and every
        // token after it read as 0.
        if (tokenEnd < end && tokenEnd - at >= kShortestToken) {
            value = leadingNumber<double>(text + at, text + tokenEnd).value_or(0.0);
            at = tokenEnd + 1;  // the token and the character that ended it
        }
        store(record, token, value);
    }
    return true;
}

}  // namespace rez
