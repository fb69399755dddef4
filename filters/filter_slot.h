#pragma once
// A channel's chain head. The host's thread replaces it while the game-source
// thread evaluates: an evaluation works on the head it loaded, which stays
// alive until that evaluation lets go of it, whatever the slot holds by then.
#include <atomic>
#include <memory>

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
    std::atomic<std::shared_ptr<FilterSys>> head_;
};

}  // namespace rez
