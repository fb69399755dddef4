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
// A lone auto message is written on this many passes after the first before
// it is dropped (the count runs 0..11 the first time, 1..11 after that).
constexpr int kAutoRepeatLimit = 10;

// Creates and maps one of the link's named sections; a view that cannot be
// mapped is reported and its section closed, a failed creation is silent.
void openSection(platform::SharedMemory& section, const char* name) {
    if (!section.createOrOpen(name, kSectionSize)) return;
    if (!section.map(platform::MapAccess::ReadWrite)) {
        consolePrint("Could not map view of file (%d).\n", static_cast<int>(platform::serialLastError()));
        section.close();
    }
}

// A failed port call: reported, and the port closed.
void portFailed(const CSerialException& e) {
    consolePrint(" Serial Exception Error: %u \n", e.m_dwError);
    closeControllerPort();
}

// Writes every queued message with its checksum. Once the port has failed
// the rest are dropped, since each would only fail the same way; the port is
// then closed and false returned.
bool writeTransmitQueue(CSerialPort& port) {
    bool portOk = true;
    while (auto message = mailbox().serialTxQueue.takeFront()) {
        if (!portOk || message->empty()) continue;
        writeChecksumTrailer(*message);
        try {
            port.Write(message->data(), static_cast<int>(message->size()));
        } catch (const CSerialException& e) {
            portFailed(e);
            portOk = false;
        }
    }
    return portOk;
}

// Between passes: what was queued since goes out at once, as long as the
// link still holds the port and has not been paused or stood aside.
void writeOnWake(SerialLink& link) {
    const LinkFlags& flags = linkFlags();
    if (!flags.linkRunning.load() || !flags.interfaceRunning.load() || flags.udpLive.load()) return;
    std::lock_guard<std::mutex> use(link.portUse);
    if (flags.portConnected.load()) writeTransmitQueue(controllerPort());
}

// One Connected pass's port work: the transmit queue with checksums, the
// auto message with its repeat rule, and every byte the controller sent.
// A failing call closes the port; the rest of the pass then touches the port
// no more, and the next pass finds the link Searching.
// Returns false when the port failed.
bool exchangeWithController(SerialLink& link) {
    LinkFlags& flags = linkFlags();
    Mailbox& box = mailbox();
    CSerialPort& port = controllerPort();
    bool portOk = writeTransmitQueue(port);
    auto fail = [&](const CSerialException& e) {
        portFailed(e);
        portOk = false;
    };

    // The auto message keeps its end marker. A lone one is repeated until
    // the count runs out; a newer one behind it takes over after one write.
    if (auto first = box.autoQueue.front()) {
        if (portOk && first->size() > 2) {
            try {
                port.Write(first->data(), static_cast<int>(first->size()));
            } catch (const CSerialException& e) {
                fail(e);
            }
        }
        if (box.autoQueue.size() >= 2) {
            box.autoQueue.popFront();
            flags.autoRepeatCount = 0;
        } else if (flags.autoRepeatCount.load() > kAutoRepeatLimit) {
            box.autoQueue.popFront();
            flags.autoRepeatCount = 1;
        } else {
            ++flags.autoRepeatCount;
        }
    }
    if (!portOk) return false;

    // One byte per call, asking the driver's queue size before each.
    try {
        while (port.BytesWaiting() > 0) {
            std::uint8_t byte = 0;
            if (port.Read(&byte, 1) != 1) break;
            link.serialRxBuffer.push_back(byte);
        }
    } catch (const CSerialException& e) {
        fail(e);
        return false;
    }
    return true;
}

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
    link.linkClock.restart();
    const bool onWake = transmitOnWake();

    while (flags.linkRunning.load() && !entry.stopped()) {
        link.passes.fetch_add(1, std::memory_order_relaxed);
        if (!flags.interfaceRunning.load() || flags.udpLive.load()) {
            platform::sleepMs(kPausedSleepMs);
            continue;
        }
        if (!flags.portConnected.load()) {
            flags.serialLive = false;
            if (flags.autoconnectEnabled.load()) autoConnect();
            // Without a scan nothing here waits; the pass is paced like a
            // Connected one so that Searching does not hold a core.
            waitPrecise(link.linkClock);
            continue;
        }
        {
            std::lock_guard<std::mutex> use(link.portUse);
            // The host may have paused (and closed the port) since the check above.
            if (!flags.portConnected.load()) continue;
            if (!exchangeWithController(link)) continue;
        }
        if (parseFrames(link.serialRxBuffer, mailbox().serialRxQueue)) flags.serialLive = true;
        if (onWake)
            waitPrecise(link.linkClock, mailbox().serialTxWake, [&link] {
                writeOnWake(link);
                return true;
            });
        else
            waitPrecise(link.linkClock);
    }

    {
        std::lock_guard<std::mutex> use(link.portUse);
        closeControllerPort();
    }
    flags.linkEnded = true;
}

