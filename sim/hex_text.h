#pragma once
// Bytes as lower-case hex text and back, for the line-per-request reports
// the stand-ins give across processes (a controller's frames, a multicast
// member's datagrams).
#include <cstdint>
#include <string>
#include <vector>

namespace rez::sim {

inline std::string hexOf(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const auto b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 0xF];
    }
    return hex;
}

// False (with `out` undefined) when `hex` is not pairs of hex digits.
inline bool bytesOfHex(const std::string& hex, std::vector<std::uint8_t>& out) {
    auto digit = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    if (hex.size() % 2 != 0) return false;
    out.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = digit(hex[i]), low = digit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        out.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return true;
}

}  // namespace rez::sim
