#pragma once
// The roads from the engine to a motion controller that the host can lend
// threads to: the serial link to a real port, the serial link to a
// controller the host emulates on a pseudo-terminal, and the UDP multicast
// sender (with its listen thread) to a network controller.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/host/api.h"

namespace rez::sim {
class MulticastMember;
class MemberClient;
}

namespace rez::host {

struct TransportChoice {
    enum Kind { None, Emulated, Serial, Multicast } kind = Emulated;
    std::string port;  // Serial: "COM5"
};

// "none", "emulated", "serial:COMn", "multicast"; false with the reason.
bool parseTransport(const std::string& text, TransportChoice& out, std::string& error);

struct ControllerFrame {
    std::int64_t arrival = 0;  // platform counter when it arrived
    bool crcOk = false;
    std::vector<std::uint8_t> bytes;
};

class Transport {
public:
    virtual ~Transport() = default;
    // Lends the library its threads and connects; false with the reason.
    virtual bool start(const Api& api, std::string& error) = 0;
    // Ends the loops and joins their threads.
    virtual void stop() = 0;
    virtual std::string describe() const = 0;
    // What the far end saw; only transports that play the controller know.
    virtual bool seesController() const { return false; }
    virtual std::vector<ControllerFrame> cueFrames() const { return {}; }
    virtual std::uint64_t cueFrameCount() const { return 0; }
    virtual std::uint64_t badChecksums() const { return 0; }
    virtual std::uint64_t gaps() const { return 0; }
};

// Whether a controller may sit behind `port` ("COM5"): the port is present
// on this machine and is one of the USB serial adapters the link accepts
// (the library would refuse any other). False with a message saying which
// ports there are.
bool checkSerialPort(const std::string& port, std::string& error);

// How long a serial transport waits for a controller to answer the link's
// identity request before it gives up.
constexpr int kConnectDeadlineMs = 5000;

std::unique_ptr<Transport> makeNoTransport();
// Its start fails, the link stopped again, when no controller answered
// within `connectDeadlineMs`.
std::unique_ptr<Transport> makeSerialTransport(const std::string& port, int connectDeadlineMs = kConnectDeadlineMs);
std::unique_ptr<Transport> makeEmulatedTransport();
#if !defined(_WIN32)
// The member is the network controller runInNetwork made.
std::unique_ptr<Transport> makeMulticastTransport(sim::MulticastMember& member);
#endif
// The same with the network controller in a namespace the host does not
// own (the Windows host under Wine in scripts/wine-network-test.sh --run),
// its frames asked from its helper.
std::unique_ptr<Transport> makeRemoteMulticastTransport(sim::MemberClient& member);

}  // namespace rez::host
