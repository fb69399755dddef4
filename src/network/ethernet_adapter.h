#pragma once
// The wired adapter the controller's multicast goes out from: the active
// Ethernet adapter with the strictly lowest IPv4 metric below 2147483647 (the
// first listed wins a tie), given as its first IPv4 address in dotted text.
// Empty when none qualifies, the chosen one has no IPv4 address, or the list
// cannot be read. Every step is logged to `log`.
#include <string>

#include "log/error_log.h"

namespace rez {

std::string GetPreferredEthernetAdapter(ErrorLog& log);

}  // namespace rez
