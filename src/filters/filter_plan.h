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

// Runs `a` through the steps from `first` up to `last`. The plan and the
// node walk (one step at a time) both go through this one function, so they
// execute the same instructions: floating-point code may order an operation's
// operands either way, and which of two NaNs comes out depends on it.
[[gnu::noinline]] double runSteps(const FilterStep* first, const FilterStep* last, double a, double valueScale,
                                  double lowPassScale, double highPassScale) noexcept;

class FilterPlan {
public:
    FilterPlan() = default;
    explicit FilterPlan(std::vector<FilterStep> steps) : steps_(std::move(steps)) {}

    bool empty() const noexcept { return steps_.empty(); }
    std::size_t size() const noexcept { return steps_.size(); }
    const std::vector<FilterStep>& steps() const noexcept { return steps_; }

    // Runs `input` through the steps; the same arithmetic as the node walk,
    // operation for operation.
    double run(double input, double valueScale, double lowPassScale, double highPassScale) const noexcept {
        return runSteps(steps_.data(), steps_.data() + steps_.size(), input, valueScale, lowPassScale, highPassScale);
    }

private:
    std::vector<FilterStep> steps_;
};

}  // namespace rez
