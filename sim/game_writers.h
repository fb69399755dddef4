#pragma once
// Stand-ins for the games that publish telemetry in named shared memory.
// Each writer makes the game's block under the game's name with the game's
// published layout and fills it from plain values, the way the game would.
// The layouts are written out here on their own, never taken from the
// readers, so a reader that misplaces a field disagrees with its writer.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/named_event.h"
#include "platform/shared_memory.h"

namespace rez::sim {

// A block that the stand-in owns: made fresh (a stale one of that name is
// removed first), mapped for writing, released when the writer goes.
class GameBlock {
public:
    GameBlock() = default;
    GameBlock(const std::string& name, std::size_t size) { create(name, size); }
    bool create(const std::string& name, std::size_t size);
    void close() { block_.close(); }
    bool ok() const { return block_.isMapped(); }
    unsigned char* data() const { return block_.data(); }
    std::size_t size() const { return block_.viewSize(); }
    std::size_t objectSize() const { return block_.objectSize(); }

    void putU8(std::size_t at, std::uint8_t v);
    void putI32(std::size_t at, std::int32_t v);
    void putF32(std::size_t at, float v);
    void putF64(std::size_t at, double v);

private:
    platform::SharedMemory block_;
};

// --- Assetto Corsa family -------------------------------------------------

struct AcPhysics {
    std::int32_t packetId = 0;
    float accG[3] = {};            // x, y, z, in g
    float heading = 0, pitch = 0, roll = 0;  // radians
    float localAngularVel[3] = {};  // x, y, z, radians/s
    float localVelocity[3] = {};    // x, y, z, m/s
};

class AssettoCorsaWriter {
public:
    enum class Pages {
        Classic,  // "Local\acpmf_physics" (712 bytes) and "Local\acpmf_graphics" (1320 bytes)
        Evo,      // "Local\acevo_pmf_physics" (800 bytes), the page EVO writes
    };
    explicit AssettoCorsaWriter(Pages pages = Pages::Classic, std::size_t evoSize = 800);
    bool ok() const;
    // Graphics status: 0 off, 1 replay, 2 live, 3 pause.
    void setStatus(std::int32_t status);
    void publish(const AcPhysics& sample);
    void close();

private:
    GameBlock physics_;
    GameBlock graphics_;
};

// --- RaceRoom ---------------------------------------------------------------

struct R3eSample {
    std::int32_t gameMode = 0;  // from 3.3 on
    std::int32_t gamePaused = 0, gameInMenus = 0, gameInReplay = 0;
    double localVelocity[3] = {};      // x, y, z
    double localAcceleration[3] = {};  // x, y, z
    double orientation[3] = {};        // pitch, yaw, roll, radians
    double localRotationAccel[3] = {}; // pitch, yaw, roll
    double localAngularVel[3] = {};    // pitch, yaw, roll
};

class RaceRoomWriter {
public:
    // The block as a version of the game lays it out: up to 3.2 (39 320
    // bytes), 3.3 (game mode in front of the flags) or 3.4 and 3.5 (also a
    // user id at the head of the player block; 43 996 bytes).
    enum class Layout { V3_2, V3_3, V3_4 };
    explicit RaceRoomWriter(Layout layout = Layout::V3_2);
    bool ok() const { return block_.ok(); }
    // The version the block announces (the layout's own by default).
    void setVersion(std::int32_t major, std::int32_t minor);
    void publish(const R3eSample& sample);
    void close() { block_.close(); }

private:
    GameBlock block_;
    Layout layout_;
};

// --- Project CARS 2 / Automobilista 2 ---------------------------------------

struct Pcars2Sample {
    std::int32_t gameState = 2;      // 2 = playing
    float orientation[3] = {};       // as the game stores it: yaw, roll, pitch, radians
    float localVelocity[3] = {};     // lateral, longitudinal, vertical
    float angularVelocity[3] = {};   // yaw, roll, pitch
    float localAcceleration[3] = {}; // lateral, longitudinal, vertical
};

class ProjectCars2Writer {
public:
    // The game's own block is 20 576 bytes.
    explicit ProjectCars2Writer(std::size_t size = 20576);
    bool ok() const { return block_.ok(); }
    void publish(const Pcars2Sample& sample);
    void close() { block_.close(); }

private:
    GameBlock block_;
};

// --- iRacing ----------------------------------------------------------------

// The telemetry header with its variable headers and rotating data rows,
// plus the data-valid event. Every declared variable is a float.
class IRacingWriter {
public:
    static constexpr std::size_t kVarHeadersAt = 144;
    static constexpr std::size_t kVarHeaderSize = 144;

    // `rowLength` 0 means four bytes per variable.
    explicit IRacingWriter(const std::vector<std::string>& variables, int buffers = 3, std::size_t rowLength = 0,
                           std::size_t mappingSize = 0);
    bool ok() const { return block_.ok() && event_.isOpen(); }
    void setConnected(bool connected);
    // Writes a row into the next buffer, marks it with `tick` and signals
    // the event. Variables missing from `values` read 0.
    void publish(std::int32_t tick, const std::map<std::string, float>& values);
    // The same into a chosen buffer, leaving the rotation alone.
    void writeRow(int buffer, std::int32_t tick, const std::map<std::string, float>& values);
    // Sets a buffer's tick without touching its row.
    void setBufferTick(int buffer, std::int32_t tick);

    // Raw header access for damaged-header cases.
    void putHeaderI32(std::size_t at, std::int32_t v) { block_.putI32(at, v); }
    std::size_t rowOffset(int buffer) const;
    std::size_t size() const { return block_.size(); }
    void close();

private:
    GameBlock block_;
    platform::NamedEvent event_;
    std::vector<std::string> variables_;
    int buffers_;
    std::size_t rowLength_;
    int next_ = 0;
};

// --- rFactor 2 plug-in block ------------------------------------------------

struct Rf2Sample {
    std::uint32_t marker = 0;  // 1234567890 = not ready
    double elapsedTime = 0;
    double localVel[3] = {};
    double localAccel[3] = {};
    double orientation[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};  // row by row
    double localRot[3] = {};
    double localRotAccel[3] = {};
};

class RFactor2Writer {
public:
    RFactor2Writer();
    bool ok() const { return block_.ok(); }
    void publish(const Rf2Sample& sample);
    void close() { block_.close(); }

private:
    GameBlock block_;
};

// --- Truck simulators (telemetry example plug-in) ---------------------------

struct TruckSample {
    std::uint8_t running = 1;
    float heading = 0, pitch = 0, roll = 0;  // turns
    float speed = 0, rpm = 0;
    float linearVelocity[3] = {};      // x, y, z
    float angularVelocity[3] = {};     // x, y, z, turns/s
    float linearAcceleration[3] = {};  // x, y, z
    float angularAcceleration[3] = {}; // x, y, z
};

class TruckSimWriter {
public:
    TruckSimWriter();
    bool ok() const { return block_.ok(); }
    void publish(const TruckSample& sample);
    void close() { block_.close(); }

private:
    GameBlock block_;
};

}  // namespace rez::sim
