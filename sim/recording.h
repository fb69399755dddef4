#pragma once
// Recordings: what the engine read and what it computed, one row per tick,
// as CSV. The host program writes them from the engine's snapshot histories
// (the 43 game slots and the 23 position-snapshot values of every tick); the
// simulator plays them back into any game's format; the plots read them.
//
// Layout (text, one header line, then one row per tick):
//   # rezadedudid recording 2
//   # game: <name the library gave>        (optional comment lines start with '#')
//   tick,time_s,slot_0,lateral_speed,...,simtools_axis4b,slot_42,cue_0,...,cue_22
//   0,0.1375,0,1.25,...
//   ...
//   # rest: 12.004                          (where the rest fade began, if it did)
// `time_s` is when the tick ran, in seconds on the recorder's clock (the host
// starts it with the run); the engine does not stamp its ticks, so the
// recorder spreads the ticks of each take of the histories evenly up to the
// moment of the take (tools/host/recorder.h). Under load ticks come further
// apart than 2 ms, and the times say so.
// Version 1 files have no `time_s` column; their rows are read as 2 ms apart
// (tick x 0.002 s). Numbers are written with 17 significant digits, so
// reading a row back gives exactly the doubles that were written.
//
// The frames the controller received go to a second file beside it
// (`<name>.frames.csv`): index,received_us,crc_ok,bytes (72 hex digits).
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace rez::sim {

constexpr int kRecordedSlots = 43;
constexpr int kRecordedCues = 23;

constexpr double kNominalTickSeconds = 0.002;

struct RecordedTick {
    std::int64_t tick = 0;
    double seconds = 0;  // when the tick ran (time_s)
    double slots[kRecordedSlots] = {};
    double cues[kRecordedCues] = {};
};

struct Recording {
    int version = 2;
    std::string game;  // empty when the file does not say
    std::vector<RecordedTick> ticks;
    // Where the rest fade began (time_s); NaN when the file has no rest mark.
    double restSeconds = std::numeric_limits<double>::quiet_NaN();
};

// Column names of the tick file, in order (version 1: without time_s).
std::vector<std::string> recordingColumns(int version = 2);

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
    // The `# rest:` line: the rest fade began at `seconds`.
    bool writeRest(double seconds);
    bool close();
    const std::string& error() const { return error_; }

private:
    std::FILE* file_ = nullptr;
    std::string error_;
};

// Reads a whole tick file, version 1 or 2. False with "line N: what is wrong" in `error` for
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