bool autoConnect() {
    LinkFlags& flags = linkFlags();
    SerialLink& link = serialLink();
    platform::sleepMs(50);
    std::vector<std::uint32_t> ports;
    if (!CEnumerateSerial::UsingQueryDosDevice(ports)) {
        consolePrint("CEnumerateSerial::UsingQueryDosDevice failed, Error:%u\n", platform::serialLastError());
        return false;
    }
    platform::sleepMs(50);
    for (std::uint32_t number : ports) consolePrint("COM%u ", number);

    CSerialPort& port = controllerPort();
    for (std::uint32_t number : ports) {
        platform::sleepMs(200);
        if (!flags.linkRunning.load() || !flags.interfaceRunning.load() || !flags.autoconnectEnabled.load()) return false;
        if (!checkUsbId(comName(number))) continue;

        std::unique_lock<std::mutex> use(link.portUse);
        if (!openControllerPort(static_cast<int>(number))) {
            closeControllerPort();
            consolePrint("Serialexception , Error:%u\n", platform::serialLastError());
            continue;
        }
        try {
            port.Purge(true, false);
            port.Write(kIdentityRequest.data(), static_cast<int>(kIdentityRequest.size()));
            port.Write(kIdentityRequest.data(), static_cast<int>(kIdentityRequest.size()));
            platform::sleepMs(10);
            const std::uint32_t waiting = port.BytesWaiting();
            if (waiting >= kShortFrameLength) {
                // Only the last 8 bytes can be the reply to the second request.
                std::vector<std::uint8_t> older(waiting - kShortFrameLength);
                if (!older.empty()) port.Read(older.data(), static_cast<int>(older.size()));
                ShortFrame reply{};
                if (port.Read(reply.data(), static_cast<int>(reply.size())) < static_cast<int>(reply.size())) {
                    closeControllerPort();
                    return false;
                }
                if (matchesAnyIdentityReply(reply)) {
                    flags.portConnected = true;
                    use.unlock();
                    // What piled up while no controller answered is stale (cue
                    // frames of ticks long past), and a full queue would
                    // refuse this connection's handshake.
                    mailbox().serialTxQueue.clear();
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
    if (flags.portConnected.load()) return false;
    platform::sleepMs(5);
    const int number = flags.standardPort.load();
    if (!checkUsbId(comName(number))) {
        consolePrint("fail vid..");
        return false;
    }

    std::lock_guard<std::mutex> use(serialLink().portUse);
    if (flags.portConnected.load()) return false;  // the scan got there first
    CSerialPort& port = controllerPort();
    try {
        if (openControllerPort(number)) {
            consolePrint("opened..");
            platform::sleepMs(15);
            port.Purge(true, false);
            port.Write(kIdentityRequest.data(), static_cast<int>(kIdentityRequest.size()));
            port.Write(kIdentityRequest.data(), static_cast<int>(kIdentityRequest.size()));
            ShortFrame reply{};
            // May wait for the whole read time-out the port was opened with.
            if (port.Read(reply.data(), static_cast<int>(reply.size())) == static_cast<int>(reply.size())) {
                // Only the first reply form names a controller this port may use.
                if (reply != kIdentityReplies[0]) {
                    consolePrint(".. wrong id");
                    closeControllerPort();
                    return false;
                }
                consolePrint("..id correct. \n");
                flags.portConnected = true;
                return true;
            }
        }
    } catch (const CSerialException&) {
        consolePrint("Error port open..");
    }
    closeControllerPort();
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
    const LoopEntry entry(&link.activeLoops);
    if (!entry.raise(linkFlags().linkRunning)) return 1;  // stopped as it entered

    platform::requestTimerResolution();
    platform::raiseProcessPriority();
    platform::raiseThreadPriority();

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
    std::lock_guard<std::mutex> use(link.portUse);
    closeControllerPort();
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
    for (int attempt = 0; attempt < kStandardPortTries; ++attempt) {
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
    if (--link.loopsByGeneration[generation_] == 0) link.loopsByGeneration.erase(generation_);
    if (counter_ != nullptr) counter_->fetch_sub(1);
}

bool LoopEntry::raise(std::atomic<bool>& runFlag) const {
    std::lock_guard<std::mutex> control(serialLink().runControl);
    if (stopped()) return false;
    runFlag = true;
    return true;
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
