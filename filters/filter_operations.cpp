// What each filter does to the running value, once per evaluation. Parameters
// are stored as floats and used as doubles; the running state is a float.
#include <cmath>
#include <limits>

#include "filters/filter_plan.h"
#include "filters/filter_sys.h"
#include "filters/noise_layer.h"

namespace rez {

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kEvaluationSeconds = 0.002;
constexpr double kTiny = 1e-9;

// Beyond this many band widths the literal reflection loop would take too
// many passes; the input is first reduced by whole periods instead.
constexpr double kLoopSpan = 64.0;

double reflectInBand(double a, double r) noexcept {
    while (a > r || a < -r) {
        if (a > 0)
            a = r - (a - r);
        else
            a = -r - (r + a);
    }
    return a;
}

double smoothingDivisor(double length, double scale) noexcept {
    const double d = length * scale;
    return std::fabs(d) < 1.0 ? 1.0 : d;
}

}  // namespace

double rolloverFold(double a, double limit) noexcept {
    if (std::isnan(limit) || std::isnan(a)) return a;  // no comparison holds: nothing to fold
    if (std::isinf(limit)) return a;                   // the band covers every finite value
    // A negative limit describes the same band as its magnitude; a zero
    // limit collapses the band to 0.
    const double r = std::fabs(limit);
    if (r == 0.0) return 0.0;
    // An infinite input has no position within any period: treated as centre.
    if (std::isinf(a)) return 0.0;
    if (std::fabs(a) > kLoopSpan * r) {
        // The fold repeats every 4r. fmod is exact, and so are the
        // subtractions below (both operands within a factor of two), so the
        // reduced value lands exactly where the reflections would have put
        // it, however many band widths away the input was.
        const double period = 4.0 * r;
        a = std::fmod(a, period);
        if (a > 2.0 * r)
            a -= period;
        else if (a < -2.0 * r)
            a += period;
    }
    return reflectInBand(a, r);
}

double logisticLimit(double a, double limit, double slope) noexcept {
    double l = limit;
    if (std::fabs(l) < kTiny) l = std::copysign(kTiny, limit);
    double y = slope * a;
    if (y > 1'000'000.0)
        y = 1'000'000.0;
    else if (y < -1'000'000.0)
        y = -1'000'000.0;
    const double scaled = l / 100.0;
    const double k = 0.0002 / (scaled * scaled);
    const double m = std::exp((-k * l) * y);
    return 2.0 * (l / (m * (l / (l * 0.5) - 1.0) + 1.0) - l * 0.5);
}

namespace {

// One filter's operation on the running value. The node walk and the plan
// both run this, so they cannot drift apart.
inline double operate(FilterKind kind, double p1, double p2, double p3, double p4, float& filterState,
                      NoiseLayer* noise, double a, double valueScale, double lowPassScale,
                      double highPassScale) noexcept {
    switch (kind) {
        case FilterKind::VALUE:
            return a * valueScale;
        case FilterKind::EMALP: {
            const double s = filterState;
            filterState = static_cast<float>(s + (a - s) / smoothingDivisor(p1, lowPassScale));
            return filterState;
        }
        case FilterKind::EMAHP: {
            const double s = filterState;
            filterState = static_cast<float>(s + (a - s) / smoothingDivisor(p1, highPassScale));
            return a - static_cast<double>(filterState);
        }
        case FilterKind::MUL:
        case FilterKind::GAIN:
            return a * p1;
        case FilterKind::LOGISTIC:
            return logisticLimit(a, p1, p2);
        case FilterKind::CROP: {
            const double t = p2 < a ? p2 : a;
            return p1 > t ? p1 : t;
        }
        case FilterKind::ROLLOVER:
            return rolloverFold(a, p1);
        case FilterKind::REMAP:
            if (std::fabs(p2 - p1) > kTiny) return (a - p1) * ((p4 - p3) / (p2 - p1)) + p3;
            return a;
        case FilterKind::NOISE:
            if (noise) return a + static_cast<double>(noise->step());
            return a;
        case FilterKind::BITSCALE:
            if (std::fabs(p1) < kTiny) return 0.0;
            if (a < 0) return 0.0;
            return (p1 < a ? p1 : a) / p1 * p2;
        case FilterKind::BITSCALESIGNED: {
            if (std::fabs(p1) < kTiny) return 0.0;
            const double m = -p1 > a ? -p1 : a;
            const double n = p1 < m ? p1 : m;
            return n / p1 * p2;
        }
        case FilterKind::SINUS: {
            filterState = static_cast<float>(p2 * kTwoPi * kEvaluationSeconds + static_cast<double>(filterState));
            // Only a growing phase is wrapped; a negative frequency keeps
            // counting down, which sinf handles at any magnitude.
            if (static_cast<double>(filterState) > kTwoPi)
                filterState = static_cast<float>(std::fmod(static_cast<double>(filterState), kTwoPi));
            return static_cast<double>(std::sin(filterState)) * p1;
        }
        case FilterKind::ABS:
            return std::fabs(a);
        case FilterKind::SETVALUE:
            return p1;
        case FilterKind::ADD:
            return a + p1;
    }
    return a;
}

}  // namespace

double FilterSys::apply(double a, double valueScale, double lowPassScale, double highPassScale) {
    return operate(kind, param1, param2, param3, param4, filterState, noise.get(), a, valueScale, lowPassScale,
                   highPassScale);
}

double FilterPlan::run(double input, double valueScale, double lowPassScale, double highPassScale) const noexcept {
    double a = input;
    for (const FilterStep& s : steps_)
        a = operate(s.kind, s.p1, s.p2, s.p3, s.p4, *s.state, s.noise, a, valueScale, lowPassScale, highPassScale);
    return a;
}

}  // namespace rez
