// Arbitrary bytes as one F1 23 / F1 24 datagram: the decoder must read only inside it
// (libFuzzer's input is an exact-size heap copy, so ASan reports one byte
// past the end), must neither crash nor hang, and must store no NaN or
// infinity.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "sources/gravity.h"
#include "sources/udp/udp_decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rez::GameDataRecord record;
    const bool decoded = rez::decodeF1(data, size, record);
    // A decoder never stores a value that is no finite number: the record
    // started finite, so any such slot is the decoder's doing.
    for (double v : record.slots)
        if (!std::isfinite(v)) __builtin_trap();
    if (decoded) rez::applyGravityParts(record, rez::AccelMode::Subtract);
    return 0;
}
