#include "tools/host/transport.h"

#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

#include "platform/clock.h"
#include "controller/crc16.h"
#include "controller/serial_ports.h"
#include "platform/com_devices.h"
#include "sim/emulated_controller.h"
#include "sim/multicast_member.h"

namespace rez::host {

bool parseTransport(const std::string& text, TransportChoice& out, std::string& error) {
    if (text == "none") return out = {TransportChoice::None, {}}, true;
    if (text == "emulated") return out = {TransportChoice::Emulated, {}}, true;
    if (text == "multicast") return out = {TransportChoice::Multicast, {}}, true;
    const std::string prefix = "serial:";
    if (text.rfind(prefix, 0) == 0) {
        const std::string port = text.substr(prefix.size());
        std::size_t digits = 3;
        while (digits < port.size() && port[digits] >= '0' && port[digits] <= '9') ++digits;
        if (port.size() > 3 && port.compare(0, 3, "COM") == 0 && digits == port.size())
            return out = {TransportChoice::Serial, port}, true;
    }
    error = "transport must be none, emulated, serial:COMn or multicast, not \"" + text + "\"";
    return false;
}

bool checkSerialPort(const std::string& port, std::string& error) {
    std::vector<platform::ComDevice> devices;
    if (!platform::listComDevices(devices)) {
        error = "the system gives no list of COM ports, so " + port + " cannot be checked";
        return false;
    }
    // The system's names end in "(COMn)"; a plain search would take COM1 for COM12.
    const std::string tail = "(" + port + ")";
    std::string present;
    for (const platform::ComDevice& d : devices) {
        const std::size_t at = d.friendlyName.rfind('(');
        if (at == std::string::npos) continue;
        const std::string name = d.friendlyName.substr(at);
        if (name == tail) {
            if (acceptedUsbId(d.hardwareIds)) return true;
            std::string device = d.friendlyName.substr(0, at);
            while (!device.empty() && device.back() == ' ') device.pop_back();
            error = port + " is " + device + " (" + (d.hardwareIds.empty() ? "no USB identity" : d.hardwareIds.back()) +
                    "), not one of the USB serial adapters a controller is built with: the link will not use it";
            return false;
        }
        present += (present.empty() ? "" : ", ") + name.substr(1, name.size() - 2);
    }
    error = "there is no port " + port + " on this machine (" +
            (present.empty() ? "no COM ports at all" : "ports: " + present) + ")";
    return false;
}

namespace {

class NoTransport : public Transport {
public:
    bool start(const Api&, std::string&) override { return true; }
    void stop() override {}
    std::string describe() const override { return "no controller link"; }
};

// The serial link on a thread of ours, pointed at one port.
class SerialTransport : public Transport {
public:
    SerialTransport(std::string port, int connectDeadlineMs) : port_(std::move(port)), deadlineMs_(connectDeadlineMs) {}
    ~SerialTransport() override { stop(); }

    bool start(const Api& api, std::string& error) override {
        api_ = &api;
        if (api.setStandartPort(port_.c_str()) != 1) {
            error = "the library does not take \"" + port_ + "\" as a port name";
            return false;
        }
        thread_ = std::thread([&api] { api.startREZadEdudid_Thread(); });
        // The loop has to run before it can be resumed onto the port.
        platform::sleepMs(100);
        // The library probes the port on the resuming thread and may wait
        // long for a device that never answers: the deadline is kept here.
        std::atomic<bool> probed{false};
        std::thread probe([&] {
            api.resumeInterface();
            probed = true;
        });
        const bool connected = sim::EmulatedController::waitUntil(
            [&] { return api.isConnected() == 1 || probed.load(); }, deadlineMs_) && api.isConnected() == 1;
        if (!connected) {
            const bool refused = probed.load();  // the probe ended before the deadline
            // The stop also ends a probe still waiting for an answer.
            stop();
            probe.join();
            char within[32];
            std::snprintf(within, sizeof within, "within %.1f s", deadlineMs_ / 1000.0);
            error = refused ? "the device on " + port_ + " did not answer as a controller (the link's messages above say how)"
                            : "no controller answered on " + port_ + " " + within +
                                  " (the link's identity request went unanswered)";
            error += "; the link is stopped and the rig was not moved";
            return false;
        }
        probe.join();
        return true;
    }

    void stop() override {
        if (!thread_.joinable()) return;
        api_->stopREZadEdudid_Thread();
        thread_.join();
    }

    std::string describe() const override { return "serial link on " + port_; }

protected:
    std::string port_;
    int deadlineMs_;
    const Api* api_ = nullptr;
    std::thread thread_;
};

class EmulatedTransport : public SerialTransport {
public:
    EmulatedTransport() : SerialTransport("", kConnectDeadlineMs) {}
    ~EmulatedTransport() override { stop(); }

