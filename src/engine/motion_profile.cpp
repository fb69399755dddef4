#include "engine/motion_profile.h"

#include <utility>

namespace rez {

MotionProfile::MotionProfile(std::string profileName) : name(std::move(profileName)) {
    for (auto& flag : enableFlags) flag.store(1);
    for (auto& weight : beltMix) weight.store(0.0);
}

}  // namespace rez
