// Arbitrary bytes as one DiRT Rally 2 datagram: the decoder must read only inside it
// (libFuzzer's input is an exact-size heap copy, so ASan reports one byte
// past the end), and must neither crash nor hang.
#include <cstddef>
#include <cstdint>

#include "sources/gravity.h"
#include "sources/udp/udp_decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rez::GameDataRecord record;
    if (rez::decodeDirtRally2(data, size, record)) rez::applyGravityParts(record, rez::AccelMode::Add, rez::kPiShort, -1.0);
    return 0;
}
