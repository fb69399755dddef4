#include "sim/nolimits_motion.h"

#include <array>
#include <cmath>
#include <numbers>

#include "sources/game_data_record.h"

namespace rez::sim {

namespace {

constexpr double kG = 9.80665;

// Rotation matrices act on column vectors in the simulator's axes; the
// columns of a car's matrix are its right, up and backward directions in
// world axes.
struct Matrix {
    double m[3][3];
};

Matrix product(const Matrix& a, const Matrix& b) {
    Matrix p{};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 3; ++k) p.m[r][c] += a.m[r][k] * b.m[k][c];
    return p;
}

// A right-handed turn by `degrees` about axis 0 (x), 1 (y) or 2 (z).
Matrix turnAbout(int axis, double degrees) {
    const double a = degrees * std::numbers::pi / 180.0, c = std::cos(a), s = std::sin(a);
    const int i = (axis + 1) % 3, j = (axis + 2) % 3;
    Matrix t{};
    t.m[axis][axis] = 1.0;
    t.m[i][i] = c, t.m[i][j] = -s;
    t.m[j][i] = s, t.m[j][j] = c;
    return t;
}

// The unit quaternion (x, y, z, w) of a rotation matrix, from its largest
// diagonal term so no division comes near 0.
std::array<float, 4> quaternionOf(const Matrix& r) {
    const auto& m = r.m;
    const double trace = m[0][0] + m[1][1] + m[2][2];
    double x, y, z, w;
    if (trace > 0.0) {
        const double s = 2.0 * std::sqrt(1.0 + trace);
        w = s / 4, x = (m[2][1] - m[1][2]) / s, y = (m[0][2] - m[2][0]) / s, z = (m[1][0] - m[0][1]) / s;
    } else if (m[0][0] >= m[1][1] && m[0][0] >= m[2][2]) {
        const double s = 2.0 * std::sqrt(1.0 + m[0][0] - m[1][1] - m[2][2]);
        w = (m[2][1] - m[1][2]) / s, x = s / 4, y = (m[0][1] + m[1][0]) / s, z = (m[0][2] + m[2][0]) / s;
    } else if (m[1][1] >= m[2][2]) {
        const double s = 2.0 * std::sqrt(1.0 + m[1][1] - m[0][0] - m[2][2]);
        w = (m[0][2] - m[2][0]) / s, x = (m[0][1] + m[1][0]) / s, y = s / 4, z = (m[1][2] + m[2][1]) / s;
    } else {
        const double s = 2.0 * std::sqrt(1.0 + m[2][2] - m[0][0] - m[1][1]);
        w = (m[1][0] - m[0][1]) / s, x = (m[0][2] + m[2][0]) / s, y = (m[1][2] + m[2][1]) / s, z = s / 4;
    }
    return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z), static_cast<float>(w)};
}

}  // namespace

NoLimitsTelemetry noLimitsTelemetryFrom(const SimState& st) {
    const double* s = st.slots;
    // Heading about the world's up (y): a positive turn about y is
    // anticlockwise seen from above. The car's backward axis is its z, so a
    // positive turn about it lifts the right side (x); a positive turn about
    // its right axis lifts the nose (-z).
    constexpr int kRight = 0, kUp = 1, kBack = 2;
    const Matrix carToWorld = product(product(turnAbout(kUp, s[kYawPosition]), turnAbout(kBack, s[kRollPosition])),
                                      turnAbout(kRight, s[kPitchPosition]));
    NoLimitsTelemetry t;
    t.speed = static_cast<float>(s[kSpeed]);
    t.rotation = quaternionOf(carToWorld);
    t.gForce = {static_cast<float>(-s[kLateralAccelG] / kG), static_cast<float>(s[kVerticaAccelG] / kG),
                static_cast<float>(s[kLongituAccelG] / kG)};
    return t;
}

}  // namespace rez::sim
