#include "controller/serial_link.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "controller/frame_parser.h"
#include "controller/link_flags.h"
#include "controller/mailbox.h"
#include "controller/serial_ports.h"
#include "core/console.h"
#include "core/export_guard.h"
#include "platform/clock.h"
#include "platform/priority.h"
#include "platform/serial_port.h"
#include "platform/shared_memory.h"
#include "platform/thread_name.h"

namespace rez {

SerialLink& serialLink() noexcept {
    static SerialLink link;
    return link;
}

namespace {

constexpr std::size_t kSectionSize = 512;
constexpr int kPausedSleepMs = 100;
constexpr int kStandardPortTries = 3;
constexpr int kStandardPortRetryMs = 500;
// Once a controller answered: a write that cannot hand its bytes to the
// driver within this long means the controller stopped taking them (at
// 250000 baud even a 512-byte message needs 21 ms once there is room). The
// 10 s the port opens with would hold the port, and with it pause and stop,
// for that long per message.
constexpr std::uint32_t kWriteTimeoutMs = 50;
// A read returns as soon as anything came, or after this long with nothing,
// so a probe waiting for its reply looks at the run flags in between.
constexpr std::uint32_t kShortReadMs = 20;
// How long the standard port's probe waits for the reply in all.
constexpr std::int64_t kProbeReplyMs = 10000;
// Waits that a stop or a pause cuts short are slept in steps of this.
constexpr int kWaitStepMs = 10;

// Creates and maps one of the link's named sections; a view that cannot be
// mapped is reported and its section closed, a failed creation is silent.
void openSection(platform::SharedMemory& section, const char* name) {
    if (!section.createOrOpen(name, kSectionSize)) return;
    if (!section.map(platform::MapAccess::ReadWrite)) {
        consolePrint("Could not map view of file (%d).\n", static_cast<int>(platform::serialLastError()));
        section.close();
    }
}

void useLinkTimeouts(CSerialPort& port) {
    platform::SerialTimeouts timeouts = port.GetTimeouts();
    timeouts.readInterval = platform::serialTimeoutMax;
    timeouts.readTotalMultiplier = platform::serialTimeoutMax;
    timeouts.readTotalConstant = kShortReadMs;
    timeouts.writeTotalMultiplier = 0;
    timeouts.writeTotalConstant = kWriteTimeoutMs;
    port.SetTimeouts(timeouts);
}

// A write cut short by its time-out fails like any failing call: the
// controller is no longer taking what the link sends.
void writeAll(CSerialPort& port, const std::uint8_t* data, std::size_t size) {
    if (port.Write(data, static_cast<int>(size)) < static_cast<int>(size)) throwSerialException();
}

// Reads up to `size` bytes that are already there; the count read.
std::size_t readWaiting(CSerialPort& port, std::uint8_t* data, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const int n = port.Read(data + got, static_cast<int>(size - got));
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

// A failed port call: reported, and the port closed.
void portFailed(const CSerialException& e) {
    consolePrint(" Serial Exception Error: %u \n", e.m_dwError);
    closeControllerPort();
}

bool loopGoesOn(const LoopEntry& entry) { return linkFlags().linkRunning.load() && !entry.stopped(); }

// Whether the loop may still use the port: it runs, and neither the host's
// pause nor live UDP traffic has asked it to stand aside.
bool mayUsePort(const LoopEntry& entry) {
    const LinkFlags& flags = linkFlags();
    return loopGoesOn(entry) && flags.interfaceRunning.load() && !flags.udpLive.load();
}

// Sleeps `ms`, or less when the loop is stopped or paused meanwhile; false then.
bool sleepUnlessEnded(int ms, const LoopEntry& entry) {
    for (int slept = 0; slept < ms; slept += kWaitStepMs) {
        if (!mayUsePort(entry)) return false;
        platform::sleepMs(std::min(kWaitStepMs, ms - slept));
    }
    return mayUsePort(entry);
}

// Writes the queued messages with their checksum, each taken whole, for as
// long as the loop may use the port. On the first failure the port is
// closed and the rest dropped, since each would only fail the same way.
// False when the port failed.
bool writeTransmitQueue(CSerialPort& port, const LoopEntry& entry) {
    MessageQueue& queue = mailbox().serialTxQueue;
    while (mayUsePort(entry)) {
        auto message = queue.takeFront();
        if (!message) break;
        if (message->empty()) continue;
        writeChecksumTrailer(*message);
        try {
            writeAll(port, message->data(), message->size());
        } catch (const CSerialException& e) {
            portFailed(e);
            queue.clear();
            return false;
        }
    }
    return true;
}

// Between passes: what was queued since goes out at once, as long as the
// link still holds the port and has not been paused or stood aside.
void writeOnWake(SerialLink& link, const LoopEntry& entry) {
    if (!mayUsePort(entry)) return;
    std::lock_guard<std::mutex> use(link.portUse);
    if (linkFlags().portConnected.load()) writeTransmitQueue(controllerPort(), entry);
}

// Moves what the controller has sent so far into the receive buffer; the
// bytes taken, or -1 when the port failed (it is then closed).
long takeReplies(SerialLink& link, CSerialPort& port) {
    long taken = 0;
    try {
        std::uint32_t waiting = port.BytesWaiting();
        std::uint8_t chunk[kMaxMessageLength];
        while (waiting > 0) {
            const std::size_t got = readWaiting(port, chunk, std::min<std::size_t>(waiting, sizeof chunk));
            if (got == 0) break;
            link.serialRxBuffer.insert(link.serialRxBuffer.end(), chunk, chunk + got);
            waiting -= static_cast<std::uint32_t>(got);
            taken += static_cast<long>(got);
        }
    } catch (const CSerialException& e) {
        portFailed(e);
        return -1;
    }
    return taken;
}

// One Connected pass's port work: the transmit queue with checksums, the
// auto message with its repeat rule, and what the controller had sent when
// the pass began (a device that never stops sending cannot hold the pass).
// A failing call closes the port; the rest of the pass then touches the port
// no more, and the next pass finds the link Searching.
// Returns false when the port failed.
bool exchangeWithController(SerialLink& link, const LoopEntry& entry) {
    CSerialPort& port = controllerPort();
    bool portOk = writeTransmitQueue(port, entry);
    if (portOk && !mayUsePort(entry)) return true;  // paused or stopped meanwhile

    // The auto message keeps its end marker.
    if (auto message = mailbox().autoQueue.front()) {
        if (portOk && message->size() > 2) {
            try {
                writeAll(port, message->data(), message->size());
            } catch (const CSerialException& e) {
                portFailed(e);
                portOk = false;
            }
        }
        advanceAutoMessage(*message, linkFlags().autoRepeatCount);
    }
    if (!portOk) return false;
    return takeReplies(link, port) >= 0;
}

// The rest of a Connected pass: what is queued goes out the moment it is
// queued, and what the controller sends is read and parsed the moment it
// arrives, so the link sleeps between the two instead of spinning.
class ConnectedWait final : public WakeWork {
public:
    ConnectedWait(SerialLink& link, const LoopEntry& entry) : link_(link), entry_(entry) {}

    bool run() override {
        writeOnWake(link_, entry_);
        return true;
    }
    std::intptr_t watched() override { return controllerPort().watchHandle(); }
    bool readable() override {
        if (!mayUsePort(entry_)) return false;
        {
            std::lock_guard<std::mutex> use(link_.portUse);
            if (!linkFlags().portConnected.load() || takeReplies(link_, controllerPort()) <= 0) return false;
        }
        if (parseFrames(link_.serialRxBuffer, mailbox().serialRxQueue)) linkFlags().serialLive = true;
        return true;
    }

private:
    SerialLink& link_;
    const LoopEntry& entry_;
};

bool matchesAnyIdentityReply(const ShortFrame& reply) {
    return std::any_of(kIdentityReplies.begin(), kIdentityReplies.end(),
                       [&](const ShortFrame& accepted) { return accepted == reply; });
}

}  // namespace

void serialLinkLoop(const LoopEntry& entry) {
    LinkFlags& flags = linkFlags();
    SerialLink& link = serialLink();
    // linkRunning was raised when the loop entered the library.
    flags.linkEnded = false;
    flags.interfaceRunning = true;
    link.serialRxBuffer.clear();  // a cut frame of an earlier session is no frame
    link.linkClock.restart();
    const bool onWake = transmitOnWake();
    const platform::LentThreadName name("rez-link");

    while (loopGoesOn(entry)) {
        link.passes.fetch_add(1, std::memory_order_relaxed);
        if (!flags.interfaceRunning.load() || flags.udpLive.load()) {
            // Paused: a stop still ends the loop at once.
            for (int slept = 0; slept < kPausedSleepMs && loopGoesOn(entry); slept += kWaitStepMs)
                platform::sleepMs(kWaitStepMs);
            continue;
        }
        if (!flags.portConnected.load()) {
            flags.serialLive = false;
            if (flags.autoconnectEnabled.load()) autoConnect(entry);
            // Without a scan nothing here waits; the pass sleeps to its end
            // so that Searching costs nothing.
            waitPass(link.linkClock);
            continue;
        }
        {
            std::lock_guard<std::mutex> use(link.portUse);
            // The host may have paused (and closed the port) since the check above.
            if (!flags.portConnected.load()) continue;
            if (!exchangeWithController(link, entry)) continue;
        }
        if (parseFrames(link.serialRxBuffer, mailbox().serialRxQueue)) flags.serialLive = true;
        if (onWake) {
            ConnectedWait work(link, entry);
            waitPass(link.linkClock, mailbox().serialTxWake, work);
        } else {
            waitPass(link.linkClock);
        }
    }

    {
        std::lock_guard<std::mutex> use(link.portUse);
        closeControllerPort();
    }
    flags.linkEnded = true;
}

bool autoConnect(const LoopEntry& entry) {
    LinkFlags& flags = linkFlags();
    SerialLink& link = serialLink();
    if (!sleepUnlessEnded(50, entry)) return false;
    std::vector<std::uint32_t> ports;
    if (!CEnumerateSerial::UsingQueryDosDevice(ports)) {
        consolePrint("CEnumerateSerial::UsingQueryDosDevice failed, Error:%u\n", platform::serialLastError());
        return false;
    }
    if (!sleepUnlessEnded(50, entry)) return false;
    for (std::uint32_t number : ports) consolePrint("COM%u ", number);

    CSerialPort& port = controllerPort();
    for (std::uint32_t number : ports) {
        if (!sleepUnlessEnded(200, entry) || !flags.autoconnectEnabled.load()) return false;
        if (!checkUsbId(comName(number))) continue;

        std::unique_lock<std::mutex> use(link.portUse);
        // The host's probe of the standard port has the line now.
        if (link.standardProbe.load() || flags.portConnected.load()) return false;
        if (!openControllerPort(static_cast<int>(number))) {
            closeControllerPort();
            consolePrint("Serialexception , Error:%u\n", platform::serialLastError());
            continue;
        }
        try {
            useLinkTimeouts(port);
            port.Purge(true, false);
            writeAll(port, kIdentityRequest.data(), kIdentityRequest.size());
            writeAll(port, kIdentityRequest.data(), kIdentityRequest.size());
            platform::sleepMs(10);
            const std::uint32_t waiting = port.BytesWaiting();
            if (waiting >= kShortFrameLength) {
                // Only the last 8 bytes can be the reply to the second request.
                std::vector<std::uint8_t> older(waiting - kShortFrameLength);
                readWaiting(port, older.data(), older.size());
                ShortFrame reply{};
                if (readWaiting(port, reply.data(), reply.size()) < reply.size()) {
                    closeControllerPort();
                    return false;
                }
                if (matchesAnyIdentityReply(reply)) {
                    // What piled up while no controller answered is stale (cue
                    // frames of ticks long past), and a full queue would
                    // refuse this connection's handshake.
                    mailbox().serialTxQueue.clear();
                    flags.portConnected = true;
                    use.unlock();
                    sendMessagemmf(kCommand4Message.data());
                    sendMessagemmf(kCommand2Request.data());
                    return true;
                }
            }
        } catch (const CSerialException& e) {
            consolePrint("Serialexception , Error:%u\n", e.m_dwError);
        }
        closeControllerPort();
        consolePrint("Serialexception , Error:%u\n", platform::serialLastError());
    }
    return false;
}

bool connectStandardPort() {
    LinkFlags& flags = linkFlags();
    SerialLink& link = serialLink();
    if (flags.portConnected.load()) return false;
    // Two host threads resuming at once would probe one line twice over.
    if (link.standardProbe.exchange(true)) return false;
    struct ProbeDone {
        ~ProbeDone() { serialLink().standardProbe = false; }
    } probeDone;
    // The probe gives up when the host pauses or stops the link meanwhile.
    const std::uint64_t generation = link.stopGeneration.load();
    auto abandoned = [&] { return !flags.interfaceRunning.load() || link.stopGeneration.load() != generation; };

    platform::sleepMs(5);
    const int number = flags.standardPort.load();
    if (!checkUsbId(comName(number))) {
        consolePrint("fail vid..");
        return false;
    }

    CSerialPort& port = controllerPort();
    try {
        bool opened = false;
        {
            std::lock_guard<std::mutex> use(link.portUse);
            if (flags.portConnected.load()) return false;  // the scan got there first
            opened = openControllerPort(number);
            if (opened) useLinkTimeouts(port);
        }
        if (opened) {
            consolePrint("opened..");
            platform::sleepMs(15);
            {
                std::lock_guard<std::mutex> use(link.portUse);
                port.Purge(true, false);
                writeAll(port, kIdentityRequest.data(), kIdentityRequest.size());
                writeAll(port, kIdentityRequest.data(), kIdentityRequest.size());
            }
            ShortFrame reply{};
            std::size_t got = 0;
            const std::int64_t deadline = platform::counterNow() + kProbeReplyMs * platform::counterFrequency() / 1000;
            // Short reads, the lock taken per read: the loop and the host's
            // pause and stop never wait for a silent device.
            while (got < reply.size() && !abandoned() && platform::counterNow() < deadline) {
                std::lock_guard<std::mutex> use(link.portUse);
                if (!port.isOpen()) break;
                const int n = port.Read(reply.data() + got, static_cast<int>(reply.size() - got));
                if (n > 0) got += static_cast<std::size_t>(n);
            }
            if (got == reply.size()) {
                std::lock_guard<std::mutex> use(link.portUse);
                // Only the first reply form names a controller this port may use.
                if (reply != kIdentityReplies[0]) {
                    consolePrint(".. wrong id");
                    closeControllerPort();
                    return false;
                }
                if (!abandoned() && port.isOpen()) {
                    consolePrint("..id correct. \n");
                    // What piled up while no controller answered is stale.
                    mailbox().serialTxQueue.clear();
                    flags.portConnected = true;
                    return true;
                }
            }
        }
    } catch (const CSerialException&) {
        consolePrint("Error port open..");
    }
    {
        std::lock_guard<std::mutex> use(link.portUse);
        closeControllerPort();
    }
    consolePrint("Serialexception when open port. , Error:%u\n", platform::serialLastError());
    platform::sleepMs(15);
    return false;
}

namespace {

int runLink() {
    SerialLink& link = serialLink();
    // Counted from the first instruction to the last, so that a stop that
    // sees no loop here may return at once and one that sees it waits until
    // the loop has released everything.
    LoopEntry entry(&link.activeLoops);
    switch (entry.claim(LoopKind::SerialLink)) {
        case LoopEntry::Claim::Busy: return 0;  // another thread's loop runs
        case LoopEntry::Claim::Stopped: return 1;
        case LoopEntry::Claim::Taken: break;
    }
    if (!entry.raise(linkFlags().linkRunning)) return 1;  // stopped as it entered

    const platform::LentThreadPriority priority;

    platform::SharedMemory tx;
    platform::SharedMemory rx;
    openSection(tx, "Rovandelix_tx");
    if (tx.isMapped()) openSection(rx, "Rovandelix_rx");

    try {
        serialLinkLoop(entry);
    } catch (...) {
        linkFlags().linkEnded = true;
    }

    rx.close();
    tx.close();
    {
        std::lock_guard<std::mutex> use(link.portUse);
        closeControllerPort();
    }
    // Nothing comes over serial any more: the UDP transport may carry the
    // traffic. No newer link loop can run yet, as this one holds its place.
    linkFlags().serialLive = false;
    return 1;
}

void stopLink() {
    LinkFlags& flags = linkFlags();
    SerialLink& link = serialLink();
    std::uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> control(link.runControl);
        flags.linkRunning = false;
        flags.udpRunning = false;
        generation = link.stopGeneration.fetch_add(1);
    }
    // Wait for the loops that entered before this stop, and only for them:
    // with none inside, this returns at once.
    auto loopsBefore = [&] {
        std::lock_guard<std::mutex> control(link.runControl);
        return !link.loopsByGeneration.empty() && link.loopsByGeneration.begin()->first <= generation;
    };
    while (loopsBefore()) platform::sleepMs(1);
}

int resumeLink() {
    LinkFlags& flags = linkFlags();
    flags.interfaceRunning = true;
    if (flags.autoconnectEnabled.load()) return 1;  // the loop's scan connects
    SerialLink& link = serialLink();
    const std::uint64_t generation = link.stopGeneration.load();
    for (int attempt = 0; attempt < kStandardPortTries; ++attempt) {
        // A pause or a stop since the call ends the attempts.
        if (!flags.interfaceRunning.load() || link.stopGeneration.load() != generation) return 0;
        connectStandardPort();
        if (flags.portConnected.load()) return 1;
        platform::sleepMs(kStandardPortRetryMs);
    }
    return 0;
}

int pauseLink() {
    linkFlags().interfaceRunning = false;
    std::lock_guard<std::mutex> use(serialLink().portUse);
    closeControllerPort();
    return 1;
}

int setStandardPort(const char* text) {
    if (text == nullptr) return 0;
    const char* com = std::strstr(text, "COM");
    if (com == nullptr) return 0;
    const long number = std::strtol(com + 3, nullptr, 10);
    linkFlags().standardPort = static_cast<std::int32_t>(std::clamp<long>(number, INT_MIN, INT_MAX));
    return 1;
}

int connectedNow() {
    const LinkFlags& flags = linkFlags();
    return (flags.portConnected.load() || flags.udpStarted.load()) && (flags.linkRunning.load() || flags.udpRunning.load())
               ? 1
               : 0;
}

}  // namespace

LoopEntry::LoopEntry(std::atomic<int>* counter) : counter_(counter) {
    SerialLink& link = serialLink();
    std::lock_guard<std::mutex> control(link.runControl);
    generation_ = link.stopGeneration.load();
    ++link.loopsByGeneration[generation_];
    if (counter_ != nullptr) counter_->fetch_add(1);
}

LoopEntry::~LoopEntry() {
    SerialLink& link = serialLink();
    std::lock_guard<std::mutex> control(link.runControl);
    if (held_ != kNoPlace) link.holders[held_] = nullptr;
    if (--link.loopsByGeneration[generation_] == 0) link.loopsByGeneration.erase(generation_);
    if (counter_ != nullptr) counter_->fetch_sub(1);
}

bool LoopEntry::raise(std::atomic<bool>& runFlag) const {
    std::lock_guard<std::mutex> control(serialLink().runControl);
    if (stopped()) return false;
    runFlag = true;
    return true;
}

void LoopEntry::lower(std::atomic<bool>& runFlag) const {
    std::lock_guard<std::mutex> control(serialLink().runControl);
    if (!stopped()) runFlag = false;
}

LoopEntry::Claim LoopEntry::claim(LoopKind kind) {
    SerialLink& link = serialLink();
    const auto place = static_cast<std::size_t>(kind);
    for (;;) {
        {
            std::lock_guard<std::mutex> control(link.runControl);
            if (stopped()) return Claim::Stopped;
            const LoopEntry* holder = link.holders[place];
            if (holder == nullptr) {
                link.holders[place] = this;
                held_ = place;
                return Claim::Taken;
            }
            if (!holder->stopped()) return Claim::Busy;
        }
        // The holder was stopped and is on its way out.
        platform::sleepMs(1);
    }
}

}  // namespace rez

