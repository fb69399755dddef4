#pragma once
// How long before its deadline a paced pass has to go to sleep so that it
// wakes in time, learnt from how late this machine's recent wake-ups were.
// Wake-ups are late by tens of microseconds on an idle Linux machine and by
// most of a millisecond under Wine (its timers run on a millisecond grid),
// so the margin is learnt rather than fixed. The pass spins from its wake-up
// to its deadline, so the margin is also what a pass spins: it stays within
// the spin the pass may afford, and a timer too coarse for that gets a margin
// near its typical lateness (half its wake-ups late, the rest spinning at
// most that share).
#include <array>
#include <cstdint>

namespace rez {

class WakeMargin {
public:
    static constexpr int kWindow = 1000;         // wake-ups remembered
    static constexpr double kMinimumUs = 50.0;   // never trust the timer closer than this
    static constexpr double kMaximumUs = 1000.0; // more would leave nothing to sleep after the 1 ms sleep
    // Up to this share of the remembered wake-ups may be later than the
    // high percentile (5 of 1000: the 99.5th percentile).
    static constexpr int kAllowedLatePerMille = 5;
    // Wake-ups more than a millisecond late beyond those are left out, up to
    // this share (see update()).
    static constexpr int kExcusedVeryLatePerMille = 20;

    // `spinCapUs`: the longest spin a pass may afford after it wakes.
    explicit WakeMargin(double spinCapUs) noexcept;

    // Notes one wake-up, `latenessUs` after the deadline it was asked for.
    void record(double latenessUs) noexcept;
    // The margin to sleep short of the deadline by: the spin cap until there
    // is anything to go by.
    double marginUs() const noexcept { return marginUs_; }
    // The percentiles the margin is built on (for reports).
    double latenessPercentileUs() const noexcept { return percentileUs_; }
    double latenessMedianUs() const noexcept { return medianUs_; }
    int samples() const noexcept { return count_; }

private:
    static constexpr int kBuckets = 1024;  // 1 us each; the last holds everything later

    void update() noexcept;

    std::array<std::uint16_t, kBuckets> histogram_{};
    std::array<std::uint16_t, kWindow> ring_{};  // bucket of each remembered wake-up
    int count_ = 0;
    int next_ = 0;
    double spinCapUs_;
    double percentileUs_ = kMaximumUs;
    double medianUs_ = kMaximumUs;
    double marginUs_;
};

}  // namespace rez
