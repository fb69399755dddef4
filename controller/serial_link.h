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

    // Starts and stops of the loop meet here. A loop raises linkRunning when
    // it enters, under runControl, so a stop that comes after the entry
    // always finds it raised and ends that loop; and a stop waits only for
    // the loops that entered before it (counted per stop generation), never
    // for one that a host started after it.
    std::mutex runControl;
    std::uint64_t stopGeneration = 0;
    std::map<std::uint64_t, int> loopsByGeneration;
};

// The one process-wide link state.
SerialLink& serialLink() noexcept;

// The UDP loops start the same way: they note the stop generation when they
// enter the library and raise udpRunning through raiseUdpRunning, which
// refuses (and raises nothing) when a stop came in between; the loop then
// ends at once instead of running on past that stop.
std::uint64_t linkStopGeneration();
bool raiseUdpRunning(std::uint64_t enteredAt);

// The loop itself (startREZadEdudid_Thread without the priorities and the
// named sections).
void serialLinkLoop();
// One scan of every listed COM port; true when a controller answered.
bool autoConnect();
// One probe of the standard port; true when the controller answered.
bool connectStandardPort();

}  // namespace rez