extern "C" REZ_API int startREZadEdudid_Thread() { return rez::guardedCall(1, [] { return rez::runLink(); }); }

extern "C" REZ_API void stopREZadEdudid_Thread() { rez::guardedCall([] { rez::stopLink(); }); }

extern "C" REZ_API int isConnected() { return rez::guardedCall(0, [] { return rez::connectedNow(); }); }

extern "C" REZ_API int isInterfaceRunning() {
    return rez::guardedCall(0, [] { return rez::linkFlags().interfaceRunning.load() ? 1 : 0; });
}

extern "C" REZ_API int pauseInterface() { return rez::guardedCall(1, [] { return rez::pauseLink(); }); }

extern "C" REZ_API int resumeInterface() { return rez::guardedCall(0, [] { return rez::resumeLink(); }); }

extern "C" REZ_API int enableAutoconnect() {
    return rez::guardedCall(1, [] {
        rez::linkFlags().autoconnectEnabled = true;
        return 1;
    });
}

extern "C" REZ_API int disableAutoconnect() {
    return rez::guardedCall(1, [] {
        rez::linkFlags().autoconnectEnabled = false;
        return 1;
    });
}

extern "C" REZ_API int setStandartPort(const char* text) {
    return rez::guardedCall(0, [&] { return rez::setStandardPort(text); });
}

extern "C" REZ_API double getOutputTimeFrame() {
    return rez::guardedCall(0.0, [] { return rez::serialLink().linkClock.intervalMs(); });
}
