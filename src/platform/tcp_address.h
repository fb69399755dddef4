#pragma once
// Finding a TCP address and reading back a bound port are the same calls on
// Winsock and BSD sockets; only the headers that declare them differ. Only
// the two tcp_client.cpp files include this.
#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/tcp_client.h"

namespace rez::platform {

inline int addressFamily(IpFamily family) { return family == IpFamily::V6 ? AF_INET6 : AF_INET; }

// The first TCP address of the family for host (nullptr: the loopback
// address) and port; getaddrinfo's result (0 when found). Numeric asks for
// address and port numbers only, which never wait on a name server.
inline int findTcpAddress(IpFamily family, const char* host, const std::string& port, bool numeric,
                          sockaddr_storage& address, socklen_t& length) {
    addrinfo hints{};
    hints.ai_family = addressFamily(family);
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    if (numeric) hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host, port.c_str(), &hints, &found);
    if (rc != 0) return rc;
    if (found == nullptr) return EAI_NONAME;
    std::memcpy(&address, found->ai_addr, found->ai_addrlen);
    length = static_cast<socklen_t>(found->ai_addrlen);
    ::freeaddrinfo(found);
    return 0;
}

inline std::uint16_t portOf(const sockaddr_storage& address) {
    return ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6&>(address).sin6_port
                                               : reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

}  // namespace rez::platform
