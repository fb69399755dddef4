#include "sources/shm/iracing_reader.h"

#include <algorithm>
#include <cstring>
#include <numbers>
#include <optional>

#include "sources/detection_tests.h"
#include "sources/shm/shared_memory_readers.h"

namespace rez {

namespace {

// Telemetry header.
constexpr std::size_t kStatusAt = 4;
constexpr std::size_t kVarCountAt = 24;
constexpr std::size_t kVarHeaderOffsetAt = 28;
constexpr std::size_t kBufferCountAt = 32;
constexpr std::size_t kBufferLengthAt = 36;
constexpr std::size_t kBufferEntriesAt = 48;
constexpr std::size_t kBufferEntrySize = 16;
// The header has room for four buffer entries; a larger count is garbage.
constexpr std::int32_t kMaxBuffers = 4;
constexpr std::int32_t kConnectedBit = 1;

// Variable header.
constexpr std::size_t kVarHeaderSize = 144;
constexpr std::size_t kVarRowOffsetAt = 4;
constexpr std::size_t kVarNameAt = 16;
constexpr std::size_t kVarNameLength = 32;

constexpr double kFullPi = std::numbers::pi;

bool gameAndMappingPresent() {
    return processTest({"iRacingSim64DX11.exe", "Iracing.exe"}) && existingMappingTest(kIRacingMapName);
}

// Compares a header's name field with `name` over at most 32 characters,
// stopping at the terminator as a C string comparison would.
bool nameMatches(const unsigned char* field, const char* name) {
    for (std::size_t i = 0; i < kVarNameLength; ++i) {
        const auto wanted = static_cast<unsigned char>(name[i]);
        if (field[i] != wanted) return false;
        if (wanted == 0) return true;
    }
    return true;
}

// Offset of a variable in the data row, or nothing when no header names it.
// Only headers that lie wholly inside the view are looked at, whatever the
// header claims about their count and place.
std::optional<std::size_t> findVariable(const ViewBytes& view, const char* name) {
    const std::int32_t count = view.i32(kVarCountAt);
    const std::int32_t first = view.i32(kVarHeaderOffsetAt);
    if (count <= 0 || first < 0) return std::nullopt;
    std::size_t at = static_cast<std::size_t>(first);
    for (std::int32_t i = 0; i < count; ++i, at += kVarHeaderSize) {
        if (at > view.size() || view.size() - at < kVarHeaderSize) return std::nullopt;
        if (nameMatches(view.data() + at + kVarNameAt, name)) {
            const std::int32_t offset = view.i32(at + kVarRowOffsetAt);
            if (offset < 0) return std::nullopt;
            return static_cast<std::size_t>(offset);
        }
    }
    return std::nullopt;
}

}  // namespace

bool IRacingReader::detect() { return gameAndMappingPresent(); }

bool IRacingReader::openHandles() {
    if (!mapping_.isOpen() && !mapping_.openExisting(kIRacingMapName, platform::MapAccess::Read)) return false;
    if (!mapping_.isMapped() && !mapping_.map(platform::MapAccess::Read)) return false;
    if (!event_.isOpen() && !event_.openExisting(kIRacingEventName)) return false;
    return true;
}

void IRacingReader::reset() {
    event_.close();
    mapping_.close();
    attached_ = false;
    sampler_.lastTick = kIRacingNoTick;
}

bool IRacingReader::attach() {
    if (!attached_ && gameAndMappingPresent()) {
        // What did open is kept for the next try.
        if (!openHandles()) return false;
        sampler_.lastTick = kIRacingNoTick;
        attached_ = true;
        return true;
    }
    reset();
    return false;
}

bool IRacingSampler::sample(const ViewBytes& view, GameDataRecord& record) {
    refused = false;
    if ((view.i32(kStatusAt) & kConnectedBit) == 0) {
        // Between sessions. The next session's first row then only becomes
        // the last tick (it looks like a restarted count); newer rows are taken.
        lastTick = kIRacingNoTick;
        return false;
    }
    const std::size_t copied = takeNewestRow(view);
    if (copied == 0) return false;
    refused = !readVariables(view, copied, record);
    return !refused;
}

std::size_t IRacingSampler::takeNewestRow(const ViewBytes& view) {
    const std::int32_t buffers = std::min(view.i32(kBufferCountAt), kMaxBuffers);
    std::optional<std::size_t> newest;
    std::int32_t newestTick = 0;
    for (std::int32_t i = 0; i < buffers; ++i) {
        const std::size_t entry = kBufferEntriesAt + static_cast<std::size_t>(i) * kBufferEntrySize;
        if (entry > view.size() || view.size() - entry < 8) break;
        const std::int32_t tick = view.i32(entry);
        if (!newest || tick > newestTick) {
            newest = entry;
            newestTick = tick;
        }
    }
    if (!newest) return 0;
    if (newestTick < lastTick) {
        // The game started counting again; the next newer row is taken.
        lastTick = newestTick;
        return 0;
    }
    if (newestTick == lastTick) return 0;

    const std::int32_t length = view.i32(kBufferLengthAt);
    const std::int32_t offset = view.i32(*newest + 4);
    if (length <= 0 || offset < 0) return 0;
    const auto rowAt = static_cast<std::size_t>(offset);
    const auto rowLength = static_cast<std::size_t>(length);
    // A row that reaches past the view is not a row of this mapping.
    if (rowAt > view.size() || view.size() - rowAt < rowLength) return 0;
    // Rows longer than the sample row are cut; variables past the cut are
    // treated as absent.
    const std::size_t copied = std::min(rowLength, row_.size());
    std::memcpy(row_.data(), view.data() + rowAt, copied);
    lastTick = newestTick;
    return copied;
}

bool IRacingSampler::readVariables(const ViewBytes& view, std::size_t rowLength, GameDataRecord& record) const {
    struct Variable {
        const char* name;
        int slot;
        double factor;
        bool degrees;
    };
    static constexpr Variable kVariables[] = {
        {"LatAccel", kLateralAccelG, -1.0, false}, {"LongAccel", kLongituAccelG, 1.0, false},
        {"VertAccel", kVerticaAccelG, 1.0, false}, {"YawRate", kYawSpeed, 1.0, false},
        // The game's pitch is positive nose down and is turned to the
        // library's nose up; its pitch rate keeps the game's sense (a fixed
        // sign that hosts' stored iRacing profiles already allow for).
        {"RollRate", kRollSpeed, 1.0, false},      {"PitchRate", kPitchSpeed, 1.0, false},
        {"Yaw", kYawPosition, 1.0, true},          {"Roll", kRollPosition, 1.0, true},
        {"Pitch", kPitchPosition, -1.0, true},
    };
    const ViewBytes row(row_.data(), rowLength);
    SlotStores values;
    for (const Variable& v : kVariables) {
        const std::optional<std::size_t> at = findVariable(view, v.name);
        // A variable the game does not publish (or places outside the row)
        // leaves its channel as it was.
        if (!at || *at > rowLength || rowLength - *at < sizeof(float)) continue;
        const double value = row.f32(*at);
        values.set(v.slot, (v.degrees ? toDegrees(value, kFullPi) : value) * v.factor);
    }
    return values.storeInto(record);
}

bool IRacingReader::read(GameDataRecord& record) {
    if (!attached_) return false;
    // A restarted game publishes a new block; the one held here would stay
    // connected with its ticks standing still.
    if (mapping_.isOpen() && !mapping_.stillUnderItsName()) mapping_.close();
    // A row that is no sample (a value not a number) is no tick of data either.
    if (openHandles() && !sampler_.sample(ViewBytes(mapping_), record) && sampler_.refused) return false;
    // The game's roll grows with the right side going down (about its x axis,
    // forward, with y to the left), so its lateral gravity part has the
    // opposite sign to the other games'; without that a banked car would show
    // twice its gravity part as a lateral acceleration.
    finishSample(*this, record, AccelMode::Subtract, -1.0);
    return true;
}

}  // namespace rez
