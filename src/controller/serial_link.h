#pragma once
// The serial link to the motion controller: the loop that runs on a thread
// the host lends through startREZadEdudid_Thread, the search for the
// controller's port (a scan of every COM port, or the configured standard
// port), and the small exports that pause, resume and report the link.
//
// Port use: the loop, the host's pause and the two probes reach the one
// controller port from different threads. Every stretch of port use (one
// pass's writes and reads, one probe, a close) happens under the link's
// port-use lock, and the loop re-checks portConnected under it, so a pause
// never closes the port in the middle of a pass and a resume's probe never
// shares the line with the loop. The lock is never held across a wait, and
// no stretch under it lasts long: the line's write time-out is short once a
// controller answered, and a probe waits for its reply in short reads.
#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "core/sample_clock.h"
#include "rezadedudid.h"

namespace rez {

class LoopEntry;

struct SerialLink {
    SampleClock linkClock;                   // paces the loop, measures the pass time
    std::vector<std::uint8_t> serialRxBuffer;  // bytes not yet cut into frames (loop thread only)
    std::mutex portUse;                      // one stretch of controller-port use at a time
    std::atomic<int> activeLoops{0};         // loops inside startREZadEdudid_Thread now
    std::atomic<std::uint64_t> passes{0};    // loop passes so far (Searching and Connected)

    // Starts and stops of the lent loops meet here (see LoopEntry).
    std::mutex runControl;
    std::atomic<std::uint64_t> stopGeneration{0};          // written under runControl
    std::map<std::uint64_t, int> loopsByGeneration;        // loops now inside, by the generation they entered in
    std::array<const LoopEntry*, 3> holders{};             // the loop of each kind that runs now (runControl)
    std::atomic<bool> standardProbe{false};                // a host thread probes the standard port now
};

// The lent loops that each run once at a time: two of a kind would share one
// port, one clock and one repeat count.
enum class LoopKind : std::size_t { SerialLink = 0, UdpListener = 1, MulticastSender = 2 };

// The one process-wide link state.
SerialLink& serialLink() noexcept;

// One lent loop (serial link, UDP listener, multicast sender) from its entry
// into the library to its end. Every stop starts a new generation, ends the
// loops that entered before it and waits for exactly those: not for a loop
// a host started after it, and a stop that comes while a loop is still
// starting is not lost. The run flags are shared by all loops, so a loop
// started after a stop may raise them again; a loop that entered before the
// stop still ends, because it watches stopped() as well.
class LoopEntry {
public:
    // `counter`, when given, counts the loops of one kind inside the library.
    explicit LoopEntry(std::atomic<int>* counter = nullptr);
    ~LoopEntry();
    LoopEntry(const LoopEntry&) = delete;
    LoopEntry& operator=(const LoopEntry&) = delete;

    // A stop came since the entry.
    bool stopped() const { return serialLink().stopGeneration.load() != generation_; }
    // Raises a run flag unless a stop came since the entry.
    bool raise(std::atomic<bool>& runFlag) const;
    // Clears a run flag unless a stop came since the entry: after a stop the
    // flag may belong to a loop started since.
    void lower(std::atomic<bool>& runFlag) const;

    enum class Claim { Taken, Busy, Stopped };
    // Takes the one place of its kind for as long as the entry lives. Busy
    // when a loop of that kind runs; while one that a stop has ended is still
    // on its way out, waits for it to leave. Stopped when a stop comes first.
    Claim claim(LoopKind kind);

private:
    std::uint64_t generation_;
    std::atomic<int>* counter_;
    static constexpr std::size_t kNoPlace = ~std::size_t{0};
    std::size_t held_ = kNoPlace;
};

// The loop itself (startREZadEdudid_Thread without the priorities and the
// named sections).
void serialLinkLoop(const LoopEntry& entry);
// One scan of every listed COM port for the loop of `entry`; true when a
// controller answered. Ends early once that loop is stopped or paused.
bool autoConnect(const LoopEntry& entry);
// One probe of the standard port; true when the controller answered.
bool connectStandardPort();

}  // namespace rez
