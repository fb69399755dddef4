// Arbitrary text as the user's "SimConnect.cfg" files: the first byte picks
// the section index and where the text is cut into two files (a later one
// overrides an earlier one key by key). Reading must neither crash nor hang,
// and give a receive size no smaller than the smallest the client accepts.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sources/simconnect/simconnect_config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const unsigned index = data[0] & 3;
    const std::size_t cut = size > 1 ? (data[0] >> 2) * (size - 1) / 63 : 0;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const std::vector<std::string> files{std::string(text, cut), std::string(text + cut, size - 1 - cut)};
    const rez::SimConnectConfig config =
        rez::parseSimConnectConfig(files, index, [](rez::platform::IpFamily) { return std::string("500"); });
    if (config.maxReceiveSize < rez::kSmallestMaxReceiveSize) __builtin_trap();
    return 0;
}
