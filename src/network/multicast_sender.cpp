#include "network/multicast_sender.h"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "controller/frame_parser.h"
#include "controller/link_flags.h"
#include "controller/mailbox.h"
#include "controller/serial_link.h"
#include "core/export_guard.h"
#include "core/sample_clock.h"
#include "log/error_log.h"
#include "network/ethernet_adapter.h"
#include "platform/clock.h"
#include "platform/priority.h"
#include "platform/thread_name.h"

namespace rez {

std::string NetworkSettings::address() const {
    std::lock_guard<std::mutex> use(addressUse);
    return std::string(multicastAddress.data());
}

void NetworkSettings::reset() {
    {
        std::lock_guard<std::mutex> use(addressUse);
        multicastAddress.fill('\0');
        std::memcpy(multicastAddress.data(), kDefaultMulticastAddress, std::strlen(kDefaultMulticastAddress));
    }
    multicastPort = kDefaultMulticastPort;
    udpListenPort = kDefaultListenPort;
    udpAutoRepeatCount = 0;
}

NetworkSettings& networkSettings() noexcept {
    static NetworkSettings settings;
    return settings;
}

std::function<bool(platform::UdpSocket&)>& senderSocketCloser() noexcept {
    static std::function<bool(platform::UdpSocket&)> closer;
    return closer;
}

bool isValidMulticastAddress(const char* text) noexcept {
    if (text == nullptr) return false;
    int parts = 0;
    const char* p = text;
    for (;;) {
        int digits = 0;
        int value = 0;
        for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
            value = value * 10 + (*p - '0');
            if (value > 255) return false;
        }
        if (digits == 0) return false;
        ++parts;
        if (*p == '\0') return parts == 4;
        if (*p != '.' || parts == 4) return false;
        ++p;
    }
}

