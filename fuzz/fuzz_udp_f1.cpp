// Arbitrary bytes as one F1 23 / F1 24 datagram: the decoder must read only inside it
// (libFuzzer's input is an exact-size heap copy, so ASan reports one byte
// past the end), and must neither crash nor hang.
#include <cstddef>
#include <cstdint>

#include "sources/gravity.h"
#include "sources/udp/udp_decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rez::GameDataRecord record;
    if (rez::decodeF1(data, size, record)) rez::applyGravityParts(record, rez::AccelMode::Subtract);
    return 0;
}
