#include "tools/host/profile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "sim/game_player.h"
#include "sources/game_table.h"

namespace rez::host {

// The texts of profiles/car.profile, flight.profile and ride.profile, which
// the build compiles in (tools/CMakeLists.txt).
namespace embedded_profiles {
extern const char car[];
extern const char flight[];
extern const char ride[];
}  // namespace embedded_profiles

std::string trimmed(const std::string& s) {
    std::size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

namespace {

constexpr int kChannels = ProfileSettings::kChannels;
constexpr int kSlots = ProfileSettings::kSlots;
// The library reads input limits for channels 0 to 7 only, and rig limits
// bound the frame's six cues; a limit on another index would do nothing.
constexpr int kInputLimited = 8;
constexpr int kRigCues = 6;

std::vector<std::string> words(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

bool toNumber(const std::string& word, double& value) {
    if (word.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(word.c_str(), &end);
    return end == word.c_str() + word.size() && errno == 0 && std::isfinite(value);
}

bool toIndex(const std::string& word, int limit, int& value) {
    double d = 0;
    if (!toNumber(word, d) || d != std::floor(d) || d < 0 || d >= limit) return false;
    value = static_cast<int>(d);
    return true;
}

bool toSwitch(const std::string& word, bool& on) {
    if (word == "on" || word == "1") return on = true, true;
    if (word == "off" || word == "0") return on = false, true;
    return false;
}

bool toProfile(const std::string& word, int& profile) {
    if (word == "air") return profile = 0, true;
    if (word == "ground") return profile = 1, true;
    return false;
}

// One line at a time; remembers where each setting was first made so that a
// second one can say where the first is.
class Parser {
public:
    Parser(const std::string& fileName, Profile& out, std::vector<std::string>& errors)
        : file_(fileName), out_(out), errors_(errors) {}

    void line(int number, const std::string& raw) {
        line_ = number;
        std::string text = raw;
        const std::size_t hash = text.find('#');
        if (hash != std::string::npos) text.erase(hash);
        text = trimmed(text);
        if (text.empty()) return;
        const std::vector<std::string> w = words(text);
        const std::string& key = w[0];
        if (key == "filter") filter(w, text);
        else if (key == "enable") enable(w);
        else if (key == "belt-mix") belt(w);
        else if (key == "input-limit") limit(w, out_.inputLimits, kInputLimited, "channel");
        else if (key == "rig-limit") limit(w, out_.rigLimits, kRigCues, "rig index");
        else if (key == "motion-cancel") motionCancel(w);
        else if (key == "motion-cancel-filter") motionCancelValue(w, out_.motionCancelFilter, 1.0);
        else if (key == "motion-cancel-gain") motionCancelValue(w, out_.motionCancelGain, -1e300);
        else if (key == "fan") fan(w);
        else fail("unknown setting \"" + key + "\"");
    }

    void finish() {
        const bool cancelOn = out_.motionCancel.value_or(false);
        if (!cancelOn && (out_.motionCancelFilter || out_.motionCancelGain))
            failAt(cancelLine_, "motion-cancel-filter and motion-cancel-gain have no effect unless motion-cancel is on");
        // In the order of the file's lines, whatever found them.
        std::stable_sort(found_.begin(), found_.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& f : found_) errors_.push_back(std::move(f.second));
        found_.clear();
    }

private:
    void fail(const std::string& what) { failAt(line_, what); }
    void failAt(int line, const std::string& what) {
        found_.emplace_back(line, file_ + ":" + std::to_string(line) + ": " + what);
    }

    // False (and an error) when `key` was set before.
    bool once(const std::string& key) {
        auto [it, fresh] = seen_.emplace(key, line_);
        if (!fresh) fail(key + " is already set on line " + std::to_string(it->second));
        return fresh;
    }

    bool count(const std::vector<std::string>& w, std::size_t n, const std::string& form) {
        if (w.size() == n) return true;
        fail("expected \"" + form + "\"");
        return false;
    }

    bool profileAndChannel(const std::vector<std::string>& w, int limit, const char* what, int& profile, int& index) {
        if (!toProfile(w[1], profile)) {
            fail("profile must be air or ground, not \"" + w[1] + "\"");
            return false;
        }
        if (!toIndex(w[2], limit, index)) {
            fail(std::string(what) + " must be a whole number 0 to " + std::to_string(limit - 1) + ", not \"" + w[2] + "\"");
            return false;
        }
        return true;
    }

    void filter(const std::vector<std::string>& w, const std::string& text) {
        if (w.size() < 4) return (void)fail("expected \"filter air|ground CHANNEL FILTER-STRING\"");
        Profile::Filter f;
        if (!profileAndChannel(w, kChannels, "channel", f.profile, f.channel)) return;
        // The filter string is the rest of the line, blanks inside it kept.
        // Words are cut at every blank the word splitter knows (a form feed
        // or vertical tab too), so the same set is skipped here.
        constexpr const char* kBlanks = " \t\n\v\f\r";
        std::size_t at = 0;
        for (int skip = 0; skip < 3 && at != std::string::npos; ++skip) {
            at = text.find_first_not_of(kBlanks, at);
            if (at != std::string::npos) at = text.find_first_of(kBlanks, at);
        }
        f.text = at == std::string::npos ? w[3] : trimmed(text.substr(at));
        f.line = line_;
        if (!once("filter " + w[1] + " " + std::to_string(f.channel))) return;
        out_.filters.push_back(f);
    }

    void enable(const std::vector<std::string>& w) {
        if (!count(w, 4, "enable air|ground CHANNEL on|off")) return;
        Profile::Enable e;
        if (!profileAndChannel(w, kChannels, "channel", e.profile, e.channel)) return;
        if (!toSwitch(w[3], e.on)) return (void)fail("expected on or off, not \"" + w[3] + "\"");
        if (!once("enable " + w[1] + " " + std::to_string(e.channel))) return;
        out_.enables.push_back(e);
    }

    void belt(const std::vector<std::string>& w) {
        if (!count(w, 4, "belt-mix air|ground SLOT WEIGHT")) return;
        Profile::Belt b;
        if (!profileAndChannel(w, kSlots, "slot", b.profile, b.index)) return;
        if (!toNumber(w[3], b.weight)) return (void)fail("weight must be a number, not \"" + w[3] + "\"");
        if (!once("belt-mix " + w[1] + " " + std::to_string(b.index))) return;
        out_.beltMix.push_back(b);
    }

    void limit(const std::vector<std::string>& w, std::vector<Profile::Limit>& into, int n, const char* what) {
        if (!count(w, 4, w[0] + " INDEX MINIMUM MAXIMUM")) return;
        Profile::Limit l;
        if (!toIndex(w[1], n, l.index))
            return (void)fail(std::string(what) + " must be a whole number 0 to " + std::to_string(n - 1) + ", not \"" +
                              w[1] + "\"");
        if (!toNumber(w[2], l.minimum) || !toNumber(w[3], l.maximum))
            return (void)fail("minimum and maximum must be numbers");
        // The library clamps with the minimum first: a reversed pair would
        // pin the cue to the maximum whatever the game does.
        if (l.minimum > l.maximum) return (void)fail("minimum is above maximum");
        if (!once(w[0] + " " + std::to_string(l.index))) return;
        into.push_back(l);
    }

    void motionCancel(const std::vector<std::string>& w) {
        if (!count(w, 2, "motion-cancel on|off")) return;
        bool on = false;
        if (!toSwitch(w[1], on)) return (void)fail("expected on or off, not \"" + w[1] + "\"");
        if (!once(w[0])) return;
        out_.motionCancel = on;
    }

    void motionCancelValue(const std::vector<std::string>& w, std::optional<double>& into, double lowest) {
        if (!count(w, 2, w[0] + " VALUE")) return;
        double v = 0;
        if (!toNumber(w[1], v)) return (void)fail("value must be a number, not \"" + w[1] + "\"");
        // The pose is smoothed by dividing each step by the filter: below 1 it
        // overshoots and at 0 it divides by zero.
        if (v < lowest) return (void)fail("value must be at least 1");
        if (!once(w[0])) return;
        into = v;
        if (cancelLine_ == 0) cancelLine_ = line_;
    }

    void fan(const std::vector<std::string>& w) {
        if (w.size() < 2 || w.size() > 5) return (void)fail("expected \"fan PORT [BAUD [FORMAT [INTERVAL-MS]]]\"");
        Profile::Fan f;
        f.port = w[1];
        f.line = line_;
        double v = 0;
        if (w.size() > 2) {
            if (!toNumber(w[2], v) || v != std::floor(v) || v < 1 || v > 4000000)
                return (void)fail("baud rate must be a whole number, not \"" + w[2] + "\"");
            f.baudRate = static_cast<int>(v);
        }
        if (w.size() > 3) {
            const std::string& fm = w[3];
            if (fm.size() != 3 || fm[0] < '5' || fm[0] > '8' || std::string("NEOMS").find(fm[1]) == std::string::npos ||
                (fm[2] != '1' && fm[2] != '2'))
                return (void)fail("format must be like 8N1, not \"" + fm + "\"");
            f.format = fm;
        }
        if (w.size() > 4) {
            if (!toNumber(w[4], v) || v != std::floor(v) || v < 1 || v > 10000)
                return (void)fail("interval must be a whole number of milliseconds, not \"" + w[4] + "\"");
            f.intervalMs = static_cast<int>(v);
        }
        if (!once(w[0])) return;
        out_.fan = f;
    }

    std::string file_;
    Profile& out_;
    std::vector<std::string>& errors_;
    std::vector<std::pair<int, std::string>> found_;  // (line, error) until finish()
    int line_ = 0;
    int cancelLine_ = 0;
    std::map<std::string, int> seen_;
};

std::wstring widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

}  // namespace

bool parseProfile(const std::string& text, const std::string& fileName, Profile& out, std::vector<std::string>& errors) {
    const std::size_t before = errors.size();
    out = Profile{};
    out.fileName = fileName;
    Parser parser(fileName, out, errors);
    std::istringstream in(text);
    int number = 0;
    for (std::string raw; std::getline(in, raw);) parser.line(++number, raw);
    parser.finish();
    return errors.size() == before;
}

bool loadProfile(const std::string& path, Profile& out, std::vector<std::string>& errors) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        errors.push_back(path + ": cannot be read");
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parseProfile(text.str(), path, out, errors);
}

std::string defaultProfileKind(const std::string& gameKey) {
    switch (sim::gameIdOfKey(gameKey)) {
        case kXplane:
        case kDcs:
        case kMsfs2020:
        case kMsfs2024:
        case kCondor2: return "flight";
        case kNoLimits2: return "ride";
        default: return "car";
    }
}

std::string defaultProfileText(const std::string& gameKey) {
    const std::string kind = defaultProfileKind(gameKey);
    if (kind == "flight") return embedded_profiles::flight;
    if (kind == "ride") return embedded_profiles::ride;
    return embedded_profiles::car;
}

ProfileSettings::ProfileSettings() {
    for (auto& profile : filters) profile.fill("VALUE");
    for (auto& profile : enabled) profile.fill(true);
    for (auto& profile : beltMix) profile.fill(0.0);
}

ProfileSettings settingsOf(const Profile& p) {
    ProfileSettings s;
    for (const Profile::Filter& f : p.filters) s.filters[f.profile][f.channel] = f.text;
    for (const Profile::Enable& e : p.enables) s.enabled[e.profile][e.channel] = e.on;
    for (const Profile::Belt& b : p.beltMix) s.beltMix[b.profile][b.index] = b.weight;
    for (const Profile::Limit& l : p.inputLimits) s.inputLimits[l.index] = {l.minimum, l.maximum};
    for (const Profile::Limit& l : p.rigLimits) s.rigLimits[l.index] = {l.minimum, l.maximum};
    s.motionCancel = p.motionCancel;
    s.motionCancelFilter = p.motionCancelFilter;
    s.motionCancelGain = p.motionCancelGain;
    if (p.fan) s.fan = ProfileSettings::Fan{p.fan->port, p.fan->baudRate, p.fan->format, p.fan->intervalMs};
    return s;
}

bool fitsProfileLine(const std::string& filterText) {
    return filterText.find_first_of(std::string("#\n\r\0", 4)) == std::string::npos;
}

std::string profileText(const ProfileSettings& s, std::string& error) {
    static const char* const kProfileNames[2] = {"air", "ground"};
    auto number = [](double v) {
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", v);
        return std::string(text);
    };
    std::string out = "# rezadedudid profile: filter strings, enable flags, belt mix, limits\n";
    for (int p = 0; p < 2; ++p) {
        out += "\n# " + std::string(p == 0 ? "Profil AIR" : "Profil GROUND") + "\n";
        for (int c = 0; c < ProfileSettings::kChannels; ++c) {
            const std::string& text = s.filters[p][c];
            if (!fitsProfileLine(text) || trimmed(text) != text || text.empty()) {
                error = std::string("the filter string of ") + kProfileNames[p] + " channel " + std::to_string(c) +
                        " cannot be written on a profile line (it is empty, has blanks at its ends, or holds '#' or "
                        "a line break)";
                return "";
            }
            out += "filter " + std::string(kProfileNames[p]) + " " + std::to_string(c) + " " + text + "\n";
        }
        for (int c = 0; c < ProfileSettings::kChannels; ++c)
            if (!s.enabled[p][c]) out += "enable " + std::string(kProfileNames[p]) + " " + std::to_string(c) + " off\n";
        for (int i = 0; i < ProfileSettings::kSlots; ++i)
            // The weights the belt sum uses are always written, so the file says what the belt does.
            if (s.beltMix[p][i] != 0.0 || (p == 0 && (i == 1 || i == 2 || i == 4 || i == 5)))
                out += "belt-mix " + std::string(kProfileNames[p]) + " " + std::to_string(i) + " " +
                       number(s.beltMix[p][i]) + "\n";
    }
    out += "\n# limits: channels 0 to 7 of the game's input, the six rig cues\n";
    for (std::size_t i = 0; i < s.inputLimits.size(); ++i)
        out += "input-limit " + std::to_string(i) + " " + number(s.inputLimits[i].minimum) + " " +
               number(s.inputLimits[i].maximum) + "\n";
    for (std::size_t i = 0; i < s.rigLimits.size(); ++i)
        out += "rig-limit " + std::to_string(i) + " " + number(s.rigLimits[i].minimum) + " " +
               number(s.rigLimits[i].maximum) + "\n";
    if (s.motionCancel) out += std::string("motion-cancel ") + (*s.motionCancel ? "on" : "off") + "\n";
    if (s.motionCancelFilter) out += "motion-cancel-filter " + number(*s.motionCancelFilter) + "\n";
    if (s.motionCancelGain) out += "motion-cancel-gain " + number(*s.motionCancelGain) + "\n";
    if (s.fan)
        out += "fan " + s.fan->port + " " + std::to_string(s.fan->baudRate) + " " + s.fan->format + " " +
               std::to_string(s.fan->intervalMs) + "\n";
    return out;
}

bool applyProfile(const Api& api, const Profile& p, std::vector<std::string>& errors) {
    const std::size_t before = errors.size();
    for (const Profile::Filter& f : p.filters)
        if (!api.setcheckFilterstring(f.profile, f.channel, f.text.c_str()))
            errors.push_back(p.fileName + ":" + std::to_string(f.line) + ": the library refuses the filter string \"" +
                             f.text + "\"");
    if (errors.size() != before) return false;
    for (const Profile::Enable& e : p.enables) api.setActiveAxis(e.profile, e.channel, e.on ? 1 : 0);
    for (const Profile::Belt& b : p.beltMix) api.setBelt_Mix(b.profile, b.index, b.weight);
    for (const Profile::Limit& l : p.inputLimits) api.SetInputDofLimitValue(l.index, l.minimum, l.maximum);
    for (const Profile::Limit& l : p.rigLimits) api.SetRigDofLimitValue(l.index, l.minimum, l.maximum);
    if (p.motionCancel) {
        api.activateMotionCancel(*p.motionCancel);
        // Switching on resets the filter, so the tuning comes after it.
        if (p.motionCancelFilter) api.setFilterMotionCancel(*p.motionCancelFilter);
        if (p.motionCancelGain) api.setGainMotionCancel(*p.motionCancelGain);
    }
    if (p.fan) {
        const std::wstring port = widen(p.fan->port), format = widen(p.fan->format);
        if (!api.initWindSerial(port.c_str(), p.fan->baudRate, format.c_str(), p.fan->intervalMs))
            errors.push_back(p.fileName + ":" + std::to_string(p.fan->line) + ": the library does not take " +
                             p.fan->port + " as the fan port (no such serial device)");
    }
    return errors.size() == before;
}

}  // namespace rez::host
