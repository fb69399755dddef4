#include "filters/filter_slot.h"

#include <utility>

#include "filters/filter_parser.h"

namespace rez {

FilterSlot::FilterSlot() : head_(parseFilterString("VALUE")) {}

FilterSlot::FilterSlot(std::shared_ptr<FilterSys> head)
    : head_(head ? std::move(head) : parseFilterString("VALUE")) {}

std::shared_ptr<FilterSys> FilterSlot::load() const noexcept {
    std::lock_guard<std::mutex> lock(mutex_);
    return head_;
}

void FilterSlot::store(std::shared_ptr<FilterSys> head) noexcept {
    if (!head) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        head_.swap(head);
    }
    // `head` now holds the old chain; it is let go outside the lock, so a
    // long chain's release never holds up the evaluating thread.
}

double FilterSlot::evaluate(double input) const {
    const std::shared_ptr<FilterSys> head = load();
    return head->evaluate(input, 1.0, 1.0, 1.0);
}

}  // namespace rez
