#include "sources/udp/udp_game_reader.h"

#include "core/relaxed.h"
#include "platform/clock.h"
#include "sources/game_table.h"

namespace rez {

bool UdpGameReader::attach() {
    if (open_) close();
    open_ = udp_.openPort(port != 0 ? port : setup_.port) == 1;
    return open_;
}

void UdpGameReader::close() {
    // closePort also ends the network start-up that a successful open began.
    if (!open_) return;
    udp_.closePort();
    open_ = false;
}

bool UdpGameReader::read(GameDataRecord& record) {
    if (!open_) return false;
    if (setup_.stampEveryCall) relaxedStore(record.timeFrame, clock.stamp());
    return setup_.perRead == DatagramsPerRead::One ? readOne(record) : readQueued(record);
}

bool UdpGameReader::readOne(GameDataRecord& record) {
    const int received = udp_.receiveIntoArea();
    if (received <= 0) return false;
    const auto length = static_cast<std::size_t>(received);
    const std::uint8_t* bytes = udp_.receiveArea.data();
    if (length <= setup_.tooShort || !usable(bytes, length)) return false;
    // Before decoding: a reader that derives rates uses this interval.
    relaxedStore(record.timeFrame, clock.stamp());
    if (!decode(bytes, length, record)) return false;
    finish(record);
    return true;
}

bool UdpGameReader::readQueued(GameDataRecord& record) {
    int received = udp_.receiveIntoArea();
    if (received <= 0 || static_cast<std::size_t>(received) <= setup_.tooShort) return false;
    beginRead();
    const std::int64_t start = platform::counterNow();
    const std::int64_t budget = platform::counterFrequency() * kReadBudgetUs / 1'000'000;
    for (int taken = 1;; ++taken) {
        const auto length = static_cast<std::size_t>(received);
        if (setup_.perRead == DatagramsPerRead::WhileLong && length < kLfsLength) break;
        decode(udp_.receiveArea.data(), length, record);
        if (taken >= kMostDatagramsPerRead) break;
        if (taken >= kSurelyTakenPerRead && platform::counterNow() - start >= budget) break;
        received = udp_.receiveIntoArea();
        if (received <= 0) break;
    }
    // A sample even when nothing in this read could be decoded: the game is
    // still sending.
    finish(record);
    return true;
}

void UdpGameReader::finish(GameDataRecord& record) {
    groundState.store(sampleGroundState(), std::memory_order_relaxed);
    applyGravityParts(record, setup_.mode, kPiShort, setup_.longitudinalSign);
}

namespace {

class XplaneReader : public UdpGameReader {
public:
    using UdpGameReader::UdpGameReader;

protected:
    bool decode(const std::uint8_t* b, std::size_t n, GameDataRecord& r) override { return decodeXplane(b, n, r, ground_); }
    int sampleGroundState() const override { return ground_; }

private:
    int ground_ = 0;
};

class DirtRally2Reader : public UdpGameReader {
public:
    using UdpGameReader::UdpGameReader;

protected:
    bool usable(const std::uint8_t*, std::size_t n) override { return n == kDirtRally2Length; }
    bool decode(const std::uint8_t* b, std::size_t n, GameDataRecord& r) override { return decodeDirtRally2(b, n, r); }
};

class Condor2Reader : public UdpGameReader {
public:
    using UdpGameReader::UdpGameReader;

protected:
    bool decode(const std::uint8_t* b, std::size_t n, GameDataRecord& r) override { return decodeCondor2(b, n, r, keys_); }

private:
    Condor2Keys keys_;  // kept across a close: the game may come back
};

class WrcReader : public UdpGameReader {
public:
    using UdpGameReader::UdpGameReader;

protected:
    bool usable(const std::uint8_t* b, std::size_t n) override { return wrcDatagramUsable(b, n); }
    bool decode(const std::uint8_t* b, std::size_t n, GameDataRecord& r) override { return decodeWrc(b, n, r, previous_); }

private:
    WrcPrevious previous_;
};

class BeamNgReader : public UdpGameReader {
public:
    using UdpGameReader::UdpGameReader;

protected:
    void beginRead() override { draining_ = false; }
    // After a datagram that is not the game's, the rest of the read is
    // drained unused.
    bool decode(const std::uint8_t* b, std::size_t n, GameDataRecord& r) override {
        if (draining_) return false;
        if (!hasBeamNgLead(b, n)) {
            draining_ = true;
            return false;
        }
        return decodeBeamNg(b, n, r);
    }

private:
    bool draining_ = false;
};

// A reader whose decoder needs no state of its own.
template <bool (*Decoder)(const std::uint8_t*, std::size_t, GameDataRecord&)>
class PlainReader : public UdpGameReader {
public:
    using UdpGameReader::UdpGameReader;

protected:
    bool decode(const std::uint8_t* b, std::size_t n, GameDataRecord& r) override { return Decoder(b, n, r); }
};

}  // namespace

std::unique_ptr<UdpGameReader> makeUdpGameReader(int id, std::function<bool()> detectTest) {
    UdpGameSetup s;
    s.detectTest = std::move(detectTest);
    switch (id) {
        case kXplane:
            s.port = 4321;
            s.tooShort = kShortTextDatagram;
            s.mode = AccelMode::Subtract;
            return std::make_unique<XplaneReader>(s);
        case kDcs:
            s.port = 4124;
            s.mode = AccelMode::Subtract;
            return std::make_unique<PlainReader<decodeDcs>>(s);
        case kDirtRally2:
            s.port = 20778;
            s.longitudinalSign = -1.0;  // the game's pitch runs the other way
            return std::make_unique<DirtRally2Reader>(s);
        case kCondor2:
            s.port = 55278;
            s.tooShort = kShortTextDatagram;
            return std::make_unique<Condor2Reader>(s);
        case kF1:
            s.port = 20777;
            s.perRead = DatagramsPerRead::AllQueued;
            s.stampEveryCall = true;
            s.mode = AccelMode::Subtract;
            return std::make_unique<PlainReader<decodeF1>>(s);
        case kWrc23:
            s.port = 20788;
            return std::make_unique<WrcReader>(s);
        case kBeamNg:
            s.port = 4444;
            s.perRead = DatagramsPerRead::AllQueued;
            s.stampEveryCall = true;
            s.mode = AccelMode::Subtract;
            return std::make_unique<BeamNgReader>(s);
        case kLfs:
            s.port = 4123;
            s.perRead = DatagramsPerRead::WhileLong;
            s.stampEveryCall = true;
            return std::make_unique<PlainReader<decodeLfs>>(s);
        default: return nullptr;
    }
}

}  // namespace rez
