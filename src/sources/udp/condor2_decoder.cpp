#include <cmath>
#include <string_view>

#include "sources/udp/datagram.h"
#include "sources/udp/udp_decoders.h"

namespace rez {

namespace {

constexpr std::array<std::string_view, Condor2Keys::kNumberKeys> kNumberKeys = {
    "time",    "slipball",   "altitude",   "vario",          "evario",   "nettovario",         "integrator",
    "compass", "turnrate",   "yawstringangle", "radiofrequency", "yaw",  "pitch",              "bank",
    "quaternionx", "quaterniony", "quaternionz", "ax",       "ay",       "az",                 "vx",
    "vy",      "vz",         "rollrate",   "pitchrate",      "yawrate",  "gforce",             "height",
    "wheelheight", "turbulencestrength", "surfaceroughness", "mc", "water",
};

int keyIndex(std::string_view key) {
    for (std::size_t i = 0; i < kNumberKeys.size(); ++i)
        if (kNumberKeys[i] == key) return static_cast<int>(i);
    return -1;
}

// Text that is no number, "nan" and "inf" among it, reads as 0.
float numberOrZero(const char* begin, const char* end) { return leadingNumber<float>(begin, end).value_or(0.0f); }

void applyLine(std::string_view line, Condor2Keys& keys) {
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return;
    const std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
    const char* begin = value.data();
    const char* end = value.data() + value.size();
    if (key == "hudmessages") {
        keys.hudMessages.assign(value);  // room reserved for a whole datagram: no allocation
    } else if (key == "flaps") {
        const float f = numberOrZero(begin, end);
        // Only a flap setting an int can hold; anything else is no setting.
        keys.flaps = std::isfinite(f) && std::fabs(f) < 2.0e9f ? static_cast<int>(f) : 0;
    } else if (const int i = keyIndex(key); i >= 0) {
        keys.values[static_cast<std::size_t>(i)] = numberOrZero(begin, end);
    }
}

}  // namespace

Condor2Keys::Condor2Keys() { hudMessages.reserve(8192); }

float Condor2Keys::value(const char* key) const {
    const int i = keyIndex(key);
    return i < 0 ? 0.0f : values[static_cast<std::size_t>(i)];
}

bool decodeCondor2(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record, Condor2Keys& keys) {
    if (length <= kShortTextDatagram) return false;
    const std::string_view text(reinterpret_cast<const char*>(bytes), textLength(bytes, length));
    for (std::size_t at = 0; at < text.size();) {
        std::size_t lineEnd = text.find('\n', at);
        if (lineEnd == std::string_view::npos) lineEnd = text.size();
        applyLine(text.substr(at, lineEnd - at), keys);
        at = lineEnd + 1;
    }
    // The parser takes no "nan" or "inf", so every kept value and every
    // conversion below is finite; checked all the same, as in every decoder.
    SlotStores s;
    s.set(kPitchPosition, degrees(keys.value("pitch")));
    s.set(kRollPosition, degrees(keys.value("bank")) * -1.0);
    s.set(kYawPosition, degrees(keys.value("yaw")) - 180.0);
    s.set(kLateralAccel, keys.value("ax"));
    s.set(kLongituAccel, keys.value("ay"));
    s.set(kVerticaAccel, keys.value("az"));
    s.set(kLateralSpeed, keys.value("vx"));
    s.set(kLongituSpeed, keys.value("vy"));
    s.set(kVerticaSpeed, keys.value("vz"));
    s.set(kRollSpeed, degrees(keys.value("rollrate")));
    s.set(kPitchSpeed, degrees(keys.value("pitchrate")));
    s.set(kYawSpeed, degrees(keys.value("yawrate")));
    return s.storeInto(record);
}

}  // namespace rez
