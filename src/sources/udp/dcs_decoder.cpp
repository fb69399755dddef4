#include <cmath>

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

void store(SlotStores& s, int token, double v) {
    const double g = kStandardGravity;
    switch (token) {
        case 1: s.set(kLongituAccelG, v * g); break;
        case 2: s.set(kLateralAccelG, v * g); break;
        case 3: s.set(kVerticaAccelG, v * g); break;
        case 4: s.set(kLateralSpeed, v); break;
        case 5: s.set(kLongituSpeed, v); break;
        case 6: s.set(kVerticaSpeed, v); break;
        case 7: s.set(kYawSpeed, degrees(v)); break;
        case 8: s.set(kRollSpeed, degrees(v)); break;
        case 9: s.set(kPitchSpeed, degrees(v)); break;
        case 10: s.set(kYawPosition, degrees(v)); break;
        case 11: s.set(kRollPosition, degrees(v)); break;
        case 12: s.set(kPitchPosition, degrees(v)); break;
        case 14: s.set(kFrontLeftSusp, v); break;
        case 16: s.set(kRearLeftSusp, v); break;
        default: break;  // sent, not used (25, the clock, is kept apart)
    }
}

}  // namespace

bool decodeDcs(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record) {
    if (length <= kShortDatagram) return false;
    const char* text = reinterpret_cast<const char*>(bytes);
    const std::size_t end = textLength(bytes, length);
    std::size_t at = 0;
    SlotStores s;
    double gameTime = 0.0;
    for (int token = 1; token <= kTokenCount; ++token) {
        double value = 0.0;
        std::size_t tokenEnd = at;
        while (tokenEnd < end && text[tokenEnd] != ' ') ++tokenEnd;
        if (tokenEnd == end) {
            tokenEnd = at;
            while (tokenEnd < end && numberCharacter(text[tokenEnd])) ++tokenEnd;
        }
        // A token with no end, or a short one, is not taken: it and every
        // token after it read as 0. A token that is no number ("nan" and
        // "inf" included) reads as 0 and the rest goes on.
        if (tokenEnd < end && tokenEnd - at >= kShortestToken) {
            value = leadingNumber<double>(text + at, text + tokenEnd).value_or(0.0);
            at = tokenEnd + 1;  // the token and the character that ended it
        }
        if (token == kTokenCount)
            gameTime = value;
        else
            store(s, token, value);
    }
    // The game's clock, seconds. A number so large that a channel overflows
    // in conversion makes the line no sample.
    const double gameTimeDelta = (gameTime - record.lastGameTime) * 1000.0;
    if (!std::isfinite(gameTimeDelta) || !s.storeInto(record)) return false;
    record.gameTimeDelta = gameTimeDelta;
    record.lastGameTime = gameTime;
    return true;
}

}  // namespace rez
