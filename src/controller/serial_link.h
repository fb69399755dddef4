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
// shares the line with the loop. The lock is never held across a wait.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "core/sample_clock.h"
#include "rezadedudid.h"

namespace rez {

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
};

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

private:
    std::uint64_t generation_;
    std::atomic<int>* counter_;
};

// The loop itself (startREZadEdudid_Thread without the priorities and the
// named sections).
void serialLinkLoop(const LoopEntry& entry);
// One scan of every listed COM port; true when a controller answered.
bool autoConnect();
// One probe of the standard port; true when the controller answered.
bool connectStandardPort();

}  // namespace rez
