#include "tools/host/summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

namespace rez::host {

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t at = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(values.size()))) - 1;
    return values[std::min(at, values.size() - 1)];
}

std::array<float, 6> rigCuesOfTick(const sim::RecordedTick& tick, const double* minimum, const double* maximum) {
    std::array<float, 6> out{};
    for (int i = 0; i < 6; ++i) {
        const float lo = static_cast<float>(minimum[i]), hi = static_cast<float>(maximum[i]);
        const float x = static_cast<float>(tick.cues[i]);
        out[i] = lo > x ? lo : (hi < x ? hi : x);
    }
    return out;
}

std::array<float, 6> rigCuesOfFrame(const std::array<std::uint8_t, 36>& bytes) {
    std::array<float, 6> out{};
    for (int i = 0; i < 6; ++i) {
        std::uint32_t bits = 0;
        for (int b = 3; b >= 0; --b) bits = bits << 8 | bytes[2 + 4 * i + b];
        std::memcpy(&out[i], &bits, sizeof bits);
    }
    return out;
}

namespace {

bool same(const std::array<float, 6>& a, const std::array<float, 6>& b) {
    return std::memcmp(a.data(), b.data(), sizeof(float) * 6) == 0;
}

// Lines the frames up with the ticks that sent them: a tick skipped between
// two matched frames lost its frame; a frame that matches no tick nearby was
// damaged on the way (or is not a cue frame of this run).
void matchFrames(const SummaryInput& in, Summary& s) {
    std::vector<std::array<float, 6>> expected;
    expected.reserve(in.ticks.size());
    for (const sim::RecordedTick& t : in.ticks) expected.push_back(rigCuesOfTick(t, in.rigMinimum, in.rigMaximum));
    std::size_t next = 0;
    bool started = false;
    for (const SeenFrame& f : in.frames) {
        if (!f.crcOk) continue;
        const std::array<float, 6> got = rigCuesOfFrame(f.bytes);
        const std::size_t end = started ? std::min(expected.size(), next + 250) : expected.size();
        std::size_t j = next;
        while (j < end && !same(expected[j], got)) ++j;
        if (j == end) {
            ++s.unmatched;
            continue;
        }
        if (started) s.lost += j - next;
        started = true;
        next = j + 1;
    }
}

void measureLatency(const SummaryInput& in, Summary& s) {
    std::vector<double> latencies;
    std::size_t before = 0;  // frames[before - 1] is the last one at or before the change
    for (double change : in.changesAtS) {
        while (before < in.frames.size() && in.frames[before].atS <= change) ++before;
        if (before == 0) continue;
        const std::array<float, 6> old = rigCuesOfFrame(in.frames[before - 1].bytes);
        for (std::size_t k = before; k < in.frames.size(); ++k) {
            if (!same(rigCuesOfFrame(in.frames[k].bytes), old)) {
                latencies.push_back((in.frames[k].atS - change) * 1000.0);
                break;
            }
        }
    }
    s.latencyCount = latencies.size();
    s.latencyP50Ms = percentile(latencies, 50);
    s.latencyP99Ms = percentile(latencies, 99);
}

}  // namespace

std::vector<ThreadCpuShare> threadCpuShares(const std::vector<platform::ThreadCpu>& atStart,
                                            const std::vector<platform::ThreadCpu>& atEnd, double wallS) {
    const std::string prefix = platform::kLibraryThreadPrefix;
    std::map<std::string, std::int64_t> spentNs;
    for (const platform::ThreadCpu& end : atEnd) {
        std::int64_t from = 0;
        // A thread id the system gave again, or a thread renamed since, is
        // another thread: it began inside the window.
        for (const platform::ThreadCpu& start : atStart)
            if (start.id == end.id && start.name == end.name && start.cpuNs <= end.cpuNs) from = start.cpuNs;
        const bool prefixed = end.name.compare(0, prefix.size(), prefix) == 0;
        spentNs[prefixed ? end.name.substr(prefix.size()) : end.name] += end.cpuNs - from;
    }
    std::vector<ThreadCpuShare> shares;
    for (const auto& [name, ns] : spentNs)
        shares.push_back({name, wallS > 0 ? static_cast<double>(ns) / (wallS * 1e9) * 100.0 : 0.0});
    return shares;
}

std::string formatThreadCpu(const std::vector<ThreadCpuShare>& shares) {
    std::string out = "CPU per library thread (% of one core): ";
    if (shares.empty()) return out + "none seen";
    double all = 0;
    char text[64];
    for (const ThreadCpuShare& s : shares) {
        std::snprintf(text, sizeof text, "%s%s %.1f", &s == &shares.front() ? "" : ", ", s.name.c_str(), s.percent);
        out += text;
        all += s.percent;
    }
    std::snprintf(text, sizeof text, "  (all %.1f)", all);
    return out + text;
}

