#include "sim/emulated_controller.h"

#include <algorithm>

#include "controller/crc16.h"
#include "controller/serial_ports.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "sim/fake_sysfs.h"
#include "sim/pty_pair.h"
#include "sim/usb_serial_adapter.h"

namespace rez::sim {

namespace {

// The USB adapter the controller presents (a CH340).
constexpr const char* kVendor = "1A86";
constexpr const char* kProduct = "7523";
constexpr const char* kRevision = "0264";

std::vector<std::uint8_t> identityReply(EmulatedController::Identity identity) {
    using Identity = EmulatedController::Identity;
    switch (identity) {
        case Identity::Value1Marker: return {0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x0A, 0x0D};
        case Identity::Value1Checksum: return {0xF9, 0xF9, 0x01, 0x00, 0x01, 0x00, 0x88, 0x11};
        case Identity::Value2Marker: return {0xF9, 0xF9, 0x01, 0x00, 0x02, 0x00, 0x0A, 0x0D};
        case Identity::Value2Checksum: return {0xF9, 0xF9, 0x01, 0x00, 0x02, 0x00, 0x88, 0xE1};
        case Identity::Unknown: return {0xF9, 0xF9, 0x01, 0x00, 0x03, 0x00, 0x0A, 0x0D};
        case Identity::Silent: break;
    }
    return {};
}

EmulatedController::Trailer trailerOf(const std::uint8_t* frame, std::size_t length) {
    const std::uint8_t low = frame[length - 2];
    const std::uint8_t high = frame[length - 1];
    const std::uint16_t crc = crc16(frame, length - 2);
    if (low == (crc & 0xFF) && high == (crc >> 8)) return EmulatedController::Trailer::Checksum;
    if (low == 0x0A && high == 0x0D) return EmulatedController::Trailer::Marker;
    return EmulatedController::Trailer::Bad;
}

}  // namespace

EmulatedController::EmulatedController() = default;

EmulatedController::~EmulatedController() {
    closeLine();
    if (moved_) {
        std::string why;
        PtyPair line;
        if (line.open(why)) placeLine(line, false, why);
    }
}

std::size_t EmulatedController::frameLength(std::uint8_t lead) {
    switch (lead) {
        case 0xF9: return 8;
        case 0xF8: return 38;
        case 0xFA: return 465;
        case 0xFB: return 78;
        case 0xFC: return 36;
        default: return 0;
    }
}

std::vector<std::uint8_t> EmulatedController::makeFrame(std::uint8_t lead, std::size_t length, Trailer trailer,
                                                        std::uint8_t fill) {
    std::vector<std::uint8_t> frame(std::max<std::size_t>(length, 4), fill);
    frame[0] = frame[1] = lead;
    const std::size_t end = frame.size() - 2;
    const std::uint16_t crc = crc16(frame.data(), end);
    switch (trailer) {
        case Trailer::Checksum:
            frame[end] = static_cast<std::uint8_t>(crc & 0xFF);
            frame[end + 1] = static_cast<std::uint8_t>(crc >> 8);
            break;
        case Trailer::Marker:
            frame[end] = 0x0A;
            frame[end + 1] = 0x0D;
            break;
        case Trailer::Bad:
            frame[end] = static_cast<std::uint8_t>((crc & 0xFF) ^ 0x5A);
            frame[end + 1] = static_cast<std::uint8_t>((crc >> 8) ^ 0xA5);
            if (frame[end] == 0x0A && frame[end + 1] == 0x0D) frame[end] = 0x0B;
            break;
    }
    return frame;
}

bool EmulatedController::open(std::string& whyNot) {
    closeLine();
    if (FakeSysfs::supported() && !sysfs_) sysfs_ = std::make_unique<FakeSysfs>();
    return openLine(whyNot, false);
}

bool EmulatedController::placeLine(PtyPair& line, bool anew, std::string& whyNot) {
    if (line.inProcess() || (!anew && !moved_)) return true;
    // Under Wine the COM pair stays; the device at its near end comes and
    // goes between the pair's own name and a spare the script registered.
    const std::string home = line.portName();
    const std::string spare = platform::environmentVariable("REZ_TEST_SERIAL_SPARE").value_or("");
    if (spare.empty()) {
        whyNot = "REZ_TEST_SERIAL_SPARE is not set (scripts/wine-serial-test.sh names the spare COM port there)";
        return false;
    }
    const std::string name = anew && portName() != spare ? spare : home;
    const std::string usbId = std::string("VID_") + kVendor + "&PID_" + kProduct;
    if (!removeUsbSerialAdapter(portName(), whyNot) || !line.plugIn(name, whyNot) ||
        !addUsbSerialAdapter(name, usbId, whyNot))
        return false;
    moved_ = name != home;
    return true;
}

bool EmulatedController::openLine(std::string& whyNot, bool anew) {
    auto line = std::make_unique<PtyPair>();
    if (!line->open(whyNot) || !placeLine(*line, anew, whyNot)) return false;
    // The library's own check has the last word: in-process once the fake
    // sysfs entry is made, under Wine on what the prefix's device list holds.
    const bool given = !line->inProcess() ||
                       (sysfs_ && sysfs_->addUsbPort(line->portName(), kVendor, kProduct, kRevision, "USB-SERIAL CH340"));
    usbIdentity_ = given && checkUsbId(line->portName());
    {
        std::lock_guard<std::mutex> lock(mutex_);
        portName_ = line->portName();
        pending_.clear();
    }
    {
        std::lock_guard<std::mutex> lock(lineMutex_);
        line_ = std::move(line);
    }
    listening_ = true;
    listener_ = std::thread([this] { listen(); });
    return true;
}

std::string EmulatedController::portName() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return portName_;
}

