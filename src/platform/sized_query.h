#pragma once
// Windows hands out variable-sized records through calls that say how much
// room they need when given too little. What they need can change between
// two calls (an adapter appears, a driver keeps data of its own beyond the
// documented record), so the room is grown to the size asked for and the call
// repeated, a few times, instead of trusting the first answer. Free of system
// headers, so both systems' tests run it.
#include <cstdint>
#include <memory>
#include <new>

namespace rez::platform {

enum class SizedAnswer { done, tooSmall, failed };
enum class SizedOutcome { done, noMemory, failed, stillTooSmall };

struct SizedBuffer {
    std::unique_ptr<unsigned char[]> bytes;  // new[] gives the alignment system records need
    std::uint32_t size = 0;
};

// Calls query(bytes, size) with room for `size` bytes. On tooSmall the query
// sets size to what it needs; the room grows to that and the call is made
// again, up to `attempts` calls in all. A query that asks for no more than it
// had still gets more room, so a confused driver cannot pin it in place.
template <class Query>
SizedOutcome fillSized(SizedBuffer& buffer, std::uint32_t size, int attempts, Query&& query) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (size > buffer.size || !buffer.bytes) {
            buffer.bytes.reset(new (std::nothrow) unsigned char[size > 0 ? size : 1]);
            buffer.size = buffer.bytes ? size : 0;
            if (!buffer.bytes) return SizedOutcome::noMemory;
        }
        std::uint32_t asked = buffer.size;
        switch (query(buffer.bytes.get(), asked)) {
            case SizedAnswer::done: return SizedOutcome::done;
            case SizedAnswer::failed: return SizedOutcome::failed;
            case SizedAnswer::tooSmall: size = asked > buffer.size ? asked : buffer.size * 2 + 1; break;
        }
    }
    return SizedOutcome::stillTooSmall;
}

}  // namespace rez::platform
