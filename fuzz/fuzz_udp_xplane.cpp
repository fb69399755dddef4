// Arbitrary bytes as one X-Plane datagram: the decoder must read only inside it
// (libFuzzer's input is an exact-size heap copy, so ASan reports one byte
// past the end), must neither crash nor hang, and must store no NaN or
// infinity.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "sources/gravity.h"
#include "sources/udp/udp_decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static int groundState = 0;
    rez::GameDataRecord record;
    const bool decoded = rez::decodeXplane(data, size, record, groundState);
    // A decoder never stores a value that is no finite number: the record
    // started finite, so any such slot is the decoder's doing.
    for (double v : record.slots)
        if (!std::isfinite(v)) __builtin_trap();
    if (decoded) rez::applyGravityParts(record, rez::AccelMode::Subtract);
    return 0;
}
