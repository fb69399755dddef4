#include "filters/filter_kind.h"

#include <array>

namespace rez {

std::string_view filterKindName(FilterKind kind) noexcept {
    static constexpr std::array<std::string_view, kFilterKindCount> names{
        "VALUE", "EMALP",    "EMAHP",    "MUL",     "GAIN",  "LOGISTIC", "CROP",     "ROLLOVER",
        "REMAP", "NOISE",    "BITSCALE", "BITSCALESIGNED", "SINUS", "ABS", "SETVALUE", "ADD"};
    const auto index = static_cast<std::int32_t>(kind);
    if (index < 0 || index >= kFilterKindCount) return "UNKNOWN";
    return names[static_cast<std::size_t>(index)];
}

}  // namespace rez
