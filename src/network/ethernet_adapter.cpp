#include "network/ethernet_adapter.h"

#include <cstdint>

#include "platform/network_adapters.h"
#include "platform/udp_socket.h"

namespace rez {

WiredAdapter choosePreferredEthernetAdapter(ErrorLog& log) {
    log.logInfo("Starting GetPreferredEthernetAdapter routine.");
    const platform::AdapterList list = platform::listNetworkAdapters();
    switch (list.failure) {
        case platform::AdapterListFailure::sizeQuery:
            log.logError("GetAdaptersAddresses failed during buffer size determination. Error: " +
                         std::to_string(list.error));
            return {};
        case platform::AdapterListFailure::allocation:
            log.logError("Memory allocation failed for adapterAddresses.");
            return {};
        case platform::AdapterListFailure::listing:
            log.logError("GetAdaptersAddresses failed. Error: " + std::to_string(list.error));
            return {};
        case platform::AdapterListFailure::none:
            break;
    }

    const platform::NetworkAdapter* best = nullptr;
    std::uint32_t bestMetric = platform::kNoAdapterMetric;
    for (const auto& adapter : list.adapters) {
        log.logInfo("Examining adapter: " + adapter.friendlyName);
        if (adapter.up && adapter.ethernet) {
            log.logInfo("Adapter is active and of type Ethernet.");
            // Strictly below, so the first of equal adapters keeps its place.
            if (adapter.ipv4Metric < bestMetric) {
                log.logInfo("Adapter has lower metric (" + std::to_string(adapter.ipv4Metric) +
                            "). Selecting this adapter.");
                best = &adapter;
                bestMetric = adapter.ipv4Metric;
            }
        } else {
            log.logInfo("Adapter is either inactive or not of type Ethernet. Skipping.");
        }
    }
    if (best == nullptr) {
        log.logError("No suitable adapter found.");
        return {};
    }
    log.logInfo("Best adapter selected: " + best->friendlyName + " with metric: " + std::to_string(bestMetric));
    for (const auto& address : best->unicast) {
        if (!address.ipv4) continue;
        log.logInfo("Selected adapter IP: " + address.text);
        WiredAdapter chosen;
        if (!platform::inetAddr(address.text, chosen.address)) return {};
        chosen.text = address.text;
        // Without a prefix from the system only the address itself is trusted.
        if (address.prefixLength >= 0 && address.prefixLength <= 32) chosen.prefixLength = address.prefixLength;
        return chosen;
    }
    return {};
}

std::string GetPreferredEthernetAdapter(ErrorLog& log) { return choosePreferredEthernetAdapter(log).text; }

bool WiredAdapter::onSubnet(std::uint32_t peer) const {
    if (!found()) return false;
    const std::uint32_t mask = prefixLength == 0 ? 0 : ~std::uint32_t{0} << (32 - prefixLength);
    return (peer & mask) == (address & mask);
}

}  // namespace rez
