#pragma once
// The datagram decoders of the games that send their telemetry over UDP.
// Each is a plain function over one received datagram, so the readers, the
// tests and the fuzzers all run the same code. A datagram is untrusted: a
// decoder reads only inside the `length` bytes it is given, and one that does
// not have the layout its game sends stores nothing. Nor does one holding a
// NaN or an infinity in a field the decoder uses (or a value that overflows
// in conversion): no decoder ever stores a value that is no finite number.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "sources/game_data_record.h"

namespace rez {

// Datagrams of this many bytes or fewer are no sample.
inline constexpr std::size_t kShortTextDatagram = 41;  // X-Plane, Condor 2
inline constexpr std::size_t kShortDatagram = 1;       // every other game

// X-Plane data-output records (index, eight floats) after a 5-byte header.
// The gear forces of record 66 decide `groundState`, which keeps its value
// through datagrams without that record.
bool decodeXplane(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record, int& groundState);

// DCS export line: blank-separated numbers. A token that is no number
// ("nan" and "inf" included) gives 0 for its channel; a token shorter than
// six characters gives 0 for itself and for every token after it.
bool decodeDcs(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record);

// DiRT Rally 2: exactly 96 bytes, anything else stores nothing.
inline constexpr std::size_t kDirtRally2Length = 96;
bool decodeDirtRally2(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record);

// Condor 2: "key=value" lines. Every known key keeps its last value, so a
// datagram that leaves a key out reuses what an earlier one said. A value
// that is no number ("nan" and "inf" included) reads as 0.
struct Condor2Keys {
    Condor2Keys();
    static constexpr std::size_t kNumberKeys = 33;
    std::array<float, kNumberKeys> values{};  // in the order of kCondor2NumberKeys
    std::string hudMessages;                  // "hudmessages", kept as text
    int flaps = 0;                            // "flaps", fraction dropped
    float value(const char* key) const;
};
bool decodeCondor2(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record, Condor2Keys& keys);

// F1 23 / F1 24, packet formats 2023 and 2024: the motion packet (the
// player's car) and the extended motion packet. Other datagrams are skipped.
inline constexpr std::size_t kF1MotionLength = 1349;
inline constexpr std::size_t kF1ExtendedLength2023 = 217;
inline constexpr std::size_t kF1ExtendedLength2024 = 237;
inline constexpr std::size_t kF1PlayerCarIndexOffset = 27;
inline constexpr int kF1CarCount = 22;
bool decodeF1(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record);

// WRC: world-frame velocity and acceleration turned into the car's axes,
// angles from the car's three direction vectors, rates from the angles of the
// previous sample over record.timeFrame (which the reader stamps just before).
inline constexpr std::size_t kWrcMinimumLength = 121;
struct WrcPrevious {
    double yaw = 0.0, roll = 0.0, pitch = 0.0;  // degrees, as stored by the previous sample
    bool valid = false;                         // false: the next sample has no rates to give
};
// Whether a datagram holds the whole layout, finite values and three
// direction vectors of some length.
bool wrcDatagramUsable(const std::uint8_t* bytes, std::size_t length);
bool decodeWrc(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record, WrcPrevious& previous);
// Difference of two angles in degrees, taken the short way round (-180..180).
double wrapDegrees(double difference);

// BeamNG "BNG1" datagrams of 88 bytes. A shorter one with the right lead is
// skipped, and so is one without the lead (the port may also get OutGauge).
inline constexpr std::size_t kBeamNgLength = 88;
bool hasBeamNgLead(const std::uint8_t* bytes, std::size_t length);
bool decodeBeamNg(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record);

// Live for Speed OutSim: datagrams of 280 bytes or more that begin "LFST".
// Its world-frame angular velocity and acceleration are turned into the
// car's axes.
inline constexpr std::size_t kLfsLength = 280;
bool decodeLfs(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record);

}  // namespace rez
