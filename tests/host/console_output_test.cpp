#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>

#include "platform/clock.h"
#include "sim/emulated_controller.h"
#include "sim/fake_sysfs.h"
#include "tools/host/api.h"
#include "tools/host/status.h"
#include "tools/host/summary.h"
#include "tools/host/transport.h"

namespace {

using rez::host::OutputState;

std::string shown(bool terminal, const std::vector<std::pair<double, std::string>>& lines) {
    std::FILE* f = std::tmpfile();
    if (f == nullptr) return "no temporary file";
    rez::host::StatusPrinter printer(f, terminal);
    for (const auto& [t, line] : lines) line == "!" ? printer.note("warning") : printer.show(t, {line, line + "2"});
    printer.finish();
    std::rewind(f);
    std::string out;
    for (int c; (c = std::fgetc(f)) != EOF;) out += static_cast<char>(c);
    std::fclose(f);
    return out;
}

TEST(StatusLine, RedrawsBothLinesInPlaceInATerminalAndOncePerSecondOtherwise) {
    const std::vector<std::pair<double, std::string>> lines = {
        {0.0, "a"}, {0.25, "b"}, {0.5, "!"}, {1.0, "d"}, {1.3, "e"}, {2.1, "f"}};
    // Up one line over the first line; each line erased behind it; a note
    // takes the status's place and the next status starts below it.
    EXPECT_EQ(shown(true, lines), "a\x1b[K\r\na2\x1b[K\r\x1b[1Ab\x1b[K\r\nb2\x1b[K\r\x1b[1A\x1b[Jwarning\n"
                                  "d\x1b[K\r\nd2\x1b[K\r\x1b[1Ae\x1b[K\r\ne2\x1b[K\r\x1b[1Af\x1b[K\r\nf2\x1b[K\n");
    EXPECT_EQ(shown(false, lines), "a\na2\nwarning\nd\nd2\nf\nf2\n");
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

TEST(StatusLine, FitsOneHundredColumnsAndLabelsWhatItShows) {
    const struct { int gameId, ground; OutputState output; bool low, silent; const char *shows, *hides; } cases[] = {
        {3, 0, OutputState::Live, false, false, "live", "air "},  // a car has no air/ground blend
        {15, 1, OutputState::FadingIn, false, false, "fading in  37%  ground: air  37%", "flying"},
        {0, 0, OutputState::Live, false, false, "flying: air  37%", "ground"},
        {3, 0, OutputState::ToRest, false, false, "to rest  37%", "fading"},
        {2, 1, OutputState::ToRest, true, false, "t/s LOW", "NO ANSWER"},
        {15, 1, OutputState::Live, true, true, "NO ANSWER 0/3600", "acked"},
    };
    for (const auto& c : cases) {
        rez::host::StatusView v;
        // The library's longest game name is a car's; the flight simulators' are short.
        v.seconds = 99999.9, v.game = c.gameId == 3 ? "PCAR2/Automobilista2/" : "MSFS2024", v.gameId = c.gameId;
        v.groundState = c.ground, v.ticksPerSecond = c.low ? 431 : 500, v.jitterMs = 12.345, v.output = c.output;
        v.fadePercent = v.airPercent = 37, v.ticks = v.framesReceived = 99999999, v.requests = 3600;
        v.replies = c.silent ? 0 : 3600, v.lowTickRate = c.low, v.silentController = c.silent;
        for (float& r : v.rig) r = -200.0f;
        const auto lines = rez::host::formatStatus(v);
        const std::string both = lines[0] + "\n" + lines[1];
        for (const std::string& line : lines) EXPECT_LE(line.size(), rez::host::kStatusWidth) << line;
        for (const char* part : {c.shows, "ticks 99999999", "recv 99999999"})
            EXPECT_NE(both.find(part), std::string::npos) << both;
        EXPECT_EQ(both.find(c.hides), std::string::npos) << both;
    }
}

TEST(RunEnd, SaysRestSkippedUnlessTheOutputsReachedRest) {
    const double minimum[6] = {-100, -100, 5, -200, -200, -200}, maximum[6] = {100, 100, 100, 200, 200, -3};
    EXPECT_TRUE(rez::host::outputsAtRest({0, 0, 5, 0, 0, -3}, minimum, maximum)) << "rest is 0 bounded by the limits";
    EXPECT_FALSE(rez::host::outputsAtRest({0, 6.6f, 5, 0, 0, -3}, minimum, maximum));
    const std::pair<int, const char*> cases[] = {
        {0, "rig at rest, link stopped"},  // a rest that finished, whatever Ctrl-C came after
        {2, "rest skipped (Ctrl-C again): the rig holds lat 0.0 lon 6.6 ver 8.3"},
        {1, "rest skipped: the outputs did not reach rest within 8 s: the rig holds"}};
    for (const auto& [stops, says] : cases) {
        const auto end = rez::host::judgeRestEnd(stops == 0, stops == 0 ? 2 : stops);
        const std::string line = rez::host::restEndLine(end, false, 62, {0, 6.6f, 8.3f, 0, 0, 4.9f}, 8);
        EXPECT_EQ(line.find(says), 0u + std::string("rezadedudid-host: ").size()) << line;
    }
}

TEST(SerialPortCheck, RefusesAMissingPortOrOneNoControllerCanBeBehind) {
    if (!rez::sim::FakeSysfs::supported()) GTEST_SKIP() << "the COM list comes from SetupAPI here";
    rez::sim::FakeSysfs sysfs;
    rez::sim::FakeComFolder folder;
    ASSERT_TRUE(folder.addPort("com3", "ttyUSB3") && folder.addPort("com4", "ttyUSB4") &&
                folder.addPort("com12", "ttyUSB12") && folder.addPort("com5", ""));
    ASSERT_TRUE(sysfs.addUsbTty("ttyUSB3", "1a86", "7523", "0264") && sysfs.addUsbTty("ttyUSB12", "1a86", "7523", "") &&
                sysfs.addUsbTty("ttyUSB4", "1234", "5678", ""));
    const std::pair<const char*, const char*> cases[] = {
        {"COM3", ""}, {"COM12", ""},
        {"COM4", "COM4 is ttyUSB4 (USB\\VID_1234&PID_5678), not one of the USB serial adapters"},
        {"COM5", "there is no port COM5 on this machine (ports: COM3, COM4, COM12)"},
        {"COM1", "there is no port COM1 on this machine"},  // not COM12's by a plain substring search
    };
    for (const auto& [port, says] : cases) {
        std::string error;
        EXPECT_EQ(rez::host::checkSerialPort(port, error), *says == '\0') << port << ": " << error;
        EXPECT_EQ(error.rfind(says, 0), 0u) << port << ": " << error;
    }
}

TEST(SerialTransport, GivesUpOnADeviceThatDoesNotAnswerWithinTheDeadline) {
    using Identity = rez::sim::EmulatedController::Identity;
    const std::tuple<Identity, int, const char*> cases[] = {{Identity::Value1Marker, 5000, ""},
                                                            {Identity::Silent, 1500, "no controller answered on COM"},
                                                            {Identity::Unknown, 15000, "the device on COM"}};
    for (const auto& [identity, deadlineMs, says] : cases) {
        rez::sim::EmulatedController controller;
        controller.setIdentity(identity);
        std::string error;
        if (!controller.open(error)) GTEST_SKIP() << "no line for a controller here: " << error;
        rez::host::Library library;
        ASSERT_TRUE(library.load(REZ_LIBRARY_PATH, error)) << error;
        auto transport = rez::host::makeSerialTransport(controller.portName(), deadlineMs);
        const std::int64_t begun = rez::platform::counterNow();
        EXPECT_EQ(transport->start(library.api, error), *says == '\0') << error;
        EXPECT_EQ(error.rfind(says, 0), 0u) << error;
        // The library alone would wait for a silent device 3 x 10 s.
        EXPECT_LT(rez::platform::counterNow() - begun, (deadlineMs + 5000) * rez::platform::counterFrequency() / 1000);
        transport->stop();
        library.unload();
    }
}

}  // namespace
