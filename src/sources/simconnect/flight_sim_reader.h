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

// A simulator that floods us must not hold the tick: one read takes at most
// kMostMessagesPerRead messages, and past the first kMessagesSurelyTaken it
// stops once it has spent kMessageReadBudgetUs. The rest waits for the next
// tick. A simulator sends one data message per frame, so in play every read
// still takes all that is waiting.
inline constexpr int kMostMessagesPerRead = 64;
inline constexpr int kMessagesSurelyTaken = 8;
inline constexpr int kMessageReadBudgetUs = 500;

// What a data message said; false when it is too short to hold the block.
struct FlightSimSample {
    double values[15] = {};
    std::int64_t gearOnGround = 0;
    std::int64_t simOnGround = 0;
};
bool decodeFlightSimData(const std::uint8_t* message, std::size_t size, FlightSimSample& sample);
// Stores a sample into the record's channels and gives its ground state in
// `ground`. When a channel would not be a finite number (the simulator sent
// a NaN or an infinity, or radians too large to turn into degrees) the
// sample is refused: false, and nothing is stored.
bool storeFlightSimSample(const FlightSimSample& sample, GameDataRecord& record, int& ground);

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
    // Whether the newest data message gave a sample. Between the
    // simulator's frames a read finds no message and still counts as a
    // sample; after a refused message it does not, until a good one comes,
    // so a simulator that only sends unusable data runs into the engine's
    // miss rule like one that sends nothing.
    bool newestUsable_ = true;
};

// The reader for a flight-simulator game id, or nullptr for any other game.
std::unique_ptr<GameReader> makeFlightSimReader(int id);

}  // namespace rez
