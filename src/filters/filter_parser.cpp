#include "filters/filter_parser.h"

#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <string>

namespace rez {

namespace {

// The C locale's blanks; std::isspace would follow whatever locale the host
// process has set.
bool isBlank(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c) noexcept { return c >= '0' && c <= '9'; }

int hexValue(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Characters that can appear in a number text, blanks around it included.
// Anything else after the last ';' rules the argument out as a number.
bool mayBeInNumber(char c) noexcept {
    return hexValue(c) >= 0 || c == 'x' || c == '+' || c == '-' || c == '.' || c == ',' || isBlank(c);
}

std::string_view trim(std::string_view s) noexcept {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

char upper(char c) noexcept { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// "0x..." (unsigned, at most 32 bits) or "-0x..." (signed 64-bit). The text
// is known to start with the prefix.
bool parseHex(std::string_view n, double& out) noexcept {
    const bool negative = n.front() == '-';
    const std::string_view digits = n.substr(negative ? 3 : 2);
    if (digits.empty()) return false;  // "0x" alone has no digits to read
    const std::uint64_t cap = negative ? (std::uint64_t{1} << 63) : std::uint64_t{0xFFFFFFFFu};
    std::uint64_t value = 0;
    for (char c : digits) {
        const int v = hexValue(c);
        if (v < 0) return false;
        if (value > (cap - static_cast<std::uint64_t>(v)) / 16) return false;
        value = value * 16 + static_cast<std::uint64_t>(v);
    }
    if (negative) {
        const std::int64_t signedValue =
            value == (std::uint64_t{1} << 63) ? INT64_MIN : -static_cast<std::int64_t>(value);
        out = static_cast<double>(signedValue);
    } else {
        out = static_cast<double>(value);
    }
    return true;
}

// Digits with an optional sign and one optional point, ',' counting as the
// point; like strtod, the longest readable beginning is taken (1.2.3 reads
// 1.2, 5-1 reads 5). from_chars keeps the result independent of the host's
// locale.
bool parseDecimal(std::string_view n, double& out) {
    for (char c : n)
        if (!(isDigit(c) || c == '+' || c == '-' || c == '.' || c == ',')) return false;

    std::string text(n);
    for (char& c : text)
        if (c == ',') c = '.';

    std::size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
    const std::size_t mantissaStart = pos;
    std::size_t digitCount = 0;
    bool nonZero = false;
    while (pos < text.size() && isDigit(text[pos])) {
        nonZero = nonZero || text[pos] != '0';
        ++pos;
        ++digitCount;
    }
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        while (pos < text.size() && isDigit(text[pos])) {
            nonZero = nonZero || text[pos] != '0';
            ++pos;
            ++digitCount;
        }
    }
    if (digitCount == 0) return false;

    double magnitude = 0.0;
    const char* first = text.data() + mantissaStart;
    const char* last = text.data() + pos;
    const auto result = std::from_chars(first, last, magnitude, std::chars_format::fixed);
    if (result.ec != std::errc{} || result.ptr != last) return false;
    // Out of the double range: too large, or too small to be held as a
    // normal double (what strtod reports as a range error).
    if (!std::isfinite(magnitude)) return false;
    if (nonZero && magnitude < DBL_MIN) return false;
    out = negative ? -magnitude : magnitude;
    return true;
}

bool parseNumber(std::string_view n, double& out) {
    const std::string_view afterSign = (!n.empty() && n.front() == '-') ? n.substr(1) : n;
    if (afterSign.size() >= 2 && afterSign[0] == '0' && afterSign[1] == 'x') return parseHex(n, out);
    return parseDecimal(n, out);
}

struct KeywordEntry {
    std::string_view keyword;
    FilterKind kind;
    int paramCount;
};

// In lookup order.
constexpr KeywordEntry kKeywords[] = {
    {"ABS", FilterKind::ABS, 0},
    {"SETVALUE", FilterKind::SETVALUE, 1},
    {"ADD", FilterKind::ADD, 1},
    {"EMALP", FilterKind::EMALP, 1},
    {"EMAHP", FilterKind::EMAHP, 1},
    {"GAIN", FilterKind::GAIN, 1},
    {"MUL", FilterKind::MUL, 1},
    {"ROLLOVER", FilterKind::ROLLOVER, 1},
    {"CROP", FilterKind::CROP, 2},
    {"LOGISTIC", FilterKind::LOGISTIC, 2},
    {"REMAP", FilterKind::REMAP, 4},
    {"NOISE", FilterKind::NOISE, 3},
    {"BITSCALE", FilterKind::BITSCALE, 2},
    {"BITSCALESIGNED", FilterKind::BITSCALESIGNED, 2},
    {"SINUS", FilterKind::SINUS, 2},
};

const KeywordEntry* findKeyword(std::string_view raw) {
    const std::string_view trimmed = trim(raw);
    // No keyword is longer than this; longer text cannot match.
    if (trimmed.size() > 14) return nullptr;
    char buffer[14];
    for (std::size_t i = 0; i < trimmed.size(); ++i) buffer[i] = upper(trimmed[i]);
    const std::string_view keyword(buffer, trimmed.size());
    for (const KeywordEntry& entry : kKeywords)
        if (entry.keyword == keyword) return &entry;
    return nullptr;
}

// Builds the chain for `text`; empty on any error.
std::shared_ptr<FilterSys> buildChain(std::string_view text) {
    std::shared_ptr<FilterSys> head;
    std::shared_ptr<FilterSys> tail;
    // Appending after the node added last is what appendFilter does after
    // walking to the tail; the parser knows the tail and skips the walk, so
    // deep nesting stays linear.
    auto append = [&](FilterKind kind, const double (&p)[4]) {
        auto node = FilterSys::create(kind, static_cast<float>(p[0]), static_cast<float>(p[1]),
                                      static_cast<float>(p[2]), static_cast<float>(p[3]));
        if (!head)
            head = node;
        else
            FilterSys::link(tail, node);
        tail = std::move(node);
    };

    std::string_view w = trim(text);
    for (;;) {
        if (w == "VALUE") {
            append(FilterKind::VALUE, {0, 0, 0, 0});
            return head;
        }
        const std::size_t open = w.find('(');
        const std::size_t close = w.rfind(')');
        if (open == std::string_view::npos || close == std::string_view::npos || close <= open) return nullptr;

        const KeywordEntry* entry = findKeyword(w.substr(0, open));
        if (!entry) return nullptr;
        std::string_view args = w.substr(open + 1, close - open - 1);

        double params[4] = {0, 0, 0, 0};
        if (entry->paramCount == 0) {
            double ignored = 0;
            if (takeTrailingNumber(args, ignored)) return nullptr;
        }
        for (int i = entry->paramCount - 1; i >= 0; --i)
            if (!takeTrailingNumber(args, params[i])) return nullptr;

        if ((entry->kind == FilterKind::EMALP || entry->kind == FilterKind::EMAHP) && params[0] < 1.0)
            return nullptr;
        if (entry->kind == FilterKind::REMAP && std::fabs(params[1] - params[0]) < 1e-9) return nullptr;

        append(entry->kind, params);
        w = args;
    }
}

}  // namespace

bool takeTrailingNumber(std::string_view& args, double& number) {
    // Walking back from the end stops at the first character that no number
    // can hold, so a nested argument like "GAIN(VALUE;2)" is ruled out at
    // its last ')' instead of being searched for its last ';'.
    std::size_t i = args.size();
    while (i > 0 && args[i - 1] != ';') {
        if (!mayBeInNumber(args[i - 1])) return false;
        --i;
    }
    if (i == 0 || i == args.size()) return false;
    const std::size_t separator = i - 1;

    double value = 0;
    if (!parseNumber(trim(args.substr(separator + 1)), value)) return false;
    number = value;
    args = args.substr(0, separator);
    return true;
}

std::shared_ptr<FilterSys> parseFilterString(std::string_view text) {
    std::shared_ptr<FilterSys> head = buildChain(text);
    if (!head) return FilterSys::createInvalid();
    head->buildPlan();
    head->valid.store(true, std::memory_order_release);
    return head;
}

}  // namespace rez
