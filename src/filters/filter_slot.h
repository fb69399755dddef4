#pragma once
// A channel's chain head. The host's thread replaces it while the game-source
// thread evaluates: an evaluation works on the head it loaded, which stays
// alive until that evaluation lets go of it, whatever the slot holds by then.
//
// The slot is a shared pointer behind a short lock rather than
// std::atomic<std::shared_ptr>: libstdc++ 12's version of the latter guards
// its pointer in a way ThreadSanitizer reports as a race.
//
// The tick does not even take that lock: tickHead() keeps its own reference
// to the chain it last saw and compares a version number (one atomic load)
// to learn whether the host installed another since; only then does it take
// the lock and swap its reference. The chain the tick holds therefore stays
// alive until the tick itself moves on to the new one.
#include <atomic>
#include <cstdint>
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
    // (possibly a running evaluation, or the tick's reference) lets go. An
    // empty head is ignored.
    void store(std::shared_ptr<FilterSys> head) noexcept;

    // Evaluates the current chain with all scale factors 1.
    double evaluate(double input) const;

    // The current chain, for the one thread that evaluates this slot tick
    // after tick (and for no other thread). The reference is good until that
    // thread's next call. Allocates nothing; releases the previous chain when
    // a new one was installed.
    FilterSys& tickHead() noexcept {
        if (version_.load(std::memory_order_acquire) != tickVersion_) refreshTickHead();
        return *tickHead_;
    }

private:
    void refreshTickHead() noexcept;

    mutable std::mutex mutex_;
    std::shared_ptr<FilterSys> head_;
    // Counts installs; starts above the tick's "nothing seen yet".
    std::atomic<std::uint64_t> version_{1};

    // Owned by the evaluating thread.
    std::shared_ptr<FilterSys> tickHead_;
    std::uint64_t tickVersion_ = 0;
};

}  // namespace rez
