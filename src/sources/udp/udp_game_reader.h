#pragma once
// Readers of the games that send their telemetry as UDP datagrams to a local
// port. A reader owns one port, opened on attach and closed on close; a read
// never waits: it takes what is queued and reports no sample when nothing is.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "network/udp_port.h"
#include "sources/game_reader.h"
#include "sources/gravity.h"
#include "sources/udp/udp_decoders.h"

namespace rez {

// How many datagrams one read takes.
enum class DatagramsPerRead {
    One,        // the oldest queued one
    AllQueued,  // every queued one, in arrival order
    WhileLong,  // the next ones while they are at least kLfsLength bytes long
};

// A flood of datagrams must not hold the tick: the queue-draining reads take
// at most kMostDatagramsPerRead datagrams, and past the first
// kSurelyTakenPerRead they stop once the read has spent kReadBudgetUs (a
// receive costs far more under Wine than on Windows or Linux). What is left
// waits for the next tick, and beyond that the system's receive buffer drops
// the surplus. Games send a few datagrams per tick at most (F1 two packet
// kinds), and those are always all taken.
inline constexpr int kMostDatagramsPerRead = 32;
inline constexpr int kSurelyTakenPerRead = 8;
inline constexpr int kReadBudgetUs = 500;

struct UdpGameSetup {
    std::uint16_t port = 0;
    DatagramsPerRead perRead = DatagramsPerRead::One;
    // Stamp the clock on every call, before receiving, rather than after a
    // datagram that gave a sample.
    bool stampEveryCall = false;
    // One datagram per read: stamp before decoding, for a decoder that
    // derives rates from the interval (it then checks `usable` first).
    bool stampBeforeDecode = false;
    std::size_t tooShort = kShortDatagram;  // a first datagram this long or shorter is no sample
    AccelMode mode = AccelMode::Add;
    double longitudinalSign = 1.0;
    std::function<bool()> detectTest;
};

class UdpGameReader : public GameReader {
public:
    explicit UdpGameReader(UdpGameSetup setup) : setup_(std::move(setup)) {}

    bool detect() override { return setup_.detectTest && setup_.detectTest(); }
    bool attach() override;
    bool read(GameDataRecord& record) override;
    void close() override;

    // The port attach opens: the game's own, or another one for tools and
    // benchmarks.
    std::uint16_t port = 0;

protected:
    // Whether a datagram can give a sample at all (One per read only): one
    // that cannot neither stamps the clock nor counts as a sample.
    virtual bool usable(const std::uint8_t*, std::size_t) { return true; }
    // Decodes one datagram into the record; false when it was not used (and
    // then it stored nothing).
    virtual bool decode(const std::uint8_t* bytes, std::size_t length, GameDataRecord& record) = 0;
    // Called on attach and close: what a decoder kept from the previous
    // sample does not carry over to the next connection.
    virtual void forgetPrevious() {}
    // The ground state after a sample; only flight sources know one.
    virtual int sampleGroundState() const { return 0; }

private:
    bool readOne(GameDataRecord& record);
    bool readQueued(GameDataRecord& record);
    void finish(GameDataRecord& record);

    UdpGameSetup setup_;
    UdpPort udp_;
    bool open_ = false;
};

// The reader of a UDP game id with its detection test, or nullptr for other
// games.
std::unique_ptr<UdpGameReader> makeUdpGameReader(int id, std::function<bool()> detectTest);

}  // namespace rez
