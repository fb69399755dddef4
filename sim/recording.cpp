#include "sim/recording.h"

#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "sources/game_data_record.h"

namespace rez::sim {

namespace {

constexpr const char* kMagicPrefix = "# rezadedudid recording ";
constexpr int kVersion = 2;
constexpr const char* kRestPrefix = "# rest: ";
constexpr const char* kFrameHeader = "index,received_us,crc_ok,bytes";

std::string headerLine() {
    std::string line;
    for (const std::string& column : recordingColumns(kVersion)) {
        if (!line.empty()) line += ',';
        line += column;
    }
    return line;
}

// Splits one CSV row (no quoting: every field is a number or hex).
std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::string::size_type start = 0;
    while (true) {
        const std::string::size_type comma = line.find(',', start);
        out.push_back(line.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

bool toDouble(const std::string& text, double& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && errno != ERANGE;
}

bool toInt(const std::string& text, std::int64_t& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return end == text.c_str() + text.size() && errno != ERANGE;
}

std::string lineError(std::size_t number, const std::string& what) {
    return "line " + std::to_string(number) + ": " + what;
}

std::string trimmed(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    return line;
}

}  // namespace

std::vector<std::string> recordingColumns(int version) {
    std::vector<std::string> columns{"tick"};
    if (version >= 2) columns.push_back("time_s");
    for (int slot = 0; slot < kRecordedSlots; ++slot) {
        const char* name = gameSlotName(slot);
        columns.push_back(name ? name : "slot_" + std::to_string(slot));
    }
    for (int cue = 0; cue < kRecordedCues; ++cue) columns.push_back("cue_" + std::to_string(cue));
    return columns;
}

bool RecordingWriter::open(const std::string& path, const std::string& game, std::string& error) {
    close();
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    error_.clear();
    std::fprintf(file_, "%s%d\n", kMagicPrefix, kVersion);
    if (!game.empty()) std::fprintf(file_, "# game: %s\n", game.c_str());
    std::fprintf(file_, "%s\n", headerLine().c_str());
    return true;
}

bool RecordingWriter::write(const RecordedTick& tick) {
    if (!file_) return false;
    int failed = std::fprintf(file_, "%" PRId64 ",%.17g", tick.tick, tick.seconds) < 0;
    for (double v : tick.slots) failed |= std::fprintf(file_, ",%.17g", v) < 0;
    for (double v : tick.cues) failed |= std::fprintf(file_, ",%.17g", v) < 0;
    failed |= std::fputc('\n', file_) == EOF;
    if (failed && error_.empty()) error_ = std::strerror(errno);
    return !failed;
}

bool RecordingWriter::writeRest(double seconds) {
    if (!file_) return false;
    const bool ok = std::fprintf(file_, "%s%.17g\n", kRestPrefix, seconds) > 0;
    if (!ok && error_.empty()) error_ = std::strerror(errno);
    return ok;
}

bool RecordingWriter::close() {
    if (!file_) return error_.empty();
    const bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!ok && error_.empty()) error_ = std::strerror(errno);
    return ok && error_.empty();
}

bool readRecording(const std::string& path, Recording& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    out = Recording{};
    out.version = 0;
    std::vector<std::string> expected;
    std::string line;
    std::size_t number = 0;
    bool sawHeader = false;
    while (std::getline(in, line)) {
        ++number;
        line = trimmed(line);
        if (line.empty()) continue;
        if (line[0] == '#') {
            std::int64_t version = 0;
            if (out.version == 0 && line.rfind(kMagicPrefix, 0) == 0) {
                if (!toInt(line.substr(std::strlen(kMagicPrefix)), version) || version < 1 || version > kVersion) {
                    error = lineError(number, "recording version " + line.substr(std::strlen(kMagicPrefix)) +
                                                  " is not one this program reads (1 to " + std::to_string(kVersion) + ")");
                    return false;
                }
                out.version = static_cast<int>(version);
                expected = recordingColumns(out.version);
            } else if (line.rfind("# game: ", 0) == 0) {
                out.game = line.substr(8);
            } else if (line.rfind(kRestPrefix, 0) == 0 && !toDouble(line.substr(std::strlen(kRestPrefix)), out.restSeconds)) {
                error = lineError(number, "the rest mark is not a time");
                return false;
            }
            continue;
        }
        if (out.version == 0) {
            error = lineError(number, "not a rezadedudid recording (no \"" + std::string(kMagicPrefix) + "N\" line)");
            return false;
        }
        const std::vector<std::string> row = fields(line);
        if (!sawHeader) {
            if (row != expected) {
                error = lineError(number, "the column header is not the recording's");
                return false;
            }
            sawHeader = true;
            continue;
        }
        if (row.size() != expected.size()) {
            error = lineError(number, std::to_string(row.size()) + " fields, expected " +
                                          std::to_string(expected.size()));
            return false;
        }
        RecordedTick tick;
        bool ok = toInt(row[0], tick.tick);
        const std::size_t first = out.version >= 2 ? 2 : 1;
        if (out.version >= 2) ok = ok && toDouble(row[1], tick.seconds);
        else tick.seconds = static_cast<double>(tick.tick) * kNominalTickSeconds;
        for (int i = 0; ok && i < kRecordedSlots; ++i) ok = toDouble(row[first + i], tick.slots[i]);
        for (int i = 0; ok && i < kRecordedCues; ++i) ok = toDouble(row[first + kRecordedSlots + i], tick.cues[i]);
        if (!ok) {
            error = lineError(number, "a field is not a number");
            return false;
        }
        if (!out.ticks.empty() && !(tick.seconds >= out.ticks.back().seconds)) {
            error = lineError(number, "time_s goes back");
            return false;
        }
        out.ticks.push_back(tick);
    }
    if (!sawHeader) {
        error = path + ": no column header";
        return false;
    }
    return true;
}

bool FrameLogWriter::open(const std::string& path, std::string& error) {
    close();
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::fprintf(file_, "%s\n", kFrameHeader);
    return true;
}

bool FrameLogWriter::write(const RecordedFrame& frame) {
    if (!file_) return false;
    char hex[2 * sizeof frame.bytes + 1];
    for (std::size_t i = 0; i < sizeof frame.bytes; ++i) std::snprintf(hex + 2 * i, 3, "%02x", frame.bytes[i]);
    return std::fprintf(file_, "%" PRId64 ",%" PRId64 ",%d,%s\n", frame.index, frame.receivedUs,
                        frame.crcOk ? 1 : 0, hex) > 0;
}

bool FrameLogWriter::close() {
    if (!file_) return true;
    const bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok;
}

bool readFrameLog(const std::string& path, std::vector<RecordedFrame>& out, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    out.clear();
    std::string line;
    std::size_t number = 0;
    while (std::getline(in, line)) {
        ++number;
        line = trimmed(line);
        if (number == 1) {
            if (line != kFrameHeader) {
                error = lineError(number, "not a frame log");
                return false;
            }
            continue;
        }
        if (line.empty()) continue;
        const std::vector<std::string> row = fields(line);
        RecordedFrame frame;
        std::int64_t crc = 0;
        bool ok = row.size() == 4 && toInt(row[0], frame.index) && toInt(row[1], frame.receivedUs) &&
                  toInt(row[2], crc) && (crc == 0 || crc == 1) && row[3].size() == 2 * sizeof frame.bytes;
        for (std::size_t i = 0; ok && i < sizeof frame.bytes; ++i) {
            char* end = nullptr;
            const std::string pair = row[3].substr(2 * i, 2);
            frame.bytes[i] = static_cast<std::uint8_t>(std::strtoul(pair.c_str(), &end, 16));
            ok = end == pair.c_str() + 2;
        }
        if (!ok) {
            error = lineError(number, "not a frame row (index,received_us,crc_ok,72 hex digits)");
            return false;
        }
        frame.crcOk = crc == 1;
        out.push_back(frame);
    }
    if (number == 0) {
        error = path + ": empty";
        return false;
    }
    return true;
}

std::string frameLogPath(const std::string& recordingPath) {
    const std::string suffix = ".csv";
    std::string base = recordingPath;
    if (base.size() >= suffix.size() && base.compare(base.size() - suffix.size(), suffix.size(), suffix) == 0)
        base.resize(base.size() - suffix.size());
    return base + ".frames.csv";
}

}  // namespace rez::sim
