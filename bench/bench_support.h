#pragma once
// What several benchmarks share: quantiles, the bare loop that measures the
// machine's own wake-up lateness beside what a benchmark runs, and the
// length-prefixed pipe messages between a benchmark and the controller it
// runs in a process of its own.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/precise_wait.h"
#include "platform/priority.h"
#include "sim/emulated_controller.h"

namespace rez::bench {

inline double usBetween(std::int64_t from, std::int64_t to) {
    static const double perUs = static_cast<double>(platform::counterFrequency()) / 1e6;
    return static_cast<double>(to - from) / perUs;
}

// q-th quantile of `v`.
inline double quantile(std::vector<double> v, double q) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())))];
}

// Sleeps to absolute 2 ms deadlines on the precise timer (clock_nanosleep on
// Linux, the high-resolution waitable timer on Windows) and keeps how late
// each wake-up was, when, and the loop's own CPU time then, so that any
// stretch of the run can be looked at.
class BareLoop {
public:
    explicit BareLoop(std::size_t capacity) : at_(capacity), lateUs_(capacity), cpuNs_(capacity) {}
    ~BareLoop() { stop(); }
    BareLoop(const BareLoop&) = delete;
    BareLoop& operator=(const BareLoop&) = delete;

    void start() {
        thread_ = std::thread([this] {
            platform::raiseThreadPriority();
            platform::PreciseTimer timer;
            timerUsed_ = timer.available();
            const std::int64_t step = platform::counterFrequency() / 500;
            std::int64_t deadline = platform::counterNow() + step;
            while (running_.load()) {
                if (timerUsed_)
                    timer.sleepUntil(deadline);
                else
                    platform::sleepNs(static_cast<std::int64_t>(std::max(0.0, usBetween(platform::counterNow(), deadline)) * 1000));
                const std::int64_t now = platform::counterNow();
                const std::size_t n = count_.load(std::memory_order_relaxed);
                if (n < at_.size()) {
                    at_[n] = now;
                    lateUs_[n] = usBetween(deadline, now);
                    cpuNs_[n] = platform::threadCpuTimeNs();
                    count_.store(n + 1, std::memory_order_release);
                }
                deadline += step;
                if (deadline < now) deadline = now + step;  // a stall: start again from here
            }
        });
    }
    void stop() {
        running_ = false;
        if (thread_.joinable()) thread_.join();
    }

    // Lateness of the wake-ups between two counter values, in us.
    std::vector<double> between(std::int64_t from, std::int64_t to) const {
        std::vector<double> v;
        const std::size_t n = count_.load(std::memory_order_acquire);
        for (std::size_t i = 0; i < n; ++i)
            if (at_[i] >= from && at_[i] < to) v.push_back(lateUs_[i]);
        return v;
    }
    // The same into `into`; adds the loop's own CPU time and wall time over
    // them to `cpuNs` and `wallTicks`.
    void collect(std::int64_t from, std::int64_t to, std::vector<double>& into, std::int64_t& cpuNs,
                 std::int64_t& wallTicks) const {
        const std::size_t n = count_.load(std::memory_order_acquire);
        std::size_t first = n, last = n;
        for (std::size_t i = 0; i < n; ++i)
            if (at_[i] >= from && at_[i] < to) {
                into.push_back(lateUs_[i]);
                if (first == n) first = i;
                last = i;
            }
        if (first != n && last > first) {
            cpuNs += cpuNs_[last] - cpuNs_[first];
            wallTicks += at_[last] - at_[first];
        }
    }
    std::string describe(std::int64_t from, std::int64_t to) const {
        const std::vector<double> v = between(from, to);
        char text[200];
        std::snprintf(text, sizeof text, "bare loop wake-up lateness (%s): p50 %.1f us, p99 %.1f us, p99.9 %.1f us, %zu wake-ups",
                      timerUsed_ ? "precise timer" : "plain sleep", quantile(v, 0.5), quantile(v, 0.99), quantile(v, 0.999),
                      v.size());
        return text;
    }
    bool timerUsed() const { return timerUsed_; }

private:
    std::vector<std::int64_t> at_;
    std::vector<double> lateUs_;
    std::vector<std::int64_t> cpuNs_;
    std::atomic<std::size_t> count_{0};
    std::atomic<bool> running_{true};
    std::atomic<bool> timerUsed_{false};
    std::thread thread_;
};

#if !defined(_WIN32)
inline bool writeAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

inline bool readAll(int fd, void* data, std::size_t size) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// A text as its 32-bit length and its bytes.
inline bool writeText(int fd, const std::string& text) {
    const auto n = static_cast<std::uint32_t>(text.size());
    return writeAll(fd, &n, sizeof n) && writeAll(fd, text.data(), n);
}

inline bool readText(int fd, std::string& text) {
    std::uint32_t n = 0;
    if (!readAll(fd, &n, sizeof n) || n > 4096) return false;
    text.resize(n);
    return readAll(fd, text.data(), n);
}

// In a controller's own process: opens the emulated controller's line and
// tells the benchmark over `up` where it is (the port name, then the COM and
// sysfs folders the library must be pointed at); a line that cannot serve
// sends an empty name and why, and ends the process.
inline void openControllerAndAnnounce(sim::EmulatedController& controller, int up) {
    std::string why;
    const bool open = controller.open(why);
    if (!open || !controller.hasUsbIdentity()) {
        writeText(up, "");
        writeText(up, open ? "the line has no USB identity here" : why);
        _exit(0);
    }
    writeText(up, controller.portName());
    writeText(up, platform::environmentVariable("REZ_COM_DIR").value_or(""));
    writeText(up, platform::environmentVariable("REZ_SYSFS_ROOT").value_or(""));
}
#endif

}  // namespace rez::bench
