#pragma once
// A stand-in for a flight simulator's SimConnect server on loopback TCP. It
// accepts any number of clients, answers each open, records every request
// and checks it byte for byte against the layouts our client must send
// (sizes 296, 544, 48 and 276, a 16-byte header, protocol 5, send ids counted
// from 1). The test then sends data messages, events, exceptions and quits,
// whole or cut into pieces, or drops a client without a word.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/simconnect_transport.h"

namespace rez::sim {

struct SimConnectRequest {
    std::uint32_t id = 0;      // 0xF0000001 open, ...0C definition, ...0E data request, ...17 subscription
    std::uint32_t serial = 0;  // the client's send id
    std::vector<std::uint8_t> bytes;
    // The name fields: application name (open), variable and units
    // (definition), event name (subscription).
    std::string name1, name2;
    std::uint32_t u32At(std::size_t offset) const;
};

// An aircraft in plain physical terms. The server turns it into the
// variables our client asks for by SimConnect's own conventions, not by what
// our reader makes of them, so that a misreading shared by both shows.
struct Aircraft {
    double headingDeg = 0;        // true heading, clockwise from north
    double noseUpDeg = 0;         // pitch above the horizon
    double rightWingDownDeg = 0;  // bank to the right
    // Body rates in degrees per second: the nose rising, the nose swinging
    // to the right, the right wing dropping.
    double pitchUpRate = 0, yawRightRate = 0, rollRightRate = 0;
    // Along the right wing, up and towards the nose: m/s, and m/s² without
    // gravity.
    double velocity[3] = {};
    double acceleration[3] = {};
    bool onGround = false;
};

class FakeSimConnectServer {
public:
    explicit FakeSimConnectServer(platform::IpFamily family = platform::IpFamily::V4);
    // Serves the named pipe "\\.\pipe\<pipeName>" instead (Windows only;
    // elsewhere the server does not listen).
    explicit FakeSimConnectServer(const std::string& pipeName);
    ~FakeSimConnectServer();

    bool listening() const { return port_ != 0 || !pipeName_.empty(); }
    std::uint16_t port() const { return port_; }
    // A "SimConnect.cfg" that leads the client here.
    std::string configText() const;

    int clientCount() const;
    bool clientClosed(int client) const;
    std::vector<SimConnectRequest> requests(int client) const;
    // Every way the clients' requests differed from the expected layouts.
    std::vector<std::string> faults() const;

    // Sends bytes to a client in pieces of `piece` bytes (0: at once), with a
    // short pause between pieces so that the client sees them apart.
    bool send(int client, const std::vector<std::uint8_t>& bytes, std::size_t piece = 0);
    // Ends a client's connection without a quit message.
    void drop(int client);

    // Server messages (12-byte header: size, version, id).
    static std::vector<std::uint8_t> openReply();
    static std::vector<std::uint8_t> exception(std::uint32_t code, std::uint32_t sendId, std::uint32_t index);
    static std::vector<std::uint8_t> quit();
    static std::vector<std::uint8_t> event(std::uint32_t eventId, std::uint32_t data = 0,
                                           std::uint32_t group = 0xFFFFFFFFu);
    // An object-data message for request `requestId` with 15 doubles and the
    // two integers (gear on ground, sim on ground): 176 bytes.
    static std::vector<std::uint8_t> data(const double (&values)[15], std::int64_t gearOnGround,
                                          std::int64_t simOnGround, std::uint32_t requestId = 0);
    // The same message for an aircraft, variables in the order our client
    // defines them.
    static std::vector<std::uint8_t> data(const Aircraft& aircraft, std::uint32_t requestId = 0);

private:
    struct Client;
    void run();
    void serve(Client& c);
    void check(Client& c, const SimConnectRequest& r);

    platform::SimConnectListener listener_;
    std::uint16_t port_ = 0;
    std::string pipeName_;
    mutable std::mutex mutex_;  // clients_ list, requests and faults
    std::vector<std::unique_ptr<Client>> clients_;
    std::vector<std::string> faults_;
    std::atomic<bool> running_{true};
    std::thread thread_;
    bool started_ = false;
};

// Concatenates messages into one stream.
std::vector<std::uint8_t> joined(std::initializer_list<std::vector<std::uint8_t>> parts);

}  // namespace rez::sim
