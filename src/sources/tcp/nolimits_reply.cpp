#include "sources/tcp/nolimits_reply.h"

#include <algorithm>
#include <bit>
#include <limits>

#include "core/bytes.h"

namespace rez {

namespace {

constexpr std::uint8_t kLead = 'N';
constexpr std::uint8_t kEnd = 'L';

float loadFloatBe(const std::uint8_t* p) { return std::bit_cast<float>(load_be<std::uint32_t>(p)); }
void storeFloatBe(std::uint8_t* p, float v) { store_be<std::uint32_t>(p, std::bit_cast<std::uint32_t>(v)); }

}  // namespace

std::vector<std::uint8_t> noLimitsMessage(std::uint16_t type, std::uint32_t requestId, const std::uint8_t* data,
                                          std::size_t size) {
    size = std::min<std::size_t>(data != nullptr ? size : 0, std::numeric_limits<std::uint16_t>::max());
    std::vector<std::uint8_t> message(kNoLimitsHeaderBytes + size + 1);
    message[0] = kLead;
    store_be<std::uint16_t>(&message[1], type);
    store_be<std::uint32_t>(&message[3], requestId);
    store_be<std::uint16_t>(&message[7], static_cast<std::uint16_t>(size));
    if (size > 0) std::copy_n(data, size, message.begin() + kNoLimitsHeaderBytes);
    message.back() = kEnd;
    return message;
}

std::array<std::uint8_t, kNoLimitsRequestBytes> noLimitsRequest(std::uint16_t type, std::uint32_t requestId) {
    std::array<std::uint8_t, kNoLimitsRequestBytes> request{};
    const auto message = noLimitsMessage(type, requestId);
    std::copy(message.begin(), message.end(), request.begin());
    return request;
}

std::optional<NoLimitsTelemetry> decodeNoLimitsReply(const std::uint8_t* bytes, std::size_t length) {
    // The end marker is looked for only in bytes that arrived: the receive
    // area still holds older replies beyond them.
    if (bytes == nullptr || length < kNoLimitsTelemetryBytes) return std::nullopt;
    if (bytes[0] != kLead || load_be<std::uint16_t>(bytes + 1) != kNoLimitsTelemetry ||
        load_be<std::uint16_t>(bytes + 7) != kNoLimitsTelemetryDataBytes || bytes[kNoLimitsTelemetryBytes - 1] != kEnd)
        return std::nullopt;

    const std::uint8_t* d = bytes + kNoLimitsHeaderBytes;
    auto i32 = [d](std::size_t at) { return load_be<std::int32_t>(d + at); };
    auto f32 = [d](std::size_t at) { return loadFloatBe(d + at); };
    NoLimitsTelemetry t;
    t.state = i32(0);
    t.frame = i32(4);
    t.viewMode = i32(8);
    t.coaster = i32(12);
    t.coasterStyle = i32(16);
    t.train = i32(20);
    t.car = i32(24);
    t.seat = i32(28);
    t.speed = f32(32);
    for (std::size_t i = 0; i < 3; ++i) t.position[i] = f32(36 + 4 * i);
    for (std::size_t i = 0; i < 4; ++i) t.rotation[i] = f32(48 + 4 * i);
    for (std::size_t i = 0; i < 3; ++i) t.gForce[i] = f32(64 + 4 * i);
    return t;
}

std::array<std::uint8_t, kNoLimitsTelemetryDataBytes> encodeNoLimitsTelemetry(const NoLimitsTelemetry& t) {
    std::array<std::uint8_t, kNoLimitsTelemetryDataBytes> d{};
    const std::int32_t ints[] = {t.state, t.frame, t.viewMode, t.coaster, t.coasterStyle, t.train, t.car, t.seat};
    for (std::size_t i = 0; i < 8; ++i) store_be<std::int32_t>(&d[4 * i], ints[i]);
    storeFloatBe(&d[32], t.speed);
    for (std::size_t i = 0; i < 3; ++i) storeFloatBe(&d[36 + 4 * i], t.position[i]);
    for (std::size_t i = 0; i < 4; ++i) storeFloatBe(&d[48 + 4 * i], t.rotation[i]);
    for (std::size_t i = 0; i < 3; ++i) storeFloatBe(&d[64 + 4 * i], t.gForce[i]);
    return d;
}

}  // namespace rez
