// Arbitrary bytes as one Condor 2 datagram: the decoder must read only inside it
// (libFuzzer's input is an exact-size heap copy, so ASan reports one byte
// past the end), and must neither crash nor hang.
#include <cstddef>
#include <cstdint>

#include "sources/gravity.h"
#include "sources/udp/udp_decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Keys are remembered across datagrams, as in the reader.
    static rez::Condor2Keys keys;
    rez::GameDataRecord record;
    if (rez::decodeCondor2(data, size, record, keys)) rez::applyGravityParts(record, rez::AccelMode::Add);
    return 0;
}
