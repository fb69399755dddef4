// Arbitrary text as a host's profile file: the parser must neither crash nor
// hang, must say what is wrong with a "FILE:LINE: " message for every fault,
// and a profile it accepts must hold only settings the library can take
// (profiles 0 and 1, channels and indices in range, finite numbers) and must
// parse to the same settings again.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/host/profile.h"

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

bool finiteValue(double v) { return std::isfinite(v); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    rez::host::Profile profile;
    std::vector<std::string> errors;
    const bool ok = rez::host::parseProfile(text, "fuzz.profile", profile, errors);
    check(ok == errors.empty());
    for (const std::string& e : errors) check(e.rfind("fuzz.profile:", 0) == 0);
    if (!ok) return 0;
    for (const auto& f : profile.filters) check(f.profile >= 0 && f.profile <= 1 && f.channel >= 0 && f.channel <= 22);
    for (const auto& e : profile.enables) check(e.profile >= 0 && e.profile <= 1 && e.channel >= 0 && e.channel <= 22);
    for (const auto& b : profile.beltMix) check(b.profile >= 0 && b.profile <= 1 && b.index >= 0 && b.index <= 42 && finiteValue(b.weight));
    for (const auto* limits : {&profile.inputLimits, &profile.rigLimits})
        for (const auto& l : *limits) check(l.index >= 0 && l.index <= 22 && finiteValue(l.minimum) && finiteValue(l.maximum));
    if (profile.motionCancelFilter) check(finiteValue(*profile.motionCancelFilter));
    if (profile.motionCancelGain) check(finiteValue(*profile.motionCancelGain));

    rez::host::Profile again;
    std::vector<std::string> errorsAgain;
    check(rez::host::parseProfile(text, "fuzz.profile", again, errorsAgain));
    check(again.filters.size() == profile.filters.size() && again.rigLimits.size() == profile.rigLimits.size());
    return 0;
}
