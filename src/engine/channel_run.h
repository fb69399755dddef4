#pragma once
// One step of a channel's filter chain, as the tick runs it; the tuning
// page's responses run chains through the same code.
#include <cmath>

#include "filters/filter_sys.h"

namespace rez {

// The input limits clamp with the minimum first, so a reversed pair pins
// the value to the maximum.
inline double limitInput(double x, double minimum, double maximum) {
    if (minimum > x) return minimum;
    if (maximum < x) return maximum;
    return x;
}

// Finite inputs can still overflow a chain (a huge gain, an extreme value):
// its state is started afresh rather than kept non-finite, and a result that
// is still not a number leaves the channel at rest.
inline double runChain(FilterSys& head, double x) {
    double y = head.evaluate(x, 1.0, 1.0, 1.0);
    if (!std::isfinite(y) || !head.stateFinite()) {
        head.resetState();
        y = head.evaluate(x, 1.0, 1.0, 1.0);
        if (!std::isfinite(y)) {
            head.resetState();
            y = 0.0;
        }
    }
    return y;
}

}  // namespace rez
