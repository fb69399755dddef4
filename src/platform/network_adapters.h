#pragma once
// The machine's network adapters, as the choice of the wired adapter for the
// controller's multicast needs them.
//
// Windows: GetAdaptersAddresses for IPv4, with the adapter's friendly name,
// operational status, interface type, IPv4 interface metric and unicast
// addresses. The list is asked for again, a few times, while it grows between
// the call that sizes it and the one that fills it.
// Linux: getifaddrs in interface-index order, named by the interface name.
// From /sys/class/net/<name> (the folder REZ_SYSFS_NET_DIR names instead, for
// tests): up when operstate reads "up" (the "unknown" of loopback and dummy
// devices is not up); Ethernet when type is 1 and there is no wireless or
// phy80211 entry. Linux has no interface metric, so the metric is the lowest
// one of the interface's IPv4 routes in /proc/net/route; an interface with no
// IPv4 route gets 2147483647, which the choice never takes.
#include <cstdint>
#include <string>
#include <vector>

namespace rez::platform {

inline constexpr std::uint32_t kNoAdapterMetric = 2147483647u;

struct AdapterAddress {
    bool ipv4 = false;
    std::string text;       // dotted IPv4 or IPv6 text
    int prefixLength = -1;  // bits of the on-link subnet; -1 when the system gave none
};

struct NetworkAdapter {
    std::string friendlyName;  // UTF-8
    bool up = false;
    bool ethernet = false;
    std::uint32_t ipv4Metric = kNoAdapterMetric;
    std::vector<AdapterAddress> unicast;  // in the system's order
};

// Where the listing failed: asking for the size of the list (Windows only),
// getting memory for it, or reading the list itself.
enum class AdapterListFailure { none, sizeQuery, allocation, listing };

struct AdapterList {
    AdapterListFailure failure = AdapterListFailure::none;
    unsigned long error = 0;  // the system's code for the failed step
    std::vector<NetworkAdapter> adapters;
};

AdapterList listNetworkAdapters();

}  // namespace rez::platform
