#pragma once
// Profile files: the settings a host hands the library before the engine
// starts (filter strings, enable flags, belt mix, input and rig limits,
// motion cancel, the fan port), one setting per line. The format is
// described in docs/profile-format.md.
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
