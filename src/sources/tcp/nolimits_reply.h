#pragma once
// The roller-coaster simulator's telemetry server speaks in framed messages,
// all numbers big-endian: 'N', type (16 bits), request id (32 bits), data
// size (16 bits), the data, 'L'. This file builds the requests and decodes
// the telemetry reply, as plain functions over bytes, so the reader, the
// fake server of the tests and the fuzzer run the same code. A reply is
// untrusted: the decoder reads only inside the bytes it is given.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace rez {

inline constexpr std::uint16_t kNoLimitsPort = 15151;

// Message types.
inline constexpr std::uint16_t kNoLimitsIdle = 0;          // to the server; detection only
inline constexpr std::uint16_t kNoLimitsGetTelemetry = 5;  // to the server, every read
inline constexpr std::uint16_t kNoLimitsTelemetry = 6;     // from the server

// Request ids this client puts in its requests.
inline constexpr std::uint32_t kNoLimitsIdleRequestId = 1234;
inline constexpr std::uint32_t kNoLimitsTelemetryRequestId = 3243;

inline constexpr std::size_t kNoLimitsHeaderBytes = 9;      // 'N', type, request id, size
inline constexpr std::size_t kNoLimitsRequestBytes = 10;    // a message without data
inline constexpr std::size_t kNoLimitsTelemetryDataBytes = 76;
inline constexpr std::size_t kNoLimitsTelemetryBytes = 86;  // 'L' at byte 85

struct NoLimitsTelemetry {
    // Bits of the simulator's own: riding, braking, paused ...; 0 when no
    // ride is under way.
    std::int32_t state = 0;
    std::int32_t frame = 0;  // rendered frame number
    std::int32_t viewMode = 0;
    std::int32_t coaster = 0;
    std::int32_t coasterStyle = 0;
    std::int32_t train = 0;
    std::int32_t car = 0;
    std::int32_t seat = 0;
    float speed = 0.0f;
    std::array<float, 3> position{};
    std::array<float, 4> rotation{0.0f, 0.0f, 0.0f, 1.0f};  // quaternion x, y, z, w
    std::array<float, 3> gForce{};
};

// One whole message: header, `data`, end marker. Data longer than a 16-bit
// size can say is cut to that size.
std::vector<std::uint8_t> noLimitsMessage(std::uint16_t type, std::uint32_t requestId,
                                          const std::uint8_t* data = nullptr, std::size_t size = 0);
// A request without data (idle or get telemetry): 10 bytes.
std::array<std::uint8_t, kNoLimitsRequestBytes> noLimitsRequest(std::uint16_t type, std::uint32_t requestId);

// The telemetry message at the start of `bytes`, whatever follows it; nothing
// unless all 86 bytes are there with 'N', type 6, a data size of 76 and 'L'
// at byte 85.
std::optional<NoLimitsTelemetry> decodeNoLimitsReply(const std::uint8_t* bytes, std::size_t length);

// The 76 data bytes of a telemetry message (the fake server's side).
std::array<std::uint8_t, kNoLimitsTelemetryDataBytes> encodeNoLimitsTelemetry(const NoLimitsTelemetry& telemetry);

}  // namespace rez
