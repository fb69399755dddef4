#pragma once
// Plays the roller-coaster simulator's telemetry server on a loopback port:
// it takes the framed requests (big-endian), answers idle requests, and
// answers each get-telemetry request with the next reply of a scripted ride.
// Several connections at once are served (detection makes its own).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/tcp_client.h"
#include "sources/tcp/nolimits_reply.h"

namespace rez::sim {

// A whole telemetry message (86 bytes) as the server sends it.
std::vector<std::uint8_t> telemetryReply(const NoLimitsTelemetry& telemetry,
                                         std::uint32_t requestId = kNoLimitsTelemetryRequestId);

class FakeNoLimitsServer {
public:
    using Bytes = std::vector<std::uint8_t>;

    explicit FakeNoLimitsServer(std::uint16_t port = kNoLimitsPort);
    ~FakeNoLimitsServer();
    FakeNoLimitsServer(const FakeNoLimitsServer&) = delete;
    FakeNoLimitsServer& operator=(const FakeNoLimitsServer&) = delete;

    bool listening() const { return listening_; }

    // Each get-telemetry request is answered with the next queued reply; a
    // request that finds the queue empty goes unanswered.
    void queueReply(Bytes reply);
    void queueTelemetry(const NoLimitsTelemetry& telemetry) { queueReply(telemetryReply(telemetry)); }
    // A reply sent in two parts: the first `firstBytes` on its request, the
    // rest only when sendHeldBack is called, so the client surely receives
    // the parts apart.
    void queueSplitReply(Bytes reply, std::size_t firstBytes);
    void sendHeldBack();
    std::size_t queued() const;
    // The ride as it is now: a request that finds the queue empty is answered
    // with this, as the simulator answers with its latest rendered frame.
    void setCurrentTelemetry(const NoLimitsTelemetry& telemetry);
    // Whether idle requests get an answer (they do unless told otherwise).
    void answerIdle(bool answer) { answerIdle_ = answer; }
    // Closes every open connection from the server's side; new ones are
    // still accepted.
    void closeConnections();
    // Stops listening and closes everything: the simulator has quit.
    void stop();

    // Whole requests received so far, by message type.
    long requests(std::uint16_t type) const;
    long connectionsAccepted() const { return accepted_; }
    // Sends made so far (a split reply counts two).
    long sends() const { return sends_; }
    // Poll until the count is reached; false after `ms` of wall time.
    bool waitForRequests(std::uint16_t type, long count, int ms = 10000) const;
    bool waitForSends(long count, int ms = 10000) const;

private:
    struct Reply {
        Bytes bytes;
        std::size_t firstBytes;  // the whole reply when it is not split
    };
    struct Connection {
        platform::TcpClient socket;
        Bytes incoming;  // bytes of a request not yet complete
        Bytes heldBack;  // the second part of a split reply
    };
    void run();
    // Takes what arrived and answers it; true when anything arrived.
    bool serve(Connection& connection);
    void answer(Connection& connection, std::uint16_t type);
    void sendCounted(Connection& connection, const std::uint8_t* data, std::size_t size);

    platform::TcpListener listener_;
    bool listening_ = false;
    std::atomic<bool> running_{true};
    std::atomic<bool> answerIdle_{true};
    std::atomic<long> accepted_{0};
    std::atomic<long> sends_{0};
    mutable std::mutex mutex_;  // guards everything below
    std::deque<Reply> replies_;
    Bytes current_;  // empty until a current telemetry is set
    std::vector<Connection> connections_;
    std::map<std::uint16_t, long> requests_;
    std::thread thread_;
};

}  // namespace rez::sim
