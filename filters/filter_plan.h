#pragma once
// A chain flattened for evaluation. A chain never changes shape once it is
// parsed, so the walk from the innermost node outward can be laid out once:
// one step per node, innermost first, with the parameters already widened
// and a pointer to where the node keeps its running state. Evaluating a plan
// takes no lock and touches no reference count; the head that owns the plan
// keeps every node it points into alive.
#include <cstddef>
#include <utility>
#include <vector>

#include "filters/filter_kind.h"

namespace rez {

class NoiseLayer;

// Laid out for the common filters: the first two parameters ready as
// doubles, the last two (REMAP's output range only) kept as stored.
struct FilterStep {
    FilterKind kind;
    float p3;
    float p4;
    double p1;
    double p2;
    float* state;       // the node's filterState
    NoiseLayer* noise;  // the node's noise layer; null for every other kind
};

class FilterPlan {
public:
    FilterPlan() = default;
    explicit FilterPlan(std::vector<FilterStep> steps) : steps_(std::move(steps)) {}

    bool empty() const noexcept { return steps_.empty(); }
    std::size_t size() const noexcept { return steps_.size(); }
    const std::vector<FilterStep>& steps() const noexcept { return steps_; }

    // Runs `input` through the steps; the same arithmetic as the node walk,
    // operation for operation.
    double run(double input, double valueScale, double lowPassScale, double highPassScale) const noexcept;

private:
    std::vector<FilterStep> steps_;
};

}  // namespace rez
