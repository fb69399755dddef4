#pragma once
// What an emulated controller in another process saw, asked for over a TCP
// connection on 127.0.0.1. The Windows host under Wine drives a serial port
// whose far end is a pseudo-terminal held by rezadedudid-controller, a Linux
// program; the host's summary needs that controller's frames with their
// arrival times on the host's own clock.
//
// The conversation is one line per request and a reply in lines:
//   "time"   -> "<ns>"                          the controller's clock now
//   "counts" -> "<frames> <bad> <gaps> <identity> <version>"
//   "frames" -> "<n>", then n lines "<ns> <crc 0|1> <72 hex digits>"
//               (the cue frames, lead byte 0xFC, in arrival order)
// The two clocks are related by the reply to "time" that came back soonest:
// its midpoint on the host's clock is taken as the controller's reading.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/tcp_client.h"
#include "tools/host/transport.h"

namespace rez::sim {
class EmulatedController;
}

namespace rez::host {

// Serves one controller's report on a loopback port until stop().
class ControllerReportServer {
public:
    explicit ControllerReportServer(const sim::EmulatedController& controller) : controller_(controller) {}
    // Listens on 127.0.0.1:`port` (0: any free port); false with the reason.
    bool listen(std::uint16_t port, std::string& error);
    std::uint16_t port() const { return listener_.port(); }
    // Answers connections, one at a time, until `stopped` holds (looked at
    // every 200 ms, also while a host stays connected).
    void serve(const std::function<bool()>& stopped);

private:
    void serveOne(const std::function<bool()>& stopped);
    std::string answer(const std::string& request) const;

    const sim::EmulatedController& controller_;
    platform::TcpListener listener_;
};

struct ControllerCounts {
    std::uint64_t frames = 0, badChecksums = 0, gaps = 0, identityRequests = 0, versionRequests = 0;
};

// The host's side: asks, and puts the controller's times on the host's clock.
class ControllerReportClient {
public:
    bool connect(std::uint16_t port, std::string& error);
    bool counts(ControllerCounts& out);
    // Cue frames with arrival in host counter units.
    bool frames(std::vector<ControllerFrame>& out);
    // The controller's clock less the host's, in ns, and the round trip it was measured in.
    std::int64_t offsetNs() const { return offsetNs_; }
    std::int64_t roundTripNs() const { return roundTripNs_; }

private:
    bool ask(const std::string& request, std::string& line);
    bool readLine(std::string& line);
    bool measureOffset();

    platform::TcpClient socket_;
    std::string pending_;
    std::int64_t offsetNs_ = 0, roundTripNs_ = 0;
};

// The serial link to a port whose controller reports over `reportPort`.
std::unique_ptr<Transport> makeReportedSerialTransport(const std::string& port, std::uint16_t reportPort);

}  // namespace rez::host
