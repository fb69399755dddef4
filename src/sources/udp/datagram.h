#pragma once
// Checked loads from one received datagram, and the conversions the UDP
// readers share.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/bytes.h"
#include "sources/game_data_record.h"
#include "sources/gravity.h"

namespace rez {

class Datagram {
public:
    Datagram(const std::uint8_t* bytes, std::size_t length) : bytes_(bytes), length_(length) {}
    // A value that would reach past the end of the datagram reads as 0.
    double f32(std::size_t offset) const { return load_le_checked<float>(bytes_, length_, offset); }
    std::uint16_t u16(std::size_t offset) const { return load_le_checked<std::uint16_t>(bytes_, length_, offset); }
    std::uint8_t u8(std::size_t offset) const { return load_le_checked<std::uint8_t>(bytes_, length_, offset); }

private:
    const std::uint8_t* bytes_;
    std::size_t length_;
};

inline double degrees(double radians) { return radians * 180.0 / kPiShort; }

// The text of a datagram: its bytes up to its length or its first NUL.
inline std::size_t textLength(const std::uint8_t* bytes, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        if (bytes[i] == 0) return i;
    return length;
}

// The number at the start of [begin, end), read like the C library's strtod
// reads it (leading white space, a sign, digits, point, exponent, trailing
// text ignored) but without its locale. Nothing when no number starts there
// or it does not fit the type, and nothing for "nan", "inf" and the like
// (an export script prints a broken value that way, "-nan(ind)" from the
// Microsoft C runtime): such a text is no number to us.
template <class T>
std::optional<T> leadingNumber(const char* begin, const char* end) {
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
    while (begin != end && space(*begin)) ++begin;
    if (begin != end && *begin == '+') {
        ++begin;
        if (begin != end && (*begin == '+' || *begin == '-')) return std::nullopt;
    }
    T value{};
    const auto [next, error] = std::from_chars(begin, end, value);
    if (error != std::errc{} || next == begin || !std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace rez
