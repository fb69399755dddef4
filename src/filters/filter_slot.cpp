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
        version_.fetch_add(1, std::memory_order_release);
    }
    // `head` now holds the old chain; it is let go outside the lock, so a
    // long chain's release never holds up the evaluating thread.
}

double FilterSlot::evaluate(double input) const {
    const std::shared_ptr<FilterSys> head = load();
    return head->evaluate(input, 1.0, 1.0, 1.0);
}

void FilterSlot::refreshTickHead() noexcept {
    std::shared_ptr<FilterSys> fresh;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fresh = head_;
        tickVersion_ = version_.load(std::memory_order_relaxed);
    }
    tickHead_.swap(fresh);
    // `fresh` now holds the chain the tick used until now; it is let go
    // here, outside the lock.
}

}  // namespace rez
