// Texts that reach the fan port: the wide strings of the export and the
// line format letters.
#include <gtest/gtest.h>

#include "controller/wind_serial.h"

namespace rez::wind {
namespace {

using platform::SerialParity;
using platform::SerialStopBits;

TEST(LineFormat, ReadsDataBitsParityAndStopBits) {
    struct Case {
        const char* format;
        int dataBits;
        SerialParity parity;
        SerialStopBits stopBits;
    };
    const Case cases[] = {
        {"8N1", 8, SerialParity::None, SerialStopBits::One},
        {"7e2", 7, SerialParity::Even, SerialStopBits::Two},
        {"7E1", 7, SerialParity::Even, SerialStopBits::One},
        {"8o1", 8, SerialParity::Odd, SerialStopBits::One},
        {"5n2", 5, SerialParity::None, SerialStopBits::Two},
        // The port, not the parser, refuses sizes it cannot do.
        {"9N1", 9, SerialParity::None, SerialStopBits::One},
    };
    for (const Case& c : cases) {
        const auto line = parseLineFormat(c.format);
        ASSERT_TRUE(line.has_value()) << c.format;
        EXPECT_EQ(line->dataBits, c.dataBits) << c.format;
        EXPECT_EQ(line->parity, c.parity) << c.format;
        EXPECT_EQ(line->stopBits, c.stopBits) << c.format;
    }
}

TEST(LineFormat, RefusesMalformedFormats) {
    for (const char* format : {"", "8N", "8N11", "8X1", "8M1", "8N3", "8N0", "8 1", " 8N1"})
        EXPECT_FALSE(parseLineFormat(format).has_value()) << '"' << format << '"';
}

TEST(WideText, BecomesUtf8) {
    struct Case {
        const wchar_t* wide;
        const char* utf8;
    };
    const Case cases[] = {
        {L"COM5", "COM5"},
        {L"", ""},
        {L"8N1", "8N1"},
        {L"\u00e9", "\xC3\xA9"},
        {L"\u20ac", "\xE2\x82\xAC"},
        {L"\U0001F600", "\xF0\x9F\x98\x80"},  // a surrogate pair where wchar_t is 16 bits
        {L"a\U00010000b", "a\xF0\x90\x80\x80" "b"},
    };
    for (const Case& c : cases) EXPECT_EQ(toUtf8(c.wide), c.utf8);
    EXPECT_EQ(toUtf8(nullptr), "");

    // A lone surrogate (or, with 32-bit wchar_t, a value past Unicode) is
    // replaced, not passed on as broken UTF-8.
    const wchar_t lone[] = {L'A', static_cast<wchar_t>(0xD800), L'B', L'\0'};
    EXPECT_EQ(toUtf8(lone), "A\xEF\xBF\xBD" "B");
}

}  // namespace
}  // namespace rez::wind
