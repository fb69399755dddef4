#include "filters/filter_sys.h"

#include <cmath>
#include <utility>
#include <vector>

namespace rez {

FilterSys::FilterSys(Token, FilterKind kind_, std::string name_, float p1, float p2, float p3, float p4)
    : kind(kind_), name(std::move(name_)), param1(p1), param2(p2), param3(p3), param4(p4) {}

FilterSys::~FilterSys() {
    // Taking the inner nodes apart one by one keeps the release of a deeply
    // nested chain off the stack: the default would recurse once per node.
    // A node that someone else still holds (an evaluation walking it) is left
    // whole; its last holder releases the rest the same way.
    std::shared_ptr<FilterSys> inner = std::move(next);
    while (inner && inner.use_count() == 1) {
        std::shared_ptr<FilterSys> following;
        {
            std::lock_guard<std::mutex> lock(inner->linkMutex);
            following = std::move(inner->next);
        }
        inner = std::move(following);
    }
}

std::shared_ptr<FilterSys> FilterSys::create(FilterKind kind, float p1, float p2, float p3, float p4) {
    auto node =
        std::make_shared<FilterSys>(Token{}, kind, std::string(filterKindName(kind)), p1, p2, p3, p4);
    node->self = node;
    if (kind == FilterKind::NOISE) node->noise = std::make_shared<NoiseLayer>(p1, p2, p3);
    return node;
}

std::shared_ptr<FilterSys> FilterSys::createInvalid() {
    auto node = std::make_shared<FilterSys>(Token{}, FilterKind::VALUE, std::string(), 0.0f, 0.0f, 0.0f, 0.0f);
    node->self = node;
    return node;
}

std::shared_ptr<FilterSys> FilterSys::nextNode() const {
    std::lock_guard<std::mutex> lock(linkMutex);
    return next;
}

std::shared_ptr<FilterSys> FilterSys::prevNode() const {
    std::lock_guard<std::mutex> lock(linkMutex);
    return prev.lock();
}

std::shared_ptr<FilterSys> FilterSys::tailNode() const {
    std::shared_ptr<FilterSys> current = self.lock();
    while (current) {
        std::shared_ptr<FilterSys> inner = current->nextNode();
        if (!inner) break;
        current = std::move(inner);
    }
    return current;
}

void FilterSys::dropPlansAbove(const std::shared_ptr<FilterSys>& node) {
    for (std::shared_ptr<FilterSys> n = node; n; n = n->prevNode()) n->plan_ = FilterPlan();
}

void FilterSys::link(const std::shared_ptr<FilterSys>& outer, const std::shared_ptr<FilterSys>& inner) {
    // A plan describes the shape it was laid out from; a chain that changes
    // shape goes back to the node walk.
    if (outer->inPlan_) dropPlansAbove(outer);
    if (inner->inPlan_) dropPlansAbove(inner);
    {
        std::lock_guard<std::mutex> lock(outer->linkMutex);
        outer->next = inner;
    }
    std::lock_guard<std::mutex> lock(inner->linkMutex);
    inner->prev = outer;
}

void FilterSys::buildPlan() {
    std::vector<FilterStep> steps;
    for (std::shared_ptr<FilterSys> node = self.lock(); node; node = node->nextNode()) {
        steps.push_back(node->step());
        node->inPlan_ = true;
    }
    // The walk runs from the innermost node outward.
    std::vector<FilterStep> innermostFirst(steps.rbegin(), steps.rend());
    plan_ = FilterPlan(std::move(innermostFirst));
}

double FilterSys::evaluateByNodes(double input, double valueScale, double lowPassScale, double highPassScale) {
    if (!valid.load(std::memory_order_acquire)) return 0.0;
    double a = input;
    std::shared_ptr<FilterSys> node = tailNode();
    while (node) {
        a = node->apply(a, valueScale, lowPassScale, highPassScale);
        node = node->prevNode();
    }
    return a;
}

bool FilterSys::stateFinite() const {
    if (!plan_.empty()) {
        for (const FilterStep& step : plan_.steps())
            if (!std::isfinite(*step.state)) return false;
        return true;
    }
    for (std::shared_ptr<const FilterSys> node = tailNode(); node; node = node->prevNode())
        if (!std::isfinite(node->filterState)) return false;
    return true;
}

void FilterSys::resetState() {
    if (!plan_.empty()) {
        for (const FilterStep& step : plan_.steps()) *step.state = 0.0f;
        return;
    }
    for (std::shared_ptr<FilterSys> node = tailNode(); node; node = node->prevNode()) node->filterState = 0.0f;
}

std::shared_ptr<FilterSys> appendFilter(std::shared_ptr<FilterSys> chain, FilterKind kind, double param1,
                                        double param2, double param3, double param4) {
    auto node = FilterSys::create(kind, static_cast<float>(param1), static_cast<float>(param2),
                                  static_cast<float>(param3), static_cast<float>(param4));
    if (!chain) return node;
    FilterSys::link(chain->tailNode(), node);
    return chain;
}

}  // namespace rez
