#pragma once
// The roller-coaster simulator's reader (game NoLimits2), a small client of
// its telemetry server on 127.0.0.1:15151. Detection sends an idle request on
// a connection of its own; attach keeps one non-blocking connection; each
// read sends one get-telemetry request and takes whatever reply has arrived
// by then, without waiting (the reply to a request is normally taken on a
// later tick).
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/tcp_client.h"
#include "sources/game_reader.h"
#include "sources/tcp/nolimits_reply.h"

namespace rez {

// How long detection waits for the server to answer its idle request, and
// how long detection and attach wait for a connection to be made.
inline constexpr int kNoLimitsAnswerWaitMs = 500;
inline constexpr int kNoLimitsConnectWaitMs = 500;
inline constexpr std::size_t kNoLimitsReceiveBytes = 1000;

// An error report on standard error ("what: error text") made once for as
// long as the same thing keeps failing: the reader runs on the engine's 2 ms
// tick and detection repeats without end while no ride runs, and a write to
// a standard error nobody drains can hold up the tick.
class OnceReport {
public:
    // `what` must outlive the reporter (the reader's texts are literals).
    void report(const char* what, int code);
    // Whatever fails next is news again.
    void clear() { last_ = nullptr; }

private:
    const char* last_ = nullptr;
};

class NoLimitsReader : public GameReader {
public:
    NoLimitsReader() = default;
    ~NoLimitsReader() override { close(); }

    bool detect() override;
    bool attach() override;
    bool read(GameDataRecord& record) override;
    void close() override;

private:
    void sendRequest();

    platform::TcpClient client_;
    bool attached_ = false;
    // Detection and attach report a failure once until they get further; the
    // connection reports a failed send once until a send goes out again.
    OnceReport findReport_;
    OnceReport sendReport_;
    std::array<std::uint8_t, kNoLimitsReceiveBytes> area_{};
    // The get-telemetry request and how much of it is still to go: a send
    // cut short by a full buffer is finished first, so the server never sees
    // half a request followed by a whole one.
    std::array<std::uint8_t, kNoLimitsRequestBytes> request_ =
        noLimitsRequest(kNoLimitsGetTelemetry, kNoLimitsTelemetryRequestId);
    std::size_t unsent_ = 0;
};

// The reader for the roller-coaster game id, or nullptr for any other game.
std::unique_ptr<GameReader> makeNoLimitsReader(int id);

}  // namespace rez