Summary summarize(const SummaryInput& in) {
    Summary s;
    s.controllerSeen = in.controllerSeen;
    s.frames = in.frames.size();
    if (!in.frames.empty()) {
        // Counted per whole second: when the link comes up it delivers the
        // frames queued meanwhile in one burst, which a plain average over
        // the span would take for speed.
        const double first = std::floor(in.frames.front().atS) + 1;
        const double whole = std::floor(in.windowS - first);
        std::vector<double> perSecond(whole > 0 ? static_cast<std::size_t>(whole) : 0, 0.0);
        for (const SeenFrame& f : in.frames) {
            const double at = std::floor(f.atS - first);
            if (at >= 0 && at < whole) perSecond[static_cast<std::size_t>(at)] += 1;
        }
        const double span = in.frames.back().atS - in.frames.front().atS;
        if (!perSecond.empty()) s.framesPerSecond = percentile(perSecond, 50);
        else if (span > 0) s.framesPerSecond = static_cast<double>(in.frames.size() - 1) / span;
    }
    s.badChecksums = in.badChecksums;
    s.gaps = in.gaps;
    matchFrames(in, s);
    std::vector<double> jitter;
    for (double p : in.tickPeriodsMs) jitter.push_back(std::fabs(p - 2.0));
    s.periodP50 = percentile(in.tickPeriodsMs, 50);
    s.periodP99 = percentile(in.tickPeriodsMs, 99);
    s.jitterP50 = percentile(jitter, 50);
    s.jitterP99 = percentile(jitter, 99);
    if (!in.ticksPerSecond.empty()) {
        s.ticksPerSecondMin = *std::min_element(in.ticksPerSecond.begin(), in.ticksPerSecond.end());
        s.ticksPerSecondMedian = percentile(in.ticksPerSecond, 50);
    }
    measureLatency(in, s);
    s.threadCpu = threadCpuShares(in.threadsAtStart, in.threadsAtEnd, in.windowS);
    return s;
}

std::string formatSummary(const Summary& s) {
    char text[1024];
    std::string out = "summary\n";
    if (s.controllerSeen) {
        std::snprintf(text, sizeof text,
                      "  frames at the controller  %llu, %.0f per second (median of whole seconds)\n"
                      "  frames lost               %llu (ticks whose frame never arrived); gaps over two ticks %llu\n"
                      "  frames corrupted          %llu bad checksum, %llu matching no tick\n",
                      static_cast<unsigned long long>(s.frames), s.framesPerSecond,
                      static_cast<unsigned long long>(s.lost), static_cast<unsigned long long>(s.gaps),
                      static_cast<unsigned long long>(s.badChecksums), static_cast<unsigned long long>(s.unmatched));
        out += text;
    } else {
        out += "  frames at the controller  not known (a real port: the host does not see the far end)\n";
    }
    std::snprintf(text, sizeof text,
                  "  tick period               p50 %.3f ms, p99 %.3f ms; |period - 2 ms| p50 %.3f ms, p99 %.3f ms\n"
                  "  ticks per second          median %.0f, lowest %.0f (from the snapshot histories)\n",
                  s.periodP50, s.periodP99, s.jitterP50, s.jitterP99, s.ticksPerSecondMedian, s.ticksPerSecondMin);
    out += text;
    if (s.controllerSeen && s.latencyCount > 0)
        std::snprintf(text, sizeof text, "  game to frame latency     median %.2f ms, p99 %.2f ms (%zu changes)\n",
                      s.latencyP50Ms, s.latencyP99Ms, s.latencyCount);
    else
        std::snprintf(text, sizeof text, "  game to frame latency     not measured\n");
    out += text;
    out += "  " + formatThreadCpu(s.threadCpu) + "\n";
    return out;
}

bool outputsAtRest(const std::array<float, 6>& rig, const double* minimum, const double* maximum) {
    for (int i = 0; i < 6; ++i) {
        const double rest = minimum[i] > 0 ? minimum[i] : (maximum[i] < 0 ? maximum[i] : 0.0);
        // Switched-off channels give exactly 0; the margin only forgives the
        // float of the frame.
        if (std::fabs(static_cast<double>(rig[i]) - rest) > 1e-4) return false;
    }
    return true;
}

RestEnd judgeRestEnd(bool restDone, int stopRequests) {
    if (restDone) return RestEnd::AtRest;
    return stopRequests > 1 ? RestEnd::Skipped : RestEnd::TimedOut;
}

std::string restEndLine(RestEnd end, bool engineWasStopped, double fadePercent, const std::array<float, 6>& rig,
                        double restSeconds) {
    const std::string stopped =
        std::string("link stopped, engine stopped") + (engineWasStopped ? " (it was not running)" : "");
    if (end == RestEnd::AtRest) return "rezadedudid-host: rig at rest, " + stopped;
    double at[6];
    for (int i = 0; i < 6; ++i) at[i] = std::round(static_cast<double>(rig[i]) * 10.0) / 10.0 + 0.0;  // no -0.0
    char text[256];
    std::snprintf(text, sizeof text,
                  "the rig holds lat %.1f lon %.1f ver %.1f yaw %.1f roll %.1f pit %.1f (fade %.0f %%)", at[0], at[1],
                  at[2], at[3], at[4], at[5], fadePercent);
    if (end == RestEnd::Skipped)
        return "rezadedudid-host: rest skipped (Ctrl-C again): " + std::string(text) + "; " + stopped;
    char why[96];
    if (restSeconds > 0) std::snprintf(why, sizeof why, "the outputs did not reach rest within %.0f s: ", restSeconds);
    else std::snprintf(why, sizeof why, "no game was on for the engine to carry the outputs to rest: ");
    return "rezadedudid-host: rest skipped: " + std::string(why) + text + "; " + stopped;
}

}  // namespace rez::host
