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
