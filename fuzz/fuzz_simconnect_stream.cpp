// The SimConnect receive path: an arbitrary byte stream, cut into arbitrary
// pieces, through the client's message cutting and the reader's decoding.
// Whatever the stream holds, every value stored in the record (and the
// gravity parts the reader derives from it) must be a finite number.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "core/bytes.h"
#include "sources/gravity.h"
#include "sources/simconnect/client_connection.h"
#include "sources/simconnect/flight_sim_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace rez;
    if (size < 4) return 0;
    // The first bytes choose the accepted size and the piece lengths.
    ClientClient client;
    client.maxReceiveSize = kSmallestMaxReceiveSize + (static_cast<std::uint32_t>(data[0]) << 12);
    const std::uint8_t pieceSeed = data[1];
    client.reset();
    GameDataRecord record;
    std::size_t at = 2;
    std::size_t round = 0;
    while (at < size) {
        std::size_t piece = 1 + ((pieceSeed ^ (round * 37)) % 97) * ((round % 3) + 1);
        piece = std::min({piece, size - at, client.receiveRoomSize()});
        std::copy_n(data + at, piece, client.receiveRoom());
        at += piece;
        ++round;
        if (!client.receivedInto(piece)) break;
        if (client.receiveBufferSize() > kLargestReceiveBuffer + kReceiveStep) __builtin_trap();
        const std::uint8_t* m = nullptr;
        std::uint32_t n = 0;
        while (client.getNextDispatch(&m, &n) == kSimConnectOk) {
            if (n < kServerHeaderSize || load_le<std::uint32_t>(m) != n) __builtin_trap();
            FlightSimSample sample;
            int ground = 0;
            if (!decodeFlightSimData(m, n, sample) || !storeFlightSimSample(sample, record, ground)) continue;
            applyGravityParts(record, AccelMode::Add);
            for (double v : record.slots)
                if (!std::isfinite(v)) __builtin_trap();
        }
    }
    return 0;
}
