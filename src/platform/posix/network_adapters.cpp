#include "platform/network_adapters.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/environment.h"

namespace rez::platform {

namespace {

std::string firstWord(const std::string& path) {
    std::ifstream in(path);
    std::string word;
    in >> word;
    return word;
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// The lowest metric of each interface's IPv4 routes.
std::map<std::string, std::uint32_t> routeMetrics() {
    std::map<std::string, std::uint32_t> metrics;
    std::ifstream routes("/proc/net/route");
    std::string line;
    std::getline(routes, line);  // column titles
    while (std::getline(routes, line)) {
        std::istringstream fields(line);
        std::string name, destination, gateway, flags, refCount, use;
        unsigned long metric = 0;
        if (!(fields >> name >> destination >> gateway >> flags >> refCount >> use >> metric)) continue;
        const auto value = static_cast<std::uint32_t>(std::min<unsigned long>(metric, 0xFFFFFFFFul));
        auto [it, added] = metrics.emplace(name, value);
        if (!added) it->second = std::min(it->second, value);
    }
    return metrics;
}

}  // namespace

AdapterList listNetworkAdapters() {
    AdapterList list;
    ifaddrs* all = nullptr;
    if (::getifaddrs(&all) != 0) {
        list.failure = AdapterListFailure::listing;
        list.error = static_cast<unsigned long>(errno);
        return list;
    }
    const std::string sysfs = [] {
        auto root = environmentVariable("REZ_SYSFS_NET_DIR");
        return root && !root->empty() ? *root : std::string("/sys/class/net");
    }();
    const auto metrics = routeMetrics();

    // Every interface has a link-level entry, and those come first in index
    // order; the addresses follow. So first appearance gives the index order.
    auto adapterNamed = [&](const std::string& name) -> NetworkAdapter& {
        for (auto& adapter : list.adapters)
            if (adapter.friendlyName == name) return adapter;
        NetworkAdapter& adapter = list.adapters.emplace_back();
        adapter.friendlyName = name;
        const std::string folder = sysfs + "/" + name;
        adapter.up = firstWord(folder + "/operstate") == "up";
        adapter.ethernet = firstWord(folder + "/type") == "1" && !exists(folder + "/wireless") &&
                           !exists(folder + "/phy80211");
        if (auto it = metrics.find(name); it != metrics.end()) adapter.ipv4Metric = it->second;
        return adapter;
    };
    for (const ifaddrs* entry = all; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name == nullptr) continue;
        NetworkAdapter& adapter = adapterNamed(entry->ifa_name);
        if (entry->ifa_addr == nullptr) continue;
        char text[INET6_ADDRSTRLEN] = {};
        if (entry->ifa_addr->sa_family == AF_INET) {
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr, text, sizeof text);
            int prefix = -1;
            if (entry->ifa_netmask != nullptr && entry->ifa_netmask->sa_family == AF_INET)
                prefix = std::popcount(ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr.s_addr));
            adapter.unicast.push_back({true, text, prefix});
        } else if (entry->ifa_addr->sa_family == AF_INET6) {
            inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr, text, sizeof text);
            adapter.unicast.push_back({false, text});
        }
    }
    ::freeifaddrs(all);
    return list;
}

}  // namespace rez::platform
