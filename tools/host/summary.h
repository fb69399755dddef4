#pragma once
// The end-of-run figures: what reached the controller, what was lost on the
// way, how steady the engine's tick was, and how long a change in the game
// took to reach the wire.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/thread_name.h"
#include "sim/recording.h"

namespace rez::host {

struct SeenFrame {
    double atS = 0;  // arrival at the controller, seconds from the run's start
    bool crcOk = false;
    std::array<std::uint8_t, 36> bytes{};
};

struct SummaryInput {
    double windowS = 0;                 // how long the run went on before the rig was sent to rest
    std::vector<SeenFrame> frames;      // cue frames that arrived within the window
    std::uint64_t badChecksums = 0;     // frames whose trailer was wrong
    std::uint64_t gaps = 0;             // pauses of more than two ticks between frames
    std::vector<sim::RecordedTick> ticks;  // every tick of the window, in order
    double rigMinimum[6] = {}, rigMaximum[6] = {};
    std::vector<double> tickPeriodsMs;  // the engine's tick period, sampled
    std::vector<double> ticksPerSecond; // ticks counted from the histories, per whole second
    std::vector<double> changesAtS;     // moments the game published a changed sample
    bool controllerSeen = true;         // false when no controller count is known (a real port)
    // The library's threads when the window began and when the rig was sent to rest.
    std::vector<platform::ThreadCpu> threadsAtStart, threadsAtEnd;
};

// One library thread name's CPU over a window, in percent of one core.
struct ThreadCpuShare {
    std::string name;  // without the library's prefix: "engine", "link"
    double percent = 0;
};

struct Summary {
    double framesPerSecond = 0;
    std::uint64_t frames = 0;
    std::uint64_t lost = 0;       // ticks whose frame never arrived
    std::uint64_t unmatched = 0;  // frames that match no tick: corrupted on the way
    std::uint64_t badChecksums = 0, gaps = 0;
    double periodP50 = 0, periodP99 = 0, jitterP50 = 0, jitterP99 = 0;
    double ticksPerSecondMin = 0, ticksPerSecondMedian = 0;
    std::size_t latencyCount = 0;
    double latencyP50Ms = 0, latencyP99Ms = 0;
    bool controllerSeen = true;
    std::vector<ThreadCpuShare> threadCpu;
};

// The frame a tick sends: its six rig cues as the library bounds them.
std::array<float, 6> rigCuesOfTick(const sim::RecordedTick& tick, const double* minimum, const double* maximum);
std::array<float, 6> rigCuesOfFrame(const std::array<std::uint8_t, 36>& bytes);

// What each library thread name cost between two samples `wallS` seconds
// apart, threads of one name summed, in name order. A thread is counted when
// it is in both samples, or from 0 when it began after the first; one that
// ended between them is not counted at all.
std::vector<ThreadCpuShare> threadCpuShares(const std::vector<platform::ThreadCpu>& atStart,
                                            const std::vector<platform::ThreadCpu>& atEnd, double wallS);
// "CPU per library thread (% of one core): engine 4.1, link 0.6  (all 4.7)"
std::string formatThreadCpu(const std::vector<ThreadCpuShare>& shares);

Summary summarize(const SummaryInput& in);
std::string formatSummary(const Summary& s);

double percentile(std::vector<double> values, double p);

// Whether the six rig cues of a frame sit where the library rests them: at
// 0, bounded by the rig limits as every cue is.
bool outputsAtRest(const std::array<float, 6>& rig, const double* minimum, const double* maximum);

// How the run left the rig: at rest, or held where the last frame put it
// because the owner pressed Ctrl-C again or the rest did not end in time.
enum class RestEnd { AtRest, Skipped, TimedOut };
RestEnd judgeRestEnd(bool restDone, int stopRequests);
// The run's last line. `rig` is the last frame's cues, `restSeconds` the
// time the rest was given.
std::string restEndLine(RestEnd end, bool engineWasStopped, double fadePercent, const std::array<float, 6>& rig,
                        double restSeconds);
// The exit code of a run whose rest was skipped; a script that stacks runs
// must not take the rig for parked.
constexpr int kRestSkippedExitCode = 3;

}  // namespace rez::host
