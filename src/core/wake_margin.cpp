#include "core/wake_margin.h"

#include <algorithm>

namespace rez {

WakeMargin::WakeMargin(double spinCapUs) noexcept
    : spinCapUs_(spinCapUs), marginUs_(std::clamp(spinCapUs, kMinimumUs, kMaximumUs)) {}

void WakeMargin::record(double latenessUs) noexcept {
    // A wake-up a hair early counts as on time; NaN counts as very late.
    int bucket = kBuckets - 1;
    if (latenessUs < static_cast<double>(kBuckets - 1)) bucket = latenessUs > 0.0 ? static_cast<int>(latenessUs) : 0;
    if (count_ == kWindow) {
        --histogram_[ring_[static_cast<std::size_t>(next_)]];
    } else {
        ++count_;
    }
    ring_[static_cast<std::size_t>(next_)] = static_cast<std::uint16_t>(bucket);
    ++histogram_[static_cast<std::size_t>(bucket)];
    next_ = (next_ + 1) % kWindow;
    update();
}

void WakeMargin::update() noexcept {
    // A wake-up later than the largest margin is one that no margin could
    // have saved (the thread was not run, typically); counting it would only
    // push the margin up and make every pass spin for nothing. A timer that
    // is that late more than now and then is not to be trusted at all,
    // though, and then such wake-ups count in full.
    const int overflow = histogram_[kBuckets - 1];
    const int excused = std::min(overflow, count_ * kExcusedVeryLatePerMille / 1000);
    const int allowed = count_ * kAllowedLatePerMille / 1000 + excused;
    // The bucket's upper edge: every wake-up in it was earlier than that.
    int above = 0;
    int bucket = kBuckets - 1;
    for (; bucket > 0; --bucket) {
        above += histogram_[static_cast<std::size_t>(bucket)];
        if (above > allowed) break;
    }
    percentileUs_ = static_cast<double>(bucket + 1);
    int below = 0;
    int median = 0;
    for (; median < kBuckets - 1; ++median) {
        below += histogram_[static_cast<std::size_t>(median)];
        if (2 * below >= count_) break;
    }
    medianUs_ = static_cast<double>(median + 1);
    // The guard covers the wake-ups that the window has not seen yet, and
    // grows with the spread the window has seen. Where that margin would make
    // the pass spin longer than it may, the margin keeps to the median plus
    // the spin: a wake-up that comes later than that costs its pass's
    // precision, not a millisecond of spinning on every pass.
    const double guardUs = 20.0 + percentileUs_ / 8.0;
    const double wanted = std::min(percentileUs_ + guardUs, medianUs_ + spinCapUs_);
    marginUs_ = std::clamp(wanted, kMinimumUs, kMaximumUs);
}

}  // namespace rez
