#pragma once
// CRC-16/ARC (reflected polynomial 0xA001, initial value 0, no final xor), the
// checksum the motion controller expects in a frame trailer, low byte first.
#include <cstddef>
#include <cstdint>
#include <span>

namespace rez {

// CRC of `count` bytes starting at `data`; 0 for no bytes (data may then be null).
std::uint16_t crc16(const std::uint8_t* data, std::size_t count) noexcept;

inline std::uint16_t crc16(std::span<const std::uint8_t> bytes) noexcept {
    return crc16(bytes.data(), bytes.size());
}

}  // namespace rez
