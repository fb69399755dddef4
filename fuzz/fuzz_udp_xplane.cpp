// Arbitrary bytes as one X-Plane datagram: the decoder must read only inside it
// (libFuzzer's input is an exact-size heap copy, so ASan reports one byte
// past the end), and must neither crash nor hang.
#include <cstddef>
#include <cstdint>

#include "sources/gravity.h"
#include "sources/udp/udp_decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static int groundState = 0;
    rez::GameDataRecord record;
    if (rez::decodeXplane(data, size, record, groundState)) rez::applyGravityParts(record, rez::AccelMode::Subtract);
    return 0;
}