namespace {

// The pacing clock of the sender; lives as long as the library.
SampleClock& senderClock() {
    static SampleClock clock;
    return clock;
}

std::string errorText(const char* prefix) { return prefix + std::to_string(platform::lastSocketError()); }

// Ends the sender after a failure, or at its normal end: the UDP loops are
// stopped, unless a stop came first, after which the run flag may already
// belong to loops the host started since.
void endStopped(const LoopEntry& entry) {
    entry.lower(linkFlags().udpRunning);
    linkFlags().udpEnded = true;
}

// One message as it goes on the wire: a copy with the checksum over its
// end marker when asked; false when the send failed.
bool sendCopy(platform::UdpSocket& socket, std::vector<std::uint8_t> message, bool withChecksum,
              std::uint32_t group, std::uint16_t port) {
    if (withChecksum) writeChecksumTrailer(message);
    return socket.sendTo(message.data(), static_cast<int>(message.size()), group, port) >= 0;
}

// Every queued message, with its checksum. False when a send failed.
bool sendQueued(platform::UdpSocket& socket, std::uint32_t group, std::uint16_t port) {
    // Taken whole before it is sent: the listener may clear the queue meanwhile.
    while (auto message = mailbox().udpTxQueue.takeFront()) {
        if (message->size() > 2 && !sendCopy(socket, std::move(*message), true, group, port)) return false;
    }
    return true;
}

// One sending pass: every queued message, then the auto message. False when
// a send failed.
bool sendPass(platform::UdpSocket& socket, std::uint32_t group, std::uint16_t port) {
    Mailbox& box = mailbox();
    if (!sendQueued(socket, group, port)) return false;
    if (auto message = box.autoQueue.front()) {
        if (message->size() > 2 && !sendCopy(socket, *message, controllerVersionLatch().load() != 0, group, port))
            return false;
        advanceAutoMessage(*message, networkSettings().udpAutoRepeatCount);
    }
    return true;
}

void runSender() {
    LoopEntry entry;
    // One sender at a time: the pacing clock and the repeat count are the
    // process's, and two would send every message twice.
    switch (entry.claim(LoopKind::MulticastSender)) {
        case LoopEntry::Claim::Busy: return;
        case LoopEntry::Claim::Stopped:
            linkFlags().udpEnded = true;
            return;
        case LoopEntry::Claim::Taken: break;
    }
    ErrorLog log("error_log.txt");
    LinkFlags& flags = linkFlags();
    log.logInfo("Multicast Thread started.");
    const platform::LentThreadPriority priority;
    const platform::LentThreadName name("rez-sender");

    const int startup = platform::netStartup();
    if (startup != 0) {
        log.logInfo("Multicastthread:WSAStartup failed with error: " + std::to_string(startup));
        endStopped(entry);
        return;
    }
    const std::string adapter = GetPreferredEthernetAdapter(log);
    if (adapter.empty()) {
        log.logInfo("Multicastthread:No suitable Ethernet found , exiting");
        platform::netCleanup();
        endStopped(entry);
        return;
    }
    platform::UdpSocket socket;
    if (!socket.open()) {
        log.logInfo(errorText("Multicastthread:Socket failed with error: "));
        platform::netCleanup();
        endStopped(entry);
        return;
    }
    if (!socket.bindAddress(adapter, 0)) {
        // Leaves the run flags alone: a listen thread that runs goes on.
        log.logInfo(errorText("Multicastthread:Socket failed  bind with error: "));
        socket.close();
        platform::netCleanup();
        return;
    }
    log.logInfo("Multicastthread: Bound to Ip: " + adapter);
    // Frames leave by the wired adapter and stay on its link, even where the
    // route table prefers another adapter (a Wi-Fi route of lower metric).
    std::uint32_t source = 0;
    platform::inetAddr(adapter, source);
    if (!socket.setMulticastInterface(source) || !socket.setMulticastTtl(1)) {
        log.logInfo(errorText("Multicastthread: Socket failed to set the multicast interface with error: "));
        socket.close();
        platform::netCleanup();
        return;
    }

    // Read once: a group set later takes effect at the next start.
    std::uint32_t group = 0xFFFFFFFFu;  // what inet_addr gives for text it cannot read
    platform::inetAddr(networkSettings().address(), group);
    const auto port = static_cast<std::uint16_t>(networkSettings().multicastPort.load());

    if (!entry.raise(flags.udpRunning)) {
        // Stopped while it was starting: nothing was sent.
        socket.close();
        platform::netCleanup();
        flags.udpEnded = true;
        return;
    }
    // What piled up before this sender took the controller is stale: cue
    // frames of ticks long past.
    mailbox().udpTxQueue.clear();
    flags.udpEnded = false;
    flags.interfaceRunning = true;
    flags.udpStarted = true;
    log.logInfo("Multicastthread: starting Timer");
    SampleClock& clock = senderClock();
    clock.restart();
    const bool onWake = transmitOnWake();
    // Between passes, what was queued since goes out at once, unless the
    // sender has been stopped, paused or stood aside meanwhile.
    auto sendOnWake = [&] {
        if (!flags.udpRunning.load() || entry.stopped() || !flags.interfaceRunning.load() || flags.serialLive.load())
            return true;
        return sendQueued(socket, group, port);
    };

    while (flags.udpRunning.load() && !entry.stopped()) {
        if (!flags.interfaceRunning.load() || flags.serialLive.load()) {
            platform::sleepMs(100);
            continue;
        }
        const bool sent = sendPass(socket, group, port) &&
                          (onWake ? waitPass(clock, mailbox().udpTxWake, sendOnWake) : (waitPass(clock), true));
        if (!sent) {
            log.logInfo(errorText("Multicastthread: Send failed:"));
            socket.close();
            platform::netCleanup();
            endStopped(entry);
            return;
        }
    }

    log.logInfo(errorText("Multicastthread: Closing Socket:"));
    const auto& closer = senderSocketCloser();
    if (!(closer ? closer(socket) : socket.close())) {
        // The host process is not ours to end: report the failure and stop
        // like any other end.
        log.logInfo(errorText("Multicastthread: Closing Socket failed:"));
        socket.close();
        platform::netCleanup();
        endStopped(entry);
        return;
    }
    log.logInfo(errorText("Multicastthread: Exiting:"));
    platform::netCleanup();
    endStopped(entry);
}

void setAddress(const char* address, unsigned port) {
    ErrorLog log("error_log.txt");
    NetworkSettings& settings = networkSettings();
    // Text that passes the check but would not fit the buffer (only possible
    // with superfluous leading zeros) is refused like invalid text.
    if (isValidMulticastAddress(address) && std::strlen(address) < kMulticastAddressBuffer) {
        {
            std::lock_guard<std::mutex> use(settings.addressUse);
            settings.multicastAddress.fill('\0');
            std::memcpy(settings.multicastAddress.data(), address, std::strlen(address));
        }
        settings.multicastPort = static_cast<std::int32_t>(port & 0xFFFFu);
        log.logInfo("UDP Controller Thread: Validated multicast IP address. using Multicast address: " +
                    settings.address() + " and Port: " + std::to_string(settings.multicastPort.load()));
    } else {
        log.logInfo("UDP Controller Thread: Failed to validate multicast IP address. Using default Multicast address: " +
                    settings.address() + " and Port: " + std::to_string(settings.multicastPort.load()));
    }
}

}  // namespace
}  // namespace rez

extern "C" REZ_API void startUPDMulticastSenderThread() { rez::guardedCall([] { rez::runSender(); }); }

extern "C" REZ_API void setMulticastAddr(const char* address, unsigned port) {
    rez::guardedCall([&] { rez::setAddress(address, port); });
}

extern "C" REZ_API void setUDPport(unsigned port) {
    rez::guardedCall([&] {
        rez::ErrorLog log("error_log.txt");
        rez::networkSettings().udpListenPort = static_cast<std::int32_t>(port & 0xFFFFu);
        log.logInfo("UDP Controller Thread : Set UdpPort : " + std::to_string(rez::networkSettings().udpListenPort.load()));
    });
}