    bool start(const Api& api, std::string& error) override {
        controller_.setVersion(328);
        if (!controller_.open(error)) {
            error = "no line for the emulated controller: " + error;
            return false;
        }
        port_ = controller_.portName();
        if (!controller_.hasUsbIdentity())
            error = port_ + " has no USB identity here, so the link may not take it";
        std::string why;
        if (!SerialTransport::start(api, why)) {
            error = why;
            return false;
        }
        return true;
    }

    std::string describe() const override { return "serial link to the emulated controller on " + port_; }
    bool seesController() const override { return true; }

    std::vector<ControllerFrame> cueFrames() const override {
        std::vector<ControllerFrame> out;
        for (const auto& f : controller_.framesWithLead(0xFC))
            out.push_back({f.arrival, f.trailer == sim::EmulatedController::Trailer::Checksum, f.bytes});
        return out;
    }
    std::uint64_t cueFrameCount() const override {
        const auto c = controller_.counts();
        return c.frames - c.versionRequests - c.identityRequests;
    }
    std::uint64_t badChecksums() const override { return controller_.counts().badChecksums; }
    std::uint64_t gaps() const override { return controller_.counts().gaps; }

private:
    sim::EmulatedController controller_;
};

// The UDP listen thread and the multicast sender on threads of ours; what
// the network controller took comes from `received`.
class MulticastTransport : public Transport {
public:
    MulticastTransport(std::function<std::vector<sim::Received>()> received, std::string description)
        : received_(std::move(received)), description_(std::move(description)) {}
    ~MulticastTransport() override { stop(); }

    bool start(const Api& api, std::string& error) override {
        api_ = &api;
        listen_ = std::thread([&api] { api.startUPDListenThread(); });
        sender_ = std::thread([&api] { api.startUPDMulticastSenderThread(); });
        // The mailbox takes messages once a UDP loop runs. An identity
        // request, so that its answer is not taken for one of the host's
        // version replies.
        static const unsigned char probe[] = {0xF9, 0xF9, 0x01, 0x00, 0x00, 0x00, 0x0A, 0x0D};
        const bool up = sim::EmulatedController::waitUntil([&api] { return api.sendMessagemmf(probe) == 1; }, 5000);
        if (!up) error = "the UDP loops did not start (see error_log.txt)";
        return up;
    }

    void stop() override {
        if (!listen_.joinable()) return;
        api_->stopREZadEdudid_Thread();
        listen_.join();
        sender_.join();
    }

    std::string describe() const override { return description_; }
    bool seesController() const override { return true; }

    std::vector<ControllerFrame> cueFrames() const override {
        std::vector<ControllerFrame> out;
        for (const sim::Received& r : received_())
            if (r.bytes.size() == 36 && r.bytes[0] == 0xFC) out.push_back({r.arrival, checksummed(r.bytes), r.bytes});
        return out;
    }
    std::uint64_t cueFrameCount() const override { return count(true); }
    std::uint64_t badChecksums() const override { return count(false); }

private:
    // Whether the last two bytes are the CRC-16 of the rest, low byte first.
    static bool checksummed(const std::vector<std::uint8_t>& d) {
        if (d.size() < 3) return false;
        const std::uint16_t crc = crc16(d.data(), d.size() - 2);
        return d[d.size() - 2] == (crc & 0xFF) && d[d.size() - 1] == (crc >> 8);
    }
    // Datagrams with a checksum (true), or with neither checksum nor end marker.
    std::uint64_t count(bool withChecksum) const {
        std::uint64_t n = 0;
        for (const sim::Received& r : received_()) {
            const bool marked = r.bytes.size() >= 2 && r.bytes[r.bytes.size() - 2] == 0x0A && r.bytes.back() == 0x0D;
            const bool ok = checksummed(r.bytes);
            n += withChecksum ? ok : (!ok && !marked);
        }
        return n;
    }

    std::function<std::vector<sim::Received>()> received_;
    std::string description_;
    const Api* api_ = nullptr;
    std::thread listen_, sender_;
};

}  // namespace

std::unique_ptr<Transport> makeNoTransport() { return std::make_unique<NoTransport>(); }
std::unique_ptr<Transport> makeSerialTransport(const std::string& port, int connectDeadlineMs) {
    return std::make_unique<SerialTransport>(port, connectDeadlineMs);
}
std::unique_ptr<Transport> makeEmulatedTransport() { return std::make_unique<EmulatedTransport>(); }
#if !defined(_WIN32)
std::unique_ptr<Transport> makeMulticastTransport(sim::MulticastMember& member) {
    return std::make_unique<MulticastTransport>(
        [&member] { return member.received(); },
        "multicast from e1 10.9.0.1 to the network controller at 10.9.0.2 (group 232.11.12.14:51324)");
}
#endif
std::unique_ptr<Transport> makeRemoteMulticastTransport(sim::MemberClient& member) {
    return std::make_unique<MulticastTransport>(
        [&member] { return member.received(); },
        "multicast to the network controller in the far namespace (group 232.11.12.14:51324)");
}

}  // namespace rez::host