bool EmulatedController::send(const std::vector<std::uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(lineMutex_);
    return line_ && line_->write(bytes);
}

void EmulatedController::stopListening() {
    listening_ = false;
    if (listener_.joinable()) listener_.join();
}

void EmulatedController::closeLine() {
    stopListening();
    std::lock_guard<std::mutex> lock(lineMutex_);
    line_.reset();  // in-process: closes the far end and removes the port's name
}

bool EmulatedController::vanish(std::string& whyNot) {
    stopListening();
    std::lock_guard<std::mutex> lock(lineMutex_);
    if (!line_) return true;
    const bool underWine = !line_->inProcess();
    bool gone = line_->pullOut(whyNot);
    if (underWine) {
        // The adapter leaves the device list with its port.
        moved_ = true;
        gone = removeUsbSerialAdapter(line_->portName(), whyNot) && gone;
    }
    line_.reset();
    return gone;
}

bool EmulatedController::comeBack(std::string& whyNot) {
    return vanish(whyNot) && openLine(whyNot, true);
}

void EmulatedController::listen() {
    std::uint8_t buffer[512];
    while (listening_.load()) {
        const int n = line_->read(buffer, sizeof buffer, 20);
        if (n < 0) {
            platform::sleepMs(5);
            continue;
        }
        if (n > 0) take(buffer, n, platform::counterNow());
    }
}

void EmulatedController::take(const std::uint8_t* bytes, int count, std::int64_t arrival) {
    std::vector<std::uint8_t> reply;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.insert(pending_.end(), bytes, bytes + count);
        std::size_t at = 0;
        for (;;) {
            if (pending_.size() - at < 2) break;
            const std::uint8_t lead = pending_[at];
            const std::size_t length = frameLength(lead);
            if (length == 0 || pending_[at + 1] != lead) {
                ++counts_.skippedBytes;
                ++at;
                continue;
            }
            if (pending_.size() - at < length) break;
            const std::uint8_t* frame = pending_.data() + at;
            const Trailer trailer = trailerOf(frame, length);
            if (trailer == Trailer::Bad) {
                ++counts_.badChecksums;
            } else {
                ++counts_.frames;
                const double limitTicks = gapLimitMs_.load() * static_cast<double>(platform::counterFrequency()) / 1000.0;
                if (lastFrameArrival_ != 0 && static_cast<double>(arrival - lastFrameArrival_) > limitTicks) ++counts_.gaps;
                lastFrameArrival_ = arrival;
                if (lead == 0xF9 && frame[2] == 0x01 && frame[3] == 0 && frame[4] == 0 && frame[5] == 0) {
                    ++counts_.identityRequests;
                    const auto answer = identityReply(identity_.load());
                    reply.insert(reply.end(), answer.begin(), answer.end());
                } else if (lead == 0xF9 && frame[2] == 0x02) {
                    ++counts_.versionRequests;
                    if (const int version = version_.load(); version > 0) {
                        const auto minor = static_cast<std::uint8_t>(version % 100);
                        const auto major = static_cast<std::uint8_t>(version / 100);
                        auto answer = makeFrame(0xF9, 8, Trailer::Checksum);
                        answer[2] = 0x02;
                        answer[3] = 0x00;
                        answer[4] = minor;
                        answer[5] = major;
                        const std::uint16_t crc = crc16(answer.data(), 6);
                        answer[6] = static_cast<std::uint8_t>(crc & 0xFF);
                        answer[7] = static_cast<std::uint8_t>(crc >> 8);
                        reply.insert(reply.end(), answer.begin(), answer.end());
                    }
                }
            }
            frames_.push_back(Frame{std::vector<std::uint8_t>(frame, frame + length), trailer, arrival});
            at += length;
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
    }
    // Written outside the lock on the frames: a write that waits for room on
    // the line must not hold up anyone asking for counts.
    if (!reply.empty()) send(reply);
}

EmulatedController::Counts EmulatedController::counts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_;
}

std::vector<EmulatedController::Frame> EmulatedController::frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
}

std::vector<EmulatedController::Frame> EmulatedController::framesWithLead(std::uint8_t lead) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Frame> out;
    for (const Frame& f : frames_)
        if (f.bytes[0] == lead) out.push_back(f);
    return out;
}

void EmulatedController::reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.clear();
    counts_ = Counts{};
    lastFrameArrival_ = 0;
}

bool EmulatedController::waitUntil(const std::function<bool()>& condition, int ms) {
    const std::int64_t deadline = platform::counterNow() + platform::counterFrequency() * ms / 1000;
    while (platform::counterNow() < deadline) {
        if (condition()) return true;
        platform::sleepMs(1);
    }
    return condition();
}

}  // namespace rez::sim
