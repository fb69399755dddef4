#include "sources/udp/udp_game_reader.h"

#include "core/relaxed.h"
#include "platform/clock.h"
#include "sources/game_table.h"

namespace rez {

bool UdpGameReader::attach() {
    if (open_) close();
    forgetPrevious();
    open_ = udp_.openPort(port != 0 ? port : setup_.port) == 1;
    return open_;
}

void UdpGameReader::close() {
    forgetPrevious();
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
    // A reader that derives rates uses the interval while decoding, so it
    // refuses what it cannot use beforehand (usable); the others stamp only
    // after a datagram gave a sample.
    if (setup_.stampBeforeDecode) relaxedStore(record.timeFrame, clock.stamp());
    if (!decode(bytes, length, record)) return false;
    if (!setup_.stampBeforeDecode) relaxedStore(record.timeFrame, clock.stamp());
    finish(record);
    return true;
}

bool UdpGameReader::readQueued(GameDataRecord& record) {
    int received = udp_.receiveIntoArea();
    if (received <= 0 || static_cast<std::size_t>(received) <= setup_.tooShort) return false;
    const std::int64_t start = platform::counterNow();
    const std::int64_t budget = platform::counterFrequency() * kReadBudgetUs / 1'000'000;
    bool decoded = false;
    for (int taken = 1;; ++taken) {
        const auto length = static_cast<std::size_t>(received);
        if (setup_.perRead == DatagramsPerRead::WhileLong && length < kLfsLength) break;
        decoded = decode(udp_.receiveArea.data(), length, record) || decoded;
        if (taken >= kMostDatagramsPerRead) break;
        if (taken >= kSurelyTakenPerRead && platform::counterNow() - start >= budget) break;
        received = udp_.receiveIntoArea();
        if (received <= 0) break;
    }
    // Only a decoded datagram is a sample. Datagrams that never decode (LFS
    // sending other OutSim options, OutGauge on BeamNG's port) are no game
    // telemetry, and the miss rule must be free to drop the game.
    if (!decoded) return false;
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
    // Angles from before a close, or the zeros of a fresh reader, would turn
    // the first sample's rates into a spike.
    void forgetPrevious() override { previous_.valid = false; }

private:
    WrcPrevious previous_;
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
            s.stampBeforeDecode = true;
            return std::make_unique<WrcReader>(s);
        case kBeamNg:
            s.port = 4444;
            s.perRead = DatagramsPerRead::AllQueued;
            s.stampEveryCall = true;
            s.mode = AccelMode::Subtract;
            return std::make_unique<PlainReader<decodeBeamNg>>(s);
        case kLfs:
            s.port = 4123;
            s.perRead = DatagramsPerRead::WhileLong;
            s.stampEveryCall = true;
            return std::make_unique<PlainReader<decodeLfs>>(s);
        default: return nullptr;
    }
}

}  // namespace rez
