#pragma once
// One node of a filter chain. A chain is a doubly linked list whose head is
// the outermost filter of the text and whose tail is the VALUE node; each node
// owns its inner neighbour (next) and sees its outer neighbour weakly (prev),
// so releasing the head releases the chain, and an evaluation that is still
// walking a released chain stops instead of touching freed nodes.
//
// Threads: the links are read and written only under the node's own
// linkMutex, one node at a time. filterState and the noise layer belong to
// the single thread that evaluates the chain.
//
// A parsed head also carries the chain's plan (filter_plan.h), which the
// evaluation walks instead of the links. The plan is laid out before the
// chain is shared and never changes after that; linking nodes of a planned
// chain anew (something only hand-built chains do) drops the plan, and such a
// chain is walked node by node again.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "filters/filter_kind.h"
#include "filters/filter_plan.h"
#include "filters/noise_layer.h"

namespace rez {

class FilterSys {
    struct Token {};

public:
    // Nodes exist only under shared ownership: use create().
    FilterSys(Token, FilterKind kind, std::string name, float p1, float p2, float p3, float p4);
    ~FilterSys();
    FilterSys(const FilterSys&) = delete;
    FilterSys& operator=(const FilterSys&) = delete;

    // A node named after its kind; a NOISE node gets its noise layer.
    static std::shared_ptr<FilterSys> create(FilterKind kind, float p1 = 0, float p2 = 0, float p3 = 0,
                                             float p4 = 0);
    // The node a failed parse yields: kind VALUE, no name, no links, not valid.
    static std::shared_ptr<FilterSys> createInvalid();

    // The innermost node of the chain this node belongs to (this node itself
    // when it has no inner neighbour).
    std::shared_ptr<FilterSys> tailNode() const;

    // Runs `input` through the chain from the innermost node outward and gives
    // the head's result; 0 for a chain whose head is not valid (no state
    // changes then). Called on the head only, from one thread at a time.
    // Allocates nothing. Follows the plan when the head has one, the links
    // otherwise; both give the same numbers.
    double evaluate(double input, double valueScale, double lowPassScale, double highPassScale) {
        if (!valid.load(std::memory_order_acquire)) return 0.0;
        if (!plan_.empty()) return plan_.run(input, valueScale, lowPassScale, highPassScale);
        return evaluateByNodes(input, valueScale, lowPassScale, highPassScale);
    }
    // Whether every node's running state is a finite number. A state that
    // overflowed to infinity or became NaN would stay so for good.
    bool stateFinite() const;
    // Starts every node's running state afresh, as a newly parsed chain.
    void resetState();
    // The same result, always by walking the links (the reference the plan
    // is checked against).
    double evaluateByNodes(double input, double valueScale, double lowPassScale, double highPassScale);

    // Lays out the plan of the chain this node heads. Call once the chain is
    // complete and before it is shared (the parser does).
    void buildPlan();
    bool hasPlan() const noexcept { return !plan_.empty(); }
    const FilterPlan& plan() const noexcept { return plan_; }

    // Links `outer` -> `inner` (outer.next = inner, inner.prev = outer), each
    // side under its own node's mutex.
    static void link(const std::shared_ptr<FilterSys>& outer, const std::shared_ptr<FilterSys>& inner);

    // Snapshots of the links, each taken under the node's mutex.
    std::shared_ptr<FilterSys> nextNode() const;
    std::shared_ptr<FilterSys> prevNode() const;

    std::weak_ptr<FilterSys> self;
    const FilterKind kind;
    const std::string name;
    const float param1;
    const float param2;
    const float param3;
    const float param4;
    float filterState = 0.0f;
    std::shared_ptr<FilterSys> next;
    std::weak_ptr<FilterSys> prev;
    std::shared_ptr<NoiseLayer> noise;
    mutable std::mutex linkMutex;
    std::atomic<bool> valid{false};

private:
    // This node as a step of a plan.
    FilterStep step() noexcept;
    // One node's operation on the running value.
    double apply(double a, double valueScale, double lowPassScale, double highPassScale);
    // Drops the plan of every chain above `node` (up to its head).
    static void dropPlansAbove(const std::shared_ptr<FilterSys>& node);

    FilterPlan plan_;
    bool inPlan_ = false;  // some head's plan points into this node
};

// Adds a node at the inner end of `chain` and gives the (unchanged) head; an
// empty chain gets the new node as its head. Parameters are stored as floats.
std::shared_ptr<FilterSys> appendFilter(std::shared_ptr<FilterSys> chain, FilterKind kind, double param1,
                                        double param2, double param3, double param4);

// Reflects `a` into the band [-limit, limit] as often as needed (a triangle
// fold with period 4 * limit). Bounded for every input; see the definition
// for limits <= 0 and non-finite inputs.
double rolloverFold(double a, double limit) noexcept;

// Soft limiter: limit * tanh(slope * a / limit), computed the way the LOGISTIC
// filter always has.
double logisticLimit(double a, double limit, double slope) noexcept;

}  // namespace rez
