#include "platform/network_adapters.h"

#include <winsock2.h>
#include <iphlpapi.h>
#include <ws2tcpip.h>

#include "platform/sized_query.h"
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
    // An adapter that appears between the sizing call and the filling one
    // makes the list too big for the room: ask again with what it needs now,
    // rather than end the sender on it.
    constexpr int kAttempts = 4;
    SizedBuffer buffer;
    const SizedOutcome outcome = fillSized(buffer, size, kAttempts, [&](unsigned char* bytes, std::uint32_t& room) {
        ULONG asked = room;
        result = GetAdaptersAddresses(AF_INET, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(bytes), &asked);
        room = asked;
        if (result == ERROR_SUCCESS) return SizedAnswer::done;
        return result == ERROR_BUFFER_OVERFLOW ? SizedAnswer::tooSmall : SizedAnswer::failed;
    });
    if (outcome == SizedOutcome::noMemory) {
        list.failure = AdapterListFailure::allocation;
        return list;
    }
    if (outcome != SizedOutcome::done) {
        list.failure = AdapterListFailure::listing;
        list.error = result;
        return list;
    }
    const auto* first = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.bytes.get());
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
                adapter.unicast.push_back({true, text, u->OnLinkPrefixLength});
            } else if (address->sa_family == AF_INET6) {
                inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
                adapter.unicast.push_back({false, text, u->OnLinkPrefixLength});
            }
        }
    }
    return list;
}

}  // namespace rez::platform
