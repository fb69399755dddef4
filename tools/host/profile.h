#pragma once
// Profile files: the settings a host hands the library before the engine
// starts (filter strings, enable flags, belt mix, input and rig limits,
// motion cancel, the fan port), one setting per line. The format is
// described in docs/profile-format.md.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "tools/host/api.h"

namespace rez::host {

struct Profile {
    struct Filter {
        int profile = 0;  // 0 air, 1 ground
        int channel = 0;
        std::string text;
        int line = 0;
    };
    struct Enable {
        int profile = 0;
        int channel = 0;
        bool on = true;
    };
    struct Limit {
        int index = 0;
        double minimum = 0, maximum = 0;
    };
    struct Belt {
        int profile = 0;
        int index = 0;
        double weight = 0;
    };
    struct Fan {
        std::string port;
        int baudRate = 9600;
        std::string format = "8N1";
        int intervalMs = 15;
        int line = 0;
    };

    std::string fileName;  // for messages
    std::vector<Filter> filters;
    std::vector<Enable> enables;
    std::vector<Belt> beltMix;
    std::vector<Limit> inputLimits;
    std::vector<Limit> rigLimits;
    std::optional<bool> motionCancel;
    std::optional<double> motionCancelFilter;
    std::optional<double> motionCancelGain;
    std::optional<Fan> fan;
};

// A profile's effect as one value per setting: what the library holds after
// the profile is applied to a freshly loaded library (which starts every
// channel with "VALUE" and enabled, every belt weight and limit at 0). Two
// profiles that give equal settings drive the rig the same way, whatever
// their order of lines, comments or spelling of numbers. The tuning page
// keeps the host's current settings in one of these.
struct ProfileSettings {
    static constexpr int kChannels = 23;
    static constexpr int kSlots = 43;
    struct Range {
        double minimum = 0, maximum = 0;
        bool operator==(const Range&) const = default;
    };
    struct Fan {
        std::string port;
        int baudRate = 9600;
        std::string format = "8N1";
        int intervalMs = 15;
        bool operator==(const Fan&) const = default;
    };

    ProfileSettings();

    std::array<std::array<std::string, kChannels>, 2> filters;  // [profile][channel]
    std::array<std::array<bool, kChannels>, 2> enabled;
    std::array<std::array<double, kSlots>, 2> beltMix;
    std::array<Range, 8> inputLimits;  // channels 0 to 7, the only ones the library limits
    std::array<Range, 6> rigLimits;    // the frame's six cues
    std::optional<bool> motionCancel;
    std::optional<double> motionCancelFilter;
    std::optional<double> motionCancelGain;
    std::optional<Fan> fan;

    bool operator==(const ProfileSettings&) const = default;
};

ProfileSettings settingsOf(const Profile& profile);

// The settings as a profile file (docs/profile-format.md) that parseProfile
// reads back to the same settings. Every filter string and limit is written,
// the other settings where they differ from the library's start. Numbers
// carry 17 significant digits, so they read back exactly. A filter string
// that holds a '#' or a line break cannot be written (the '#' would start a
// comment): `error` names the first such one and the result is empty.
std::string profileText(const ProfileSettings& settings, std::string& error);
// Whether a profile file can carry this filter string on its line.
bool fitsProfileLine(const std::string& filterText);
// The text without blanks at its ends, as a profile line's filter string is kept.
std::string trimmed(const std::string& text);

// Parses a profile's text. Every bad line adds "FILE:LINE: what is wrong" to
// `errors`; the profile is only meant to be used when none was added.
bool parseProfile(const std::string& text, const std::string& fileName, Profile& out,
                  std::vector<std::string>& errors);
// Reads and parses a file; a file that cannot be read is an error "FILE: why".
bool loadProfile(const std::string& path, Profile& out, std::vector<std::string>& errors);

// The kind of built-in profile that suits a game: "flight" for the flight
// simulators (X-Plane, DCS, MSFS 2020 and 2024, Condor 2), "ride" for
// NoLimits 2, "car" for every other game and for an unknown key or "none".
std::string defaultProfileKind(const std::string& gameKey);
// The built-in profile of that kind (profiles/KIND.profile, compiled in):
// motion that is level at rest, onsets that wash out within a few seconds,
// sustained accelerations as a slow tilt within the rig limits.
std::string defaultProfileText(const std::string& gameKey);

// Hands a parsed profile to the library. The filter strings go first, each
// through the library's own check; a refused one is reported as
// "FILE:LINE: ..." and nothing else of the profile is applied. A fan port
// the library does not accept is reported the same way (it goes last).
bool applyProfile(const Api& api, const Profile& profile, std::vector<std::string>& errors);

}  // namespace rez::host
