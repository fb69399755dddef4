#include "controller/crc16.h"

#include <array>
#include <mutex>

namespace rez {

namespace {

constexpr std::uint16_t kReflectedPolynomial = 0xA001;

std::array<std::uint16_t, 256> crcTable;
std::once_flag crcTableReady;

// The serial link, the UDP threads and the engine may all make their first
// checksum at the same moment; call_once makes every one of them wait for a
// complete table.
void buildCrcTable() {
    for (std::uint16_t i = 0; i < 256; ++i) {
        std::uint16_t value = i;
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1u) ? static_cast<std::uint16_t>((value >> 1) ^ kReflectedPolynomial)
                                 : static_cast<std::uint16_t>(value >> 1);
        }
        crcTable[i] = value;
    }
}

}  // namespace

std::uint16_t crc16(const std::uint8_t* data, std::size_t count) noexcept {
    std::call_once(crcTableReady, buildCrcTable);
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < count; ++i) {
        crc = static_cast<std::uint16_t>((crc >> 8) ^ crcTable[(crc ^ data[i]) & 0xFFu]);
    }
    return crc;
}

}  // namespace rez
