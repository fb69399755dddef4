#pragma once
// The sixteen filters a chain node can run. The numeric values are part of the
// filter language's contract and never change.
#include <cstdint>
#include <string_view>

namespace rez {

enum class FilterKind : std::int32_t {
    VALUE = 0,
    EMALP = 1,
    EMAHP = 2,
    MUL = 3,
    GAIN = 4,
    LOGISTIC = 5,
    CROP = 6,
    ROLLOVER = 7,
    REMAP = 8,
    NOISE = 9,
    BITSCALE = 10,
    BITSCALESIGNED = 11,
    SINUS = 12,
    ABS = 13,
    SETVALUE = 14,
    ADD = 15,
};

inline constexpr int kFilterKindCount = 16;

// The keyword of a kind as written in filter texts; "UNKNOWN" for any value
// outside 0..15.
std::string_view filterKindName(FilterKind kind) noexcept;

}  // namespace rez
