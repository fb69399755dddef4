#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tools/host/status.h"
#include "tools/host/transport.h"

namespace {

std::string shown(bool terminal, const std::vector<std::pair<double, std::string>>& lines) {
    std::FILE* f = std::tmpfile();
    if (f == nullptr) return "no temporary file";
    rez::host::StatusPrinter printer(f, terminal);
    for (const auto& [t, line] : lines) printer.show(t, line);
    printer.finish();
    std::rewind(f);
    std::string out;
    for (int c; (c = std::fgetc(f)) != EOF;) out += static_cast<char>(c);
    std::fclose(f);
    return out;
}

TEST(StatusLine, RedrawsInPlaceInATerminalAndOncePerSecondOtherwise) {
    const std::vector<std::pair<double, std::string>> lines = {
        {0.0, "first long"}, {0.25, "b"}, {0.5, "c"}, {1.0, "d"}, {1.3, "e"}, {2.1, "f"}};
    // A shorter line must wipe what the longer one before it left.
    EXPECT_EQ(shown(true, lines), "\rfirst long\rb         \rc\rd\re\rf\n");
    EXPECT_EQ(shown(false, lines), "first long\nd\nf\n");
}

TEST(TransportOption, TakesTheFourRoadsAndNothingElse) {
    struct Case {
        const char* text;
        bool ok;
        rez::host::TransportChoice::Kind kind;
        const char* port;
    };
    const Case cases[] = {
        {"none", true, rez::host::TransportChoice::None, ""},
        {"emulated", true, rez::host::TransportChoice::Emulated, ""},
        {"multicast", true, rez::host::TransportChoice::Multicast, ""},
        {"serial:COM12", true, rez::host::TransportChoice::Serial, "COM12"},
        {"serial:COM", false, {}, ""},
        {"serial:COM3x", false, {}, ""},
        {"serial:/dev/ttyUSB0", false, {}, ""},
        {"udp", false, {}, ""},
    };
    for (const Case& c : cases) {
        rez::host::TransportChoice choice;
        std::string error;
        ASSERT_EQ(rez::host::parseTransport(c.text, choice, error), c.ok) << c.text;
        if (!c.ok) {
            EXPECT_NE(error.find(c.text), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(choice.kind, c.kind) << c.text;
        EXPECT_EQ(choice.port, c.port) << c.text;
    }
}

}  // namespace
