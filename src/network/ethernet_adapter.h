#pragma once
// The wired adapter the controller's multicast goes out from: the active
// Ethernet adapter with the strictly lowest IPv4 metric below 2147483647 (the
// first listed wins a tie), given as its first IPv4 address in dotted text.
// Empty when none qualifies, the chosen one has no IPv4 address, or the list
// cannot be read. Every step is logged to `log`.
#include <cstdint>
#include <string>

#include "log/error_log.h"

namespace rez {

std::string GetPreferredEthernetAdapter(ErrorLog& log);

// The same choice, with the address's on-link subnet, for code that must
// tell the controller's network from the rest.
struct WiredAdapter {
    std::string text;            // dotted IPv4; empty when none was chosen
    std::uint32_t address = 0;   // host byte order
    int prefixLength = 32;       // the subnet's bits; the system's, else the address alone

    bool found() const { return !text.empty(); }
    bool onSubnet(std::uint32_t peer) const;
};
WiredAdapter choosePreferredEthernetAdapter(ErrorLog& log);

}  // namespace rez
