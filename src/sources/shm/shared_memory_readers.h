#pragma once
// Readers of the games that publish their telemetry in named shared memory,
// and the pieces they share.
//
// A game's block is written by another program and can hold anything, so
// every value is loaded with a bounds check against the view actually mapped.
// Attach maps a block only when its page-rounded size covers the view the
// reader needs, as Windows decides it: a game's block may end a little
// before the view does (the rest of its last page reads as zero), but a
// block that is short by whole pages is not the layout this reader knows,
// and the game stays offline until it publishes a proper one.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <memory>
#include <string>

#include "core/bytes.h"
#include "platform/shared_memory.h"
#include "sources/game_reader.h"
#include "sources/gravity.h"

namespace rez {

// The reader for a shared-memory game id, or nullptr for other games.
std::unique_ptr<GameReader> makeSharedMemoryReader(int id);

// Checked little-endian loads from a mapped view; a value that would reach
// past the end of the view reads as 0.
class ViewBytes {
public:
    explicit ViewBytes(const platform::SharedMemory& block) : data_(block.data()), size_(block.viewSize()) {}
    ViewBytes(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t u8(std::size_t offset) const { return load_le_checked<std::uint8_t>(data_, size_, offset); }
    std::int32_t i32(std::size_t offset) const { return load_le_checked<std::int32_t>(data_, size_, offset); }
    float f32(std::size_t offset) const { return load_le_checked<float>(data_, size_, offset); }
    double f64(std::size_t offset) const { return load_le_checked<double>(data_, size_, offset); }
    const unsigned char* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    const unsigned char* data_;
    std::size_t size_;
};

// Radians to degrees, with the short pi unless a reader asks for the full one.
inline double toDegrees(double radians, double pi = kPiShort) { return radians * 180.0 / pi; }

// Opens a block the game must have made and maps `size` bytes of it
// read-only. Prints "Failed to open mapping" or "Failed to map buffer" on
// failure and leaves the block closed.
bool openGameBlock(platform::SharedMemory& block, const std::string& name, std::size_t size);

// A reader of one block that the game makes and that is read on every tick
// while attached: it holds the block and the attached and error markers.
class GameBlockReader : public GameReader {
public:
    void close() override;

    bool attached() const { return attached_; }
    bool failed() const { return error_; }

protected:
    // Opens and maps the block, says so, and keeps the markers. False (and
    // the error marker set) when the block would not open.
    bool attachBlock(const std::string& name, std::size_t size);

    platform::SharedMemory block_;
    bool attached_ = false;
    bool error_ = false;
};

// Opens the game's block read-only, or creates it when the game has not made
// it, then maps `size` bytes read-only. A game's block is never written or
// resized; one whose page-rounded size is short of `size` is refused. Leaves
// the block closed on failure.
bool createOrOpenGameBlock(platform::SharedMemory& block, const std::string& name, std::size_t size);

// What every reader does after storing a new sample: the interval stamp,
// ground state 0, and the gravity parts in the reader's mode.
void finishSample(GameReader& reader, GameDataRecord& record, AccelMode mode, double lateralSign = 1.0);

}  // namespace rez
