#pragma once
// A channel's chain head. The host's thread replaces it while the game-source
// thread evaluates: an evaluation works on the head it loaded, which stays
// alive until that evaluation lets go of it, whatever the slot holds by then.
//
// The slot is a shared pointer behind a short lock rather than
// std::atomic<std::shared_ptr>: libstdc++ 12's version of the latter guards
// its pointer in a way ThreadSanitizer reports as a race, and the lock costs
// no more here (one uncontended lock per channel and tick).
#include <memory>
#include <mutex>

#include "filters/filter_sys.h"

namespace rez {

class FilterSlot {
public:
    // A fresh pass-through chain, parsed from "VALUE".
    FilterSlot();
    explicit FilterSlot(std::shared_ptr<FilterSys> head);
    FilterSlot(const FilterSlot&) = delete;
    FilterSlot& operator=(const FilterSlot&) = delete;

    std::shared_ptr<FilterSys> load() const noexcept;
    // Installs a new head; the old chain is released when its last user
    // (possibly a running evaluation) lets go. An empty head is ignored.
    void store(std::shared_ptr<FilterSys> head) noexcept;

    // Evaluates the current chain with all scale factors 1.
    double evaluate(double input) const;

private:
    mutable std::mutex mutex_;
    std::shared_ptr<FilterSys> head_;
};

}  // namespace rez
