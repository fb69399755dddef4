#include "sources/gravity.h"

#include <cmath>

namespace rez {

void applyGravityParts(GameDataRecord& record, AccelMode mode, double pi, double longitudinalSign, double lateralSign) {
    double* s = record.slots;
    const double phi = s[kRollPosition] * pi / 180.0;
    const double theta = s[kPitchPosition] * pi / 180.0;
    const double g = kStandardGravity;
    s[kLongituGravi] = longitudinalSign * g * std::sin(theta);
    s[kLateralGravi] = lateralSign * g * std::cos(theta) * std::sin(phi);
    s[kVerticaGravi] = g * std::cos(theta) * std::cos(phi);
    constexpr int triples[3][3] = {
        {kLateralAccel, kLateralAccelG, kLateralGravi},
        {kLongituAccel, kLongituAccelG, kLongituGravi},
        {kVerticaAccel, kVerticaAccelG, kVerticaGravi},
    };
    for (const auto& t : triples) {
        if (mode == AccelMode::Add)
            s[t[1]] = s[t[0]] + s[t[2]];
        else
            s[t[0]] = s[t[1]] - s[t[2]];
    }
}

}  // namespace rez
