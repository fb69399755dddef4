#include "filters/filter_slot.h"

#include <utility>

#include "filters/filter_parser.h"

namespace rez {

FilterSlot::FilterSlot() : head_(parseFilterString("VALUE")) {}

FilterSlot::FilterSlot(std::shared_ptr<FilterSys> head)
    : head_(head ? std::move(head) : parseFilterString("VALUE")) {}

std::shared_ptr<FilterSys> FilterSlot::load() const noexcept { return head_.load(std::memory_order_acquire); }

void FilterSlot::store(std::shared_ptr<FilterSys> head) noexcept {
    if (!head) return;
    head_.store(std::move(head), std::memory_order_release);
}

double FilterSlot::evaluate(double input) const {
    const std::shared_ptr<FilterSys> head = load();
    return head->evaluate(input, 1.0, 1.0, 1.0);
}

}  // namespace rez
