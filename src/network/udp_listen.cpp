#include "network/udp_listen.h"

#include <chrono>
#include <string>
#include <vector>

#include "controller/frame_parser.h"
#include "controller/link_flags.h"
#include "controller/mailbox.h"
#include "controller/serial_link.h"
#include "core/export_guard.h"
#include "log/error_log.h"
#include "network/ethernet_adapter.h"
#include "network/multicast_sender.h"
#include "network/udp_port.h"
#include "platform/clock.h"
#include "platform/priority.h"
#include "platform/thread_name.h"

namespace rez {

UdpListenState& udpListenState() noexcept {
    static UdpListenState state;
    return state;
}

namespace {

// Called under liveUse. Nothing queued for a controller that went silent, or
// whose listener has gone, is sent later.
void endLive(LinkFlags& flags) {
    flags.udpLive = false;
    mailbox().serialTxQueue.clear();
    mailbox().udpTxQueue.clear();
}

// One listener inside the loop, until it leaves by any way.
class Listening {
public:
    explicit Listening(UdpListenState& state) : state_(state) {
        std::lock_guard<std::mutex> live(state_.liveUse);
        ++state_.listening;
    }
    ~Listening() {
        // Live would otherwise hold the serial link aside for good, with no
        // listener left to let it expire.
        std::lock_guard<std::mutex> live(state_.liveUse);
        if (--state_.listening == 0 && linkFlags().udpLive.load()) endLive(linkFlags());
    }
    Listening(const Listening&) = delete;
    Listening& operator=(const Listening&) = delete;

private:
    UdpListenState& state_;
};

std::string dotted(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

// How long an idle listener waits for a datagram before it looks at its
// flags again.
constexpr int kIdleWaitMs = 20;

void runListener() {
    LoopEntry entry;
    LinkFlags& flags = linkFlags();
    switch (entry.claim(LoopKind::UdpListener)) {
        case LoopEntry::Claim::Busy: return;  // another thread's listener runs
        case LoopEntry::Claim::Stopped: flags.udpEnded = true; return;
        case LoopEntry::Claim::Taken: break;
    }
    ErrorLog log("error_log.txt");
    log.logInfo("Udp listen thread: starting");
    // The host's thread gets its own priority and name back when the listener returns.
    const platform::LentThreadPriority priority;
    const platform::LentThreadName name("rez-listener");

    if (!entry.raise(flags.udpRunning)) {
        // Stopped while it was starting.
        flags.udpEnded = true;
        return;
    }
    flags.udpEnded = false;
    flags.interfaceRunning = true;
    flags.udpStarted = true;
    UdpListenState& state = udpListenState();

    {
        const Listening listening(state);
        UdpPort port;
        // A port that failed to open has logged why; the loop then polls a
        // socket that receives nothing until it is stopped.
        const WiredAdapter adapter = choosePreferredEthernetAdapter(log);
        if (adapter.found())
            port.openPort(networkSettings().udpListenPort.load(), adapter.text);
        else
            log.logInfo("Udp listen thread: no wired adapter, nothing will be received");
        log.logInfo("Udp listen thread: port opened starting main routine");

        auto lastAccepted = std::chrono::steady_clock::now();
        bool foreignLogged = false;
        bool readyButEmpty = false;
        while (flags.udpRunning.load() && !entry.stopped()) {
            // While the serial controller answers, datagrams wait in the socket.
            if (flags.serialLive.load()) {
                do platform::sleepMs(100);
                while (flags.serialLive.load() && flags.udpRunning.load() && !entry.stopped());
            }
            std::vector<std::uint8_t> datagram = port.receive();
            if (!datagram.empty() && !adapter.onSubnet(port.senderAddress())) {
                state.foreignDatagrams.fetch_add(1);
                // Once per listener: a flood must not fill the log.
                if (!foreignLogged)
                    log.logInfo("Udp listen thread: dropping datagrams from outside the adapter's subnet, the first from " +
                                dotted(port.senderAddress()));
                foreignLogged = true;
            } else if (!datagram.empty() && parseFrames(datagram, mailbox().udpRxQueue)) {
                // Each datagram is parsed on its own: a frame cut at its end is lost.
                std::lock_guard<std::mutex> live(state.liveUse);
                flags.udpLive = true;
                lastAccepted = std::chrono::steady_clock::now();
            }
            if (flags.udpLive.load() && std::chrono::steady_clock::now() - lastAccepted >= kUdpLiveExpiry) {
                std::lock_guard<std::mutex> live(state.liveUse);
                endLive(flags);
            }
            // One datagram a pass, a pass every 2 ms while datagrams come; with
            // none queued the pass waits for the next one instead of waking
            // every 2 ms to find nothing (a stop is seen within that wait).
            // A socket that reports a datagram and then gives none (an error
            // it keeps) gets the 2 ms pass again, never a loop without a sleep.
            bool sleepPass = true;
            if (datagram.empty() && !readyButEmpty) {
                const int ready = port.waitReadable(kIdleWaitMs);
                sleepPass = ready < 0;
                readyButEmpty = ready > 0;
            } else {
                readyButEmpty = false;
            }
            if (sleepPass) platform::sleepMs(2);
        }
        log.logInfo("Udp listen thread: closing");
        port.closePort();
    }
    // After a stop the flag may already belong to a loop started since.
    entry.lower(flags.udpRunning);
    flags.udpEnded = true;
}

}  // namespace
}  // namespace rez

extern "C" REZ_API void startUPDListenThread() { rez::guardedCall([] { rez::runListener(); }); }
