// Arbitrary bytes as an iRacing telemetry block: whatever the header claims
// about buffers, rows and variables, the sampler must stay inside the block
// (ASan watches the exact-size copy) and leave only finite or copied values.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "sources/shm/iracing_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size heap copy, so one byte past the end is a reported overflow.
    std::unique_ptr<unsigned char[]> block(new unsigned char[size == 0 ? 1 : size]);
    if (size != 0) std::memcpy(block.get(), data, size);
    rez::IRacingSampler sampler;
    rez::GameDataRecord record;
    const rez::ViewBytes view(block.get(), size);
    // Twice, the second time with the first buffer's tick moved on, so both
    // the first sight of a block and a following row are explored.
    sampler.sample(view, record);
    if (size > 48) ++block[48];
    sampler.sample(view, record);
    for (double v : record.slots)
        if (!std::isfinite(v)) __builtin_trap();
    return 0;
}
