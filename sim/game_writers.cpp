#include "sim/game_writers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/bytes.h"
#include "platform/clock.h"

namespace rez::sim {

bool GameBlock::create(const std::string& name, std::size_t size) {
    // The block must be this writer's own. On Linux the library's detection
    // makes a game's block when it finds none (as Windows would) and removes
    // the name when it closes the block it made; a writer that had opened
    // that block instead of making its own would lose it from under its name,
    // and one that removed the name just as the detection closed could lose
    // its new block to that removal. So a block found under the name is first
    // given a moment to go (the detection drops its own at once); one that
    // stays was left by an earlier writer and is removed. On Windows a section
    // lives while any handle is open, so one found under the name is shared,
    // as the game would share it.
#if defined(_WIN32)
    constexpr bool ownBlockNeeded = false;
#else
    constexpr bool ownBlockNeeded = true;
#endif
    // A detection that polls without a pause makes and drops its block many
    // times a second, so a loaded machine can lose this race often: keep at
    // it for seconds rather than a count of tries.
    const std::int64_t giveUpAt = platform::counterNow() + 5 * platform::counterFrequency();
    for (int attempt = 0; attempt < 10 || platform::counterNow() < giveUpAt; ++attempt) {
        if (!ownBlockNeeded || attempt >= 10) platform::SharedMemory::removeName(name);
        if (!block_.createOrOpen(name, size)) break;
        if (ownBlockNeeded && !block_.created()) {
            block_.close();
            platform::sleepMs(1);
            continue;
        }
        if (!block_.map(platform::MapAccess::ReadWrite, size)) break;
        std::memset(block_.data(), 0, size);
        return true;
    }
    block_.close();
    // Said aloud: a game stand-in without its block writes nothing, and a
    // test waiting for its data would otherwise only time out.
    std::fprintf(stderr, "sim: could not make the block \"%s\" of this game's own\n", name.c_str());
    return false;
}

void GameBlock::putU8(std::size_t at, std::uint8_t v) {
    if (ok() && at < size()) block_.data()[at] = v;
}
void GameBlock::putI32(std::size_t at, std::int32_t v) {
    if (ok() && at + 4 <= size()) store_le(block_.data() + at, v);
}
void GameBlock::putF32(std::size_t at, float v) {
    if (ok() && at + 4 <= size()) store_le(block_.data() + at, v);
}
void GameBlock::putF64(std::size_t at, double v) {
    if (ok() && at + 8 <= size()) store_le(block_.data() + at, v);
}

// --- Assetto Corsa family -------------------------------------------------
// Physics page: packetId int 0, accG[3] floats 44/48/52, heading 208,
// pitch 212, roll 216, localAngularVel[3] 296/300/304, localVelocity[3]
// 568/572/576. Graphics page: status int 4.

AssettoCorsaWriter::AssettoCorsaWriter(Pages pages, std::size_t evoSize) {
    if (pages == Pages::Evo) {
        physics_.create("Local\\acevo_pmf_physics", evoSize);
        return;
    }
    physics_.create("Local\\acpmf_physics", 712);
    graphics_.create("Local\\acpmf_graphics", 1320);
}

bool AssettoCorsaWriter::ok() const { return physics_.ok(); }

void AssettoCorsaWriter::setStatus(std::int32_t status) { graphics_.putI32(4, status); }

void AssettoCorsaWriter::publish(const AcPhysics& p) {
    for (int i = 0; i < 3; ++i) {
        physics_.putF32(44 + 4 * static_cast<std::size_t>(i), p.accG[i]);
        physics_.putF32(296 + 4 * static_cast<std::size_t>(i), p.localAngularVel[i]);
        physics_.putF32(568 + 4 * static_cast<std::size_t>(i), p.localVelocity[i]);
    }
    physics_.putF32(208, p.heading);
    physics_.putF32(212, p.pitch);
    physics_.putF32(216, p.roll);
    // The game bumps the packet number last, once the frame is complete.
    physics_.putI32(0, p.packetId);
}

void AssettoCorsaWriter::close() {
    physics_.close();
    graphics_.close();
}

// --- RaceRoom ---------------------------------------------------------------
// Packed. version_major int 0, version_minor int 4. Up to 3.2: gamePaused
// 16, gameInMenus 20, gameInReplay 24 (ints); player doubles: localVelocity
// 96, localAcceleration 144, orientation 168, localRotationAcceleration 216,
// localAngularVelocity 240, three each. 3.3 adds gameMode (int 16): flags
// 20/24/28, player doubles 4 bytes later. 3.4 adds userId (int) at the head
// of the player block: player doubles 8 bytes later than up to 3.2.

namespace {
struct R3eOffsets {
    std::int32_t minor;
    std::size_t size, paused, velocity, acceleration, orientation, rotationAccel, angularVel;
};
R3eOffsets r3eOffsets(RaceRoomWriter::Layout layout) {
    switch (layout) {
        case RaceRoomWriter::Layout::V3_3: return {3, 39324, 20, 100, 148, 172, 220, 244};
        case RaceRoomWriter::Layout::V3_4: return {5, 43996, 20, 104, 152, 176, 224, 248};
        case RaceRoomWriter::Layout::V3_2: break;
    }
    return {2, 39320, 16, 96, 144, 168, 216, 240};
}
}  // namespace

RaceRoomWriter::RaceRoomWriter(Layout layout) : layout_(layout) {
    const R3eOffsets o = r3eOffsets(layout_);
    block_.create("$R3E", o.size);
    setVersion(3, o.minor);
}

void RaceRoomWriter::setVersion(std::int32_t major, std::int32_t minor) {
    block_.putI32(0, major);
    block_.putI32(4, minor);
}

void RaceRoomWriter::publish(const R3eSample& s) {
    const R3eOffsets o = r3eOffsets(layout_);
    if (layout_ != Layout::V3_2) block_.putI32(16, s.gameMode);
    block_.putI32(o.paused, s.gamePaused);
    block_.putI32(o.paused + 4, s.gameInMenus);
    block_.putI32(o.paused + 8, s.gameInReplay);
    for (int i = 0; i < 3; ++i) {
        const auto k = static_cast<std::size_t>(i) * 8;
        block_.putF64(o.velocity + k, s.localVelocity[i]);
        block_.putF64(o.acceleration + k, s.localAcceleration[i]);
        block_.putF64(o.orientation + k, s.orientation[i]);
        block_.putF64(o.rotationAccel + k, s.localRotationAccel[i]);
        block_.putF64(o.angularVel + k, s.localAngularVel[i]);
    }
}

// --- Project CARS 2 / Automobilista 2 ---------------------------------------
// gameState int 8; floats: orientation 6908, localVelocity 6920,
// angularVelocity 6944, localAcceleration 6956, three each.

ProjectCars2Writer::ProjectCars2Writer(std::size_t size) { block_.create("$pcars2$", size); }

void ProjectCars2Writer::publish(const Pcars2Sample& s) {
    block_.putI32(8, s.gameState);
    for (int i = 0; i < 3; ++i) {
        const auto k = static_cast<std::size_t>(i) * 4;
        block_.putF32(6908 + k, s.orientation[i]);
        block_.putF32(6920 + k, s.localVelocity[i]);
        block_.putF32(6944 + k, s.angularVelocity[i]);
        block_.putF32(6956 + k, s.localAcceleration[i]);
    }
}

// --- iRacing ----------------------------------------------------------------
// Header: ver 0, status 4, tickRate 8, numVars 24, varHeaderOffset 28,
// numBuf 32, bufLen 36, then from 48 one 16-byte entry per buffer
// (tickCount, bufOffset). Variable header, 144 bytes: type 0, offset 4,
// count 8, countAsTime 12, name[32] 16, desc[64] 48, unit[32] 112.

namespace {
constexpr std::int32_t kIrFloatType = 4;
constexpr std::size_t kIrNameAt = 16;
}  // namespace

IRacingWriter::IRacingWriter(const std::vector<std::string>& variables, int buffers, std::size_t rowLength,
                             std::size_t mappingSize)
    : variables_(variables), buffers_(buffers), rowLength_(rowLength != 0 ? rowLength : 4 * variables.size()) {
    const std::size_t headersEnd = kVarHeadersAt + kVarHeaderSize * variables_.size();
    const std::size_t rowsAt = (headersEnd + 15) / 16 * 16;
    const std::size_t needed = rowsAt + static_cast<std::size_t>(std::max(buffers_, 0)) * rowLength_;
    if (!block_.create("Local\\IRSDKMemMapFileName", std::max(needed, mappingSize))) return;
    platform::NamedEvent::removeName("Local\\IRSDKDataValidEvent");
    event_.create("Local\\IRSDKDataValidEvent");

    block_.putI32(0, 2);
    block_.putI32(8, 60);
    block_.putI32(24, static_cast<std::int32_t>(variables_.size()));
    block_.putI32(28, static_cast<std::int32_t>(kVarHeadersAt));
    block_.putI32(32, buffers_);
    block_.putI32(36, static_cast<std::int32_t>(rowLength_));
    for (int b = 0; b < buffers_ && b < 4; ++b)
        block_.putI32(48 + 16 * static_cast<std::size_t>(b) + 4,
                      static_cast<std::int32_t>(rowsAt + static_cast<std::size_t>(b) * rowLength_));
    for (std::size_t i = 0; i < variables_.size(); ++i) {
        const std::size_t at = kVarHeadersAt + i * kVarHeaderSize;
        block_.putI32(at, kIrFloatType);
        block_.putI32(at + 4, static_cast<std::int32_t>(4 * i));
        block_.putI32(at + 8, 1);
        const std::string& name = variables_[i];
        std::memcpy(block_.data() + at + kIrNameAt, name.data(), std::min<std::size_t>(name.size(), 32));
    }
}

std::size_t IRacingWriter::rowOffset(int buffer) const {
    return static_cast<std::size_t>(load_le<std::int32_t>(block_.data() + 48 + 16 * static_cast<std::size_t>(buffer) + 4));
}

void IRacingWriter::setConnected(bool connected) { block_.putI32(4, connected ? 1 : 0); }

void IRacingWriter::publish(std::int32_t tick, const std::map<std::string, float>& values) {
    if (!ok() || buffers_ <= 0) return;
    const int buffer = next_;
    next_ = (next_ + 1) % std::min(buffers_, 4);
    writeRow(buffer, tick, values);
}

void IRacingWriter::writeRow(int buffer, std::int32_t tick, const std::map<std::string, float>& values) {
    if (!ok() || buffer < 0 || buffer >= std::min(buffers_, 4)) return;
    const std::size_t row = rowOffset(buffer);
    for (std::size_t i = 0; i < variables_.size(); ++i) {
        auto it = values.find(variables_[i]);
        block_.putF32(row + 4 * i, it != values.end() ? it->second : 0.0f);
    }
    setBufferTick(buffer, tick);
    event_.signal();
}

void IRacingWriter::setBufferTick(int buffer, std::int32_t tick) {
    block_.putI32(48 + 16 * static_cast<std::size_t>(buffer), tick);
}

void IRacingWriter::close() {
    block_.close();
    event_.close();
}

// --- rFactor 2 plug-in block ------------------------------------------------
// marker u32 0, elapsed time double 12, local velocity 184, local
// acceleration 208, orientation matrix 232 (row by row, nine doubles),
// local rotation 304, local rotational acceleration 328.

RFactor2Writer::RFactor2Writer() { block_.create("Local\\Rovandelix_rf2_data", 1888); }

void RFactor2Writer::publish(const Rf2Sample& s) {
    block_.putI32(0, static_cast<std::int32_t>(s.marker));
    for (int i = 0; i < 3; ++i) {
        const auto k = static_cast<std::size_t>(i) * 8;
        block_.putF64(184 + k, s.localVel[i]);
        block_.putF64(208 + k, s.localAccel[i]);
        block_.putF64(304 + k, s.localRot[i]);
        block_.putF64(328 + k, s.localRotAccel[i]);
        for (int c = 0; c < 3; ++c) block_.putF64(232 + 24 * static_cast<std::size_t>(i) + 8 * static_cast<std::size_t>(c), s.orientation[i][c]);
    }
    // The elapsed time goes last: it is what tells the reader a frame is new.
    block_.putF64(12, s.elapsedTime);
}

// --- Truck simulators -------------------------------------------------------
// Packed: running byte 0; floats heading 25, pitch 29, roll 33, speed 41,
// rpm 45, linear velocity 69/73/77, angular velocity 81/85/89, linear
// acceleration 93/97/101, angular acceleration 105/109/113.

TruckSimWriter::TruckSimWriter() { block_.create("SCSTelemetryExample", 177); }

void TruckSimWriter::publish(const TruckSample& s) {
    block_.putF32(25, s.heading);
    block_.putF32(29, s.pitch);
    block_.putF32(33, s.roll);
    block_.putF32(41, s.speed);
    block_.putF32(45, s.rpm);
    for (int i = 0; i < 3; ++i) {
        const auto k = static_cast<std::size_t>(i) * 4;
        block_.putF32(69 + k, s.linearVelocity[i]);
        block_.putF32(81 + k, s.angularVelocity[i]);
        block_.putF32(93 + k, s.linearAcceleration[i]);
        block_.putF32(105 + k, s.angularAcceleration[i]);
    }
    block_.putU8(0, s.running);
}

}  // namespace rez::sim
