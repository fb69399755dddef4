#pragma once
// The filter-string language: filters nested like calls around the keyword
// VALUE, e.g. GAIN(EMALP(VALUE;25);1.5).
#include <memory>
#include <string_view>

#include "filters/filter_sys.h"

namespace rez {

// Parses a filter text into a chain. Never gives an empty pointer: a good text
// gives a chain whose head is valid; a bad one gives a fresh single node that
// is not valid (see FilterSys::createInvalid).
std::shared_ptr<FilterSys> parseFilterString(std::string_view text);

// When `args` ends in ';' followed by a well-formed number (decimal with '.'
// or ',' as the point, or 0x hexadecimal), stores the number, cuts `args` to
// the text before that ';' and gives true; otherwise leaves both untouched
// and gives false.
bool takeTrailingNumber(std::string_view& args, double& number);

}  // namespace rez
