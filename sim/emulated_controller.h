#pragma once
// A motion controller at the far end of a serial line (sim/pty_pair.h),
// for tests, benchmarks and host tools.
//
// It reads everything the library writes, cuts it into frames by their lead
// byte, checks each frame's trailer (the CRC-16 of the bytes before it, low
// byte first, or the end marker 0x0A 0x0D), and keeps every frame with the
// time its last byte arrived. It answers the identity request with the reply
// it is told to give, sends whatever frames it is given, and can vanish (its
// end of the line closes, as when a USB adapter is pulled) and come back on a
// new line.
//
// Linux: the line is a pseudo-terminal, and the controller gives it the USB
// identity of a CH340 adapter through a fake sysfs tree (sim/fake_sysfs.h),
// so the library's port scan and USB test accept it. Only one controller at a
// time may give identities that way. Windows (under Wine): the line is the
// COM pair that scripts/wine-serial-test.sh sets up, and the identity is the
// CH340 adapter the script registers for the near port in the prefix's
// device list. To vanish, the controller has the script's null_modem helper
// close the near port and removes the adapter; it comes back on the spare
// port the script named, with the adapter registered there. A controller that
// moved the line puts it back as the script left it when it is destroyed.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace rez::sim {

class PtyPair;
class FakeSysfs;

class EmulatedController {
public:
    // What the controller answers to the identity request F9 F9 01 00 00 00.
    enum class Identity {
        Value1Marker,    // F9 F9 01 00 01 00 0A 0D
        Value1Checksum,  // F9 F9 01 00 01 00 88 11
        Value2Marker,    // F9 F9 01 00 02 00 0A 0D
        Value2Checksum,  // F9 F9 01 00 02 00 88 E1
        Unknown,         // F9 F9 01 00 03 00 0A 0D, which no host accepts
        Silent,          // no answer at all
    };

    enum class Trailer { Checksum, Marker, Bad };

    struct Frame {
        std::vector<std::uint8_t> bytes;  // as received, trailer included
        Trailer trailer;
        std::int64_t arrival;  // platform counter value when its last byte was read
    };

    struct Counts {
        std::uint64_t frames = 0;        // with a valid trailer
        std::uint64_t badChecksums = 0;  // frames whose trailer was neither checksum nor marker
        std::uint64_t skippedBytes = 0;  // bytes that began no frame
        std::uint64_t gaps = 0;          // pauses between two frames longer than the gap limit
        std::uint64_t identityRequests = 0;
        std::uint64_t versionRequests = 0;
    };

    EmulatedController();
    ~EmulatedController();
    EmulatedController(const EmulatedController&) = delete;
    EmulatedController& operator=(const EmulatedController&) = delete;

    // Makes the line (and, where it can, the USB identity) and starts listening.
    bool open(std::string& whyNot);
    // The name the library opens, e.g. "COM7"; it changes when the controller comes back.
    std::string portName() const;
    // Whether the line has a USB identity the library accepts.
    bool hasUsbIdentity() const { return usbIdentity_; }

    void setIdentity(Identity identity) { identity_ = identity; }
    // The version it reports to a command 2 request (F9 F9 02 ..), as
    // major * 100 + minor; 0 leaves such requests unanswered (the default).
    void setVersion(int version) { version_ = version; }
    // A pause between two frames longer than this counts as a gap (default 4 ms, two passes).
    void setGapLimitMs(double ms) { gapLimitMs_ = ms; }

    // Sends bytes to the library as they are.
    bool send(const std::vector<std::uint8_t>& bytes);
    // A frame of `length` bytes: the lead byte twice, `fill`, then the trailer.
    static std::vector<std::uint8_t> makeFrame(std::uint8_t lead, std::size_t length, Trailer trailer,
                                               std::uint8_t fill = 0x11);
    // Length of a frame with this lead byte (F9, F8, FA, FB and the cue frame
    // FC), 0 for any other byte.
    static std::size_t frameLength(std::uint8_t lead);

    // The controller is unplugged: the library's next use of its handle on
    // the line fails, and the port leaves the system's lists.
    bool vanish(std::string& whyNot);
    // A new line under a new COM name, with the same identity.
    bool comeBack(std::string& whyNot);

    Counts counts() const;
    std::vector<Frame> frames() const;
    // Frames that start with these lead bytes.
    std::vector<Frame> framesWithLead(std::uint8_t lead) const;
    // Forgets the frames and counts so far.
    void reset();

    // Polls `condition` every millisecond until it holds or `ms` have passed.
    static bool waitUntil(const std::function<bool()>& condition, int ms);

private:
    bool openLine(std::string& whyNot, bool anew);
    bool placeLine(PtyPair& line, bool anew, std::string& whyNot);
    void closeLine();
    void listen();
    void take(const std::uint8_t* bytes, int count, std::int64_t arrival);
    void stopListening();

    std::mutex lineMutex_;  // writes to the line, and the line's replacement
    std::unique_ptr<PtyPair> line_;
    std::unique_ptr<FakeSysfs> sysfs_;
    bool usbIdentity_ = false;
    bool moved_ = false;  // under Wine: the line is not as the script set it up
    std::atomic<Identity> identity_{Identity::Value1Marker};
    std::atomic<double> gapLimitMs_{4.0};
    std::atomic<int> version_{0};

    std::thread listener_;
    std::atomic<bool> listening_{false};

    mutable std::mutex mutex_;
    std::string portName_;
    std::vector<std::uint8_t> pending_;  // bytes not yet cut into frames (listener only)
    std::vector<Frame> frames_;
    Counts counts_;
    std::int64_t lastFrameArrival_ = 0;
};

}  // namespace rez::sim
