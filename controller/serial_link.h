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
};

// The one process-wide link state.
SerialLink& serialLink() noexcept;

// The loop itself (startREZadEdudid_Thread without the priorities and the
// named sections).
void serialLinkLoop();
// One scan of every listed COM port; true when a controller answered.
bool autoConnect();
// One probe of the standard port; true when the controller answered.
bool connectStandardPort();

}  // namespace rez

extern "C" {
REZ_API int startREZadEdudid_Thread(void);
REZ_API void stopREZadEdudid_Thread(void);
REZ_API int isConnected(void);
REZ_API int isInterfaceRunning(void);
REZ_API int pauseInterface(void);
REZ_API int resumeInterface(void);
REZ_API int enableAutoconnect(void);
REZ_API int disableAutoconnect(void);
REZ_API int setStandartPort(const char* text);
REZ_API double getOutputTimeFrame(void);
}
