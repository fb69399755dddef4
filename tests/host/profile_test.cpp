#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rezadedudid.h"
#include "tools/host/profile.h"

namespace {

using rez::host::Api;
using rez::host::Profile;

// Every call the profile makes, in order, as text.
std::vector<std::string> calls;

std::string num(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

Api recordingApi() {
    Api api;
    api.setcheckFilterstring = [](int p, int c, const char* t) {
        calls.push_back("filter " + std::to_string(p) + " " + std::to_string(c) + " " + t);
        return std::string(t).find("NOPE") == std::string::npos;
    };
    api.setActiveAxis = [](int p, int c, int e) {
        calls.push_back("enable " + std::to_string(p) + " " + std::to_string(c) + " " + std::to_string(e));
    };
    api.setBelt_Mix = [](int p, int i, double w) {
        calls.push_back("belt " + std::to_string(p) + " " + std::to_string(i) + " " + num(w));
    };
    api.SetInputDofLimitValue = [](int c, double lo, double hi) {
        calls.push_back("input " + std::to_string(c) + " " + num(lo) + " " + num(hi));
    };
    api.SetRigDofLimitValue = [](int c, double lo, double hi) {
        calls.push_back("rig " + std::to_string(c) + " " + num(lo) + " " + num(hi));
    };
    api.activateMotionCancel = [](bool on) { calls.push_back(std::string("cancel ") + (on ? "on" : "off")); };
    api.setFilterMotionCancel = [](double f) { calls.push_back("cancel filter " + num(f)); };
    api.setGainMotionCancel = [](double g) { calls.push_back("cancel gain " + num(g)); };
    api.initWindSerial = [](const wchar_t* port, int baud, const wchar_t* format, int interval) {
        calls.push_back("fan " + std::string(port, port + std::wcslen(port)) + " " + std::to_string(baud) + " " +
                        std::string(format, format + std::wcslen(format)) + " " + std::to_string(interval));
        return true;
    };
    return api;
}

TEST(ProfileFile, EverySettingReachesItsExport) {
    const std::string text =
        "# a comment line\n"
        "filter air 0 GAIN(EMALP(VALUE; 25);1.5)   # blanks inside the string stay\n"
        "filter\fground 22\vVALUE\n"  // any blank between the words (a crash once)
        "\n"
        "enable air 5 off\n"
        "enable ground 3 on\n"
        "belt-mix air 42 0.25\n"
        "input-limit 7 -10 10\n"
        "rig-limit 5 -1.5 2\n"
        "motion-cancel on\n"
        "motion-cancel-filter 30\n"
        "motion-cancel-gain 2\n"
        "fan COM5 19200 8N1 20\n";
    Profile p;
    std::vector<std::string> errors;
    ASSERT_TRUE(rez::host::parseProfile(text, "good.profile", p, errors)) << errors.front();
    calls.clear();
    const Api api = recordingApi();
    ASSERT_TRUE(rez::host::applyProfile(api, p, errors));
    const std::vector<std::string> expected = {
        "filter 0 0 GAIN(EMALP(VALUE; 25);1.5)", "filter 1 22 VALUE", "enable 0 5 0", "enable 1 3 1",
        "belt 0 42 0.25", "input 7 -10 10", "rig 5 -1.5 2", "cancel on", "cancel filter 30", "cancel gain 2",
        "fan COM5 19200 8N1 20"};
    EXPECT_EQ(calls, expected);
}

TEST(ProfileFile, BadLinesNameFileAndLineAndNothingElseIsApplied) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"filter air 0 VALUE\nwobble 3\n", "p:2: unknown setting \"wobble\""},
        {"filter sky 0 VALUE\n", "p:1: profile must be air or ground, not \"sky\""},
        {"filter air 23 VALUE\n", "p:1: channel must be a whole number 0 to 22, not \"23\""},
        {"filter air 1.5 VALUE\n", "p:1: channel must be a whole number 0 to 22, not \"1.5\""},
        {"filter air 0\n", "p:1: expected \"filter air|ground CHANNEL FILTER-STRING\""},
        {"filter air 0 VALUE\n\nfilter air 0 GAIN(VALUE;2)\n", "p:3: filter air 0 is already set on line 1"},
        {"enable air 0 maybe\n", "p:1: expected on or off, not \"maybe\""},
        {"belt-mix air 43 1\n", "p:1: slot must be a whole number 0 to 42, not \"43\""},
        {"belt-mix air 1 lots\n", "p:1: weight must be a number, not \"lots\""},
        {"input-limit 0 10 -10\n", "p:1: minimum is above maximum"},
        {"rig-limit 0 -1 nan\n", "p:1: minimum and maximum must be numbers"},
        {"rig-limit 0 -1\n", "p:1: expected \"rig-limit INDEX MINIMUM MAXIMUM\""},
        // Limits the library would never read.
        {"rig-limit 9 -1 1\n", "p:1: rig index must be a whole number 0 to 5, not \"9\""},
        {"input-limit 12 -1 1\n", "p:1: channel must be a whole number 0 to 7, not \"12\""},
        // The errors found at the end come in line order with the others.
        {"motion-cancel-gain 2\nwobble 3\n", "p:1: motion-cancel-filter and motion-cancel-gain have no effect unless "
                                             "motion-cancel is on"},
        {"motion-cancel on\nmotion-cancel-filter 0\n", "p:2: value must be at least 1"},
        {"motion-cancel-gain 2\n", "p:1: motion-cancel-filter and motion-cancel-gain have no effect unless "
                                   "motion-cancel is on"},
        {"fan COM5 9600 9X1\n", "p:1: format must be like 8N1, not \"9X1\""},
    };
    for (const Case& c : cases) {
        Profile p;
        std::vector<std::string> errors;
        EXPECT_FALSE(rez::host::parseProfile(c.text, "p", p, errors)) << c.text;
        ASSERT_FALSE(errors.empty()) << c.text;
        EXPECT_EQ(errors.front(), c.error) << c.text;
    }

    // A filter string the library refuses stops the profile before any other setting.
    Profile p;
    std::vector<std::string> errors;
    ASSERT_TRUE(rez::host::parseProfile("rig-limit 0 -1 1\nfilter air 2 NOPE(VALUE)\nfilter air 3 VALUE\n", "p", p,
                                        errors));
    calls.clear();
    EXPECT_FALSE(rez::host::applyProfile(recordingApi(), p, errors));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "p:2: the library refuses the filter string \"NOPE(VALUE)\"");
    EXPECT_EQ(calls, (std::vector<std::string>{"filter 0 2 NOPE(VALUE)", "filter 0 3 VALUE"}));
}

