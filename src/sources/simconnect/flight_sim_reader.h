#pragma once
// The flight simulators' reader (games MSFS2020 and MSFS2024), read through
// our own SimConnect client.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "sources/simconnect/client_connection.h"
#include "sources/game_reader.h"

namespace rez {

inline constexpr const char* kSimConnectClientName = "Rovandelix";

// Message ids of the server we act on, and the layout of its data message.
inline constexpr std::uint32_t kRecvException = 1;
inline constexpr std::uint32_t kRecvOpen = 2;
inline constexpr std::uint32_t kRecvQuit = 3;
inline constexpr std::uint32_t kRecvEvent = 4;
inline constexpr std::uint32_t kRecvSimObjectData = 8;
inline constexpr std::size_t kDataBlockOffset = 40;
inline constexpr int kFlightSimVariables = 17;
inline constexpr std::size_t kFlightSimDataSize = 15 * 8 + 2 * 8;
inline constexpr std::uint32_t kEventQuit = 7;

// What a data message said; false when it is too short to hold the block.
struct FlightSimSample {
    double values[15] = {};
    std::int64_t gearOnGround = 0;
    std::int64_t simOnGround = 0;
};
bool decodeFlightSimData(const std::uint8_t* message, std::size_t size, FlightSimSample& sample);
// Stores a sample into the record's channels; returns the ground state it gives.
int storeFlightSimSample(const FlightSimSample& sample, GameDataRecord& record);

class FlightSimReader : public GameReader {
public:
    explicit FlightSimReader(int id);
    ~FlightSimReader() override;

    bool detect() override;
    bool attach() override;
    bool read(GameDataRecord& record) override;
    void close() override;

    bool connected() const { return connection_ != nullptr; }
    std::int32_t lastResult() const { return lastResult_; }

private:
    int id_;
    std::unique_ptr<ClientClient> connection_;
    std::int32_t lastResult_ = 0;
};

// The reader for a flight-simulator game id, or nullptr for any other game.
std::unique_ptr<GameReader> makeFlightSimReader(int id);

}  // namespace rez
