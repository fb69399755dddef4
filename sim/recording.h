#pragma once
// Recordings: what the engine read and what it computed, one row per tick,
// as CSV. The host program writes them from the engine's snapshot histories
// (the 43 game slots and the 23 position-snapshot values of every tick); the
// simulator plays them back into any game's format; the plots read them.
//
// Layout (text, one header line, then one row per tick):
//   # rezadedudid recording 1
//   # game: <name the library gave>        (optional comment lines start with '#')
//   tick,slot_0,lateral_speed,...,simtools_axis4b,slot_42,cue_0,...,cue_22
//   0,0,1.25,...
// Numbers are written with 17 significant digits, so reading a row back gives
// exactly the doubles that were written.
//
// The frames the controller received go to a second file beside it
// (`<name>.frames.csv`): index,received_us,crc_ok,bytes (72 hex digits).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace rez::sim {

constexpr int kRecordedSlots = 43;
constexpr int kRecordedCues = 23;

struct RecordedTick {
    std::int64_t tick = 0;
    double slots[kRecordedSlots] = {};
    double cues[kRecordedCues] = {};
};

struct Recording {
    std::string game;  // empty when the file does not say
    std::vector<RecordedTick> ticks;
};

// Column names of the tick file, in order.
std::vector<std::string> recordingColumns();

class RecordingWriter {
public:
    RecordingWriter() = default;
    ~RecordingWriter() { close(); }
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    // Creates (or truncates) the file and writes the header; false with the
    // reason in `error` when the file cannot be written.
    bool open(const std::string& path, const std::string& game, std::string& error);
    bool isOpen() const { return file_ != nullptr; }
    // False once a write failed (disk full, say); the reason is in error().
    bool write(const RecordedTick& tick);
    bool close();
    const std::string& error() const { return error_; }

private:
    std::FILE* file_ = nullptr;
    std::string error_;
};

// Reads a whole tick file. False with "line N: what is wrong" in `error` for
// a file that cannot be read or a row that is not a recording row.
bool readRecording(const std::string& path, Recording& out, std::string& error);

struct RecordedFrame {
    std::int64_t index = 0;
    std::int64_t receivedUs = 0;  // when the controller had its last byte
    bool crcOk = false;
    std::uint8_t bytes[36] = {};
};

class FrameLogWriter {
public:
    FrameLogWriter() = default;
    ~FrameLogWriter() { close(); }
    FrameLogWriter(const FrameLogWriter&) = delete;
    FrameLogWriter& operator=(const FrameLogWriter&) = delete;
    bool open(const std::string& path, std::string& error);
    bool write(const RecordedFrame& frame);
    bool close();

private:
    std::FILE* file_ = nullptr;
};

bool readFrameLog(const std::string& path, std::vector<RecordedFrame>& out, std::string& error);

// `<tick file without .csv>.frames.csv`.
std::string frameLogPath(const std::string& recordingPath);

}  // namespace rez::sim
