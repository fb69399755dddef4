#include "network/udp_listen.h"

#include <chrono>
#include <vector>

#include "controller/frame_parser.h"
#include "controller/link_flags.h"
#include "controller/mailbox.h"
#include "controller/serial_link.h"
#include "core/export_guard.h"
#include "log/error_log.h"
#include "network/multicast_sender.h"
#include "network/udp_port.h"
#include "platform/clock.h"
#include "platform/priority.h"

namespace rez {
namespace {

void runListener() {
    const LoopEntry entry;
    ErrorLog log("error_log.txt");
    log.logInfo("Udp listen thread: starting");
    platform::requestTimerResolution();
    platform::raiseProcessPriority();
    platform::raiseThreadPriority();

    LinkFlags& flags = linkFlags();
    if (!entry.raise(flags.udpRunning)) {
        // Stopped while it was starting.
        flags.udpEnded = true;
        return;
    }
    flags.udpEnded = false;
    flags.interfaceRunning = true;
    flags.udpStarted = true;

    {
        UdpPort port;
        // A port that failed to open has logged why; the loop then polls a
        // socket that receives nothing until it is stopped.
        port.openPort(networkSettings().udpListenPort.load());
        log.logInfo("Udp listen thread: port opened starting main routine");

        auto lastAccepted = std::chrono::steady_clock::now();
        while (flags.udpRunning.load() && !entry.stopped()) {
            // While the serial controller answers, datagrams wait in the socket.
            if (flags.serialLive.load()) {
                do platform::sleepMs(100);
                while (flags.serialLive.load() && flags.udpRunning.load() && !entry.stopped());
            }
            std::vector<std::uint8_t> datagram = port.receive();
            // Each datagram is parsed on its own: a frame cut at its end is lost.
            if (!datagram.empty() && parseFrames(datagram, mailbox().udpRxQueue)) {
                flags.udpLive = true;
                lastAccepted = std::chrono::steady_clock::now();
            }
            if (flags.udpLive.load() && std::chrono::steady_clock::now() - lastAccepted >= kUdpLiveExpiry) {
                flags.udpLive = false;
                // Nothing queued for a controller that went silent is sent later.
                mailbox().serialTxQueue.clear();
                mailbox().udpTxQueue.clear();
            }
            platform::sleepMs(2);
        }
        log.logInfo("Udp listen thread: closing");
        port.closePort();
    }
    // After a stop the flag may already belong to a loop started since.
    if (!entry.stopped()) flags.udpRunning = false;
    flags.udpEnded = true;
}

}  // namespace
}  // namespace rez

extern "C" REZ_API void startUPDListenThread() { rez::guardedCall([] { rez::runListener(); }); }
