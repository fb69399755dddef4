#include "controller/crc16.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "controller/frame_parser.h"

namespace rez {
namespace {

// Bit-at-a-time CRC-16/ARC, written independently of the table-driven one.
std::uint16_t referenceCrc16Arc(const std::vector<std::uint8_t>& bytes) {
    std::uint16_t crc = 0;
    for (std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            const bool lowBit = (crc & 1u) != 0;
            crc = static_cast<std::uint16_t>(crc >> 1);
            if (lowBit) crc ^= 0xA001;
        }
    }
    return crc;
}

TEST(Crc16, MatchesCheckValueAndEmptyInput) {
    const std::uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(crc16(digits, sizeof digits), 0xBB3D);
    EXPECT_EQ(crc16(nullptr, 0), 0);
    EXPECT_EQ(crc16(digits, 0), 0);
}

TEST(Crc16, AgreesWithBitwiseReferenceOnRandomInput) {
    std::mt19937 rng(20240611);
    std::uniform_int_distribution<int> byteDist(0, 255);
    for (std::size_t length = 0; length < 600; length += 7) {
        std::vector<std::uint8_t> bytes(length);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(byteDist(rng));
        ASSERT_EQ(crc16(bytes), referenceCrc16Arc(bytes)) << "length " << length;
    }
}

TEST(Crc16, ChecksumFormIdentityRepliesCarryTheirChecksum) {
    // F9 F9 01 00 01 00 88 11 and F9 F9 01 00 02 00 88 E1, trailer low byte first.
    EXPECT_EQ(crc16(kIdentityReplies[1].data(), 6), 0x1188);
    EXPECT_EQ(crc16(kIdentityReplies[3].data(), 6), 0xE188);
}

TEST(Crc16, WriteChecksumTrailerReplacesTheEndMarker) {
    std::vector<std::uint8_t> markerOnly{0x0A, 0x0D};
    writeChecksumTrailer(markerOnly);
    EXPECT_EQ(markerOnly, (std::vector<std::uint8_t>{0x00, 0x00}));

    std::vector<std::uint8_t> request(kIdentityReplies[0].begin(), kIdentityReplies[0].end());
    writeChecksumTrailer(request);
    EXPECT_EQ(request, std::vector<std::uint8_t>(kIdentityReplies[1].begin(), kIdentityReplies[1].end()));

    std::vector<std::uint8_t> tooShort{0x0A};
    writeChecksumTrailer(tooShort);
    EXPECT_EQ(tooShort, std::vector<std::uint8_t>{0x0A});
}

}  // namespace
}  // namespace rez
