#include "platform/network_adapters.h"

#include <winsock2.h>
#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <memory>
#include <new>

#include "platform/win32/wide.h"

namespace rez::platform {

AdapterList listNetworkAdapters() {
    AdapterList list;
    const ULONG flags = GAA_FLAG_INCLUDE_PREFIX;
    ULONG size = 0;
    ULONG result = GetAdaptersAddresses(AF_INET, flags, nullptr, nullptr, &size);
    if (result != ERROR_BUFFER_OVERFLOW) {
        list.failure = AdapterListFailure::sizeQuery;
        list.error = result;
        return list;
    }
    // new[] gives the alignment the adapter records need.
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[size]);
    if (!buffer) {
        list.failure = AdapterListFailure::allocation;
        return list;
    }
    auto* first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.get());
    result = GetAdaptersAddresses(AF_INET, flags, nullptr, first, &size);
    if (result != ERROR_SUCCESS) {
        list.failure = AdapterListFailure::listing;
        list.error = result;
        return list;
    }
    for (const IP_ADAPTER_ADDRESSES* a = first; a != nullptr; a = a->Next) {
        NetworkAdapter& adapter = list.adapters.emplace_back();
        adapter.friendlyName = a->FriendlyName != nullptr ? narrow(a->FriendlyName) : std::string();
        adapter.up = a->OperStatus == IfOperStatusUp;
        adapter.ethernet = a->IfType == IF_TYPE_ETHERNET_CSMACD;
        adapter.ipv4Metric = a->Ipv4Metric;
        for (const IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
            const sockaddr* address = u->Address.lpSockaddr;
            if (address == nullptr) continue;
            char text[INET6_ADDRSTRLEN] = {};
            if (address->sa_family == AF_INET) {
                inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
                adapter.unicast.push_back({true, text});
            } else if (address->sa_family == AF_INET6) {
                inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
                adapter.unicast.push_back({false, text});
            }
        }
    }
    return list;
}

}  // namespace rez::platform
