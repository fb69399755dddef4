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

// The filters that need more than a few instructions, or a call: kept out of
// line so the walk over the common ones stays short.
[[gnu::noinline]] double operateOther(const FilterStep& step, double a) noexcept {
    const double p1 = step.p1;
    const double p2 = step.p2;
    const double p3 = step.p3;
    const double p4 = step.p4;
    float& filterState = *step.state;
    NoiseLayer* const noise = step.noise;
    switch (step.kind) {
        case FilterKind::LOGISTIC:
            return logisticLimit(a, p1, p2);
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
        default:
            return a;  // an unknown kind passes its value on
    }
}

// One filter's operation on the running value. The node walk and the plan
// both run this, so they cannot drift apart.
inline double operate(const FilterStep& step, double a, double valueScale, double lowPassScale,
                      double highPassScale) noexcept {
    switch (step.kind) {
        case FilterKind::VALUE:
            return a * valueScale;
        case FilterKind::EMALP: {
            const double s = *step.state;
            *step.state = static_cast<float>(s + (a - s) / smoothingDivisor(step.p1, lowPassScale));
            return *step.state;
        }
        case FilterKind::EMAHP: {
            const double s = *step.state;
            *step.state = static_cast<float>(s + (a - s) / smoothingDivisor(step.p1, highPassScale));
            return a - static_cast<double>(*step.state);
        }
        case FilterKind::MUL:
        case FilterKind::GAIN:
            return a * step.p1;
        case FilterKind::CROP: {
            const double t = step.p2 < a ? step.p2 : a;
            return step.p1 > t ? step.p1 : t;
        }
        case FilterKind::ABS:
            return std::fabs(a);
        case FilterKind::SETVALUE:
            return step.p1;
        case FilterKind::ADD:
            return a + step.p1;
        default:
            return operateOther(step, a);
    }
}

}  // namespace

FilterStep FilterSys::step() noexcept {
    return FilterStep{kind, param3, param4, param1, param2, &filterState, noise.get()};
}

double runSteps(const FilterStep* first, const FilterStep* last, double a, double valueScale, double lowPassScale,
                double highPassScale) noexcept {
    for (const FilterStep* s = first; s != last; ++s) a = operate(*s, a, valueScale, lowPassScale, highPassScale);
    return a;
}

double FilterSys::apply(double a, double valueScale, double lowPassScale, double highPassScale) {
    const FilterStep single = step();
    return runSteps(&single, &single + 1, a, valueScale, lowPassScale, highPassScale);
}

}  // namespace rez