// The shipped profiles parse, and the library's own checker takes every
// filter string in them.
TEST(ProfileFile, ShippedProfilesAreAcceptedByTheLibrary) {
    // The build gives this file's name relative to the build folder.
    std::string example = __FILE__;
    if (example[0] == '.') example = std::string(REZ_HELPER_DIR) + "/" + example;
    example = example.substr(0, example.find_last_of("/\\")) + "/../../profiles/example.profile";
    struct Shipped {
        std::string name;
        bool fromFile;
    };
    // The built-in profiles go by a game of their kind: a car, a flight simulator, a coaster.
    for (const Shipped& s : {Shipped{example, true}, Shipped{"assetto_corsa", false}, Shipped{"xplane", false},
                             Shipped{"nolimits_2", false}}) {
        Profile p;
        std::vector<std::string> errors;
        const bool parsed = s.fromFile ? rez::host::loadProfile(s.name, p, errors)
                                       : rez::host::parseProfile(rez::host::defaultProfileText(s.name), s.name, p, errors);
        ASSERT_TRUE(parsed) << s.name << ": " << errors.front();
        EXPECT_FALSE(p.filters.empty()) << s.name;
        EXPECT_FALSE(p.rigLimits.empty()) << s.name << ": without rig limits every cue is held at 0";
        Api api;
        api.setcheckFilterstring = &::setcheckFilterstring;
        for (const Profile::Filter& f : p.filters)
            EXPECT_TRUE(api.setcheckFilterstring(f.profile, f.channel, f.text.c_str())) << s.name << ":" << f.line;
    }
}

}  // namespace
