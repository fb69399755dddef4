#include "platform/tcp_client.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/tcp_address.h"

namespace rez::platform {

const int socketErrorWouldBlock = WSAEWOULDBLOCK;
const int socketErrorConnectionReset = WSAECONNRESET;

namespace {

SOCKET sock(NativeSocket s) { return static_cast<SOCKET>(s); }

SOCKET newTcpSocket(IpFamily family) {
    const int af = addressFamily(family);
    // Overlapped like a plain socket(), and never inherited.
    SOCKET s = WSASocketW(af, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
        // Systems before Windows 7 SP1 do not know the flag.
        s = WSASocketW(af, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (s != INVALID_SOCKET) SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    }
    return s;
}

// Numeric text that is no address fails with WSAEINVAL, a name that
// resolves to nothing with getaddrinfo's own error.
bool resolve(IpFamily family, const char* host, const std::string& port, bool numeric, sockaddr_storage& address,
             int& length) {
    const int rc = findTcpAddress(family, host, port, numeric, address, length);
    if (rc != 0) WSASetLastError(numeric ? WSAEINVAL : rc);
    return rc == 0;
}

timeval timeoutOf(int timeoutMs) {
    if (timeoutMs < 0) timeoutMs = 0;
    return timeval{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
}

// select for one readable socket: 1, 0 on a time-out, SOCKET_ERROR.
int selectReadable(SOCKET s, int timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval timeout = timeoutOf(timeoutMs);
    return ::select(0, &readable, nullptr, nullptr, &timeout);
}

}  // namespace

std::string socketErrorText(int code) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = n != 0 && text != nullptr ? std::string(text, n) : std::string();
    if (text != nullptr) LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
    return out.empty() ? "Unknown error " + std::to_string(code) : out;
}

bool TcpClient::closeSocket(NativeSocket& socket) {
    if (socket == kNoSocket) return true;
    const int result = ::closesocket(sock(socket));
    socket = kNoSocket;
    return result == 0;
}

bool TcpClient::open(IpFamily family) {
    close();
    family_ = family;
    const SOCKET s = newTcpSocket(family);
    if (s == INVALID_SOCKET) return false;
    socket_ = static_cast<NativeSocket>(s);
    return true;
}

bool TcpClient::setNonBlocking() {
    u_long mode = 1;
    return ioctlsocket(sock(socket_), FIONBIO, &mode) == 0;
}

bool TcpClient::setNoDelay() {
    const BOOL yes = TRUE;
    return setsockopt(sock(socket_), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof yes) == 0;
}

bool TcpClient::connectTo(const std::string& host, const std::string& port, bool numericHost, int timeoutMs) {
    sockaddr_storage address;
    int addressLength = 0;
    const char* node = host.empty() && !numericHost ? nullptr : host.c_str();
    if (!resolve(family_, node, port, numericHost, address, addressLength)) return false;
    if (::connect(sock(socket_), reinterpret_cast<sockaddr*>(&address), addressLength) == 0) return true;
    if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
    // A non-blocking connect reports success as writability and failure as
    // an exception.
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(sock(socket_), &writable);
    FD_SET(sock(socket_), &failed);
    timeval timeout = timeoutOf(timeoutMs);
    const int n = ::select(0, nullptr, &writable, &failed, &timeout);
    if (n == SOCKET_ERROR) return false;
    if (n == 0) {
        WSASetLastError(WSAETIMEDOUT);
        return false;
    }
    if (FD_ISSET(sock(socket_), &failed)) {
        int error = 0;
        int length = sizeof error;
        if (getsockopt(sock(socket_), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0)
            WSASetLastError(error != 0 ? error : WSAECONNREFUSED);
        return false;
    }
    return true;
}

int TcpClient::send(const void* data, int length) {
    const int n = ::send(sock(socket_), static_cast<const char*>(data), length, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int TcpClient::waitReadable(int timeoutMs) {
    const int n = selectReadable(sock(socket_), timeoutMs);
    if (n == SOCKET_ERROR) return -1;
    return n > 0 ? 1 : 0;
}

int TcpClient::receive(void* buffer, int length) {
    const int n = ::recv(sock(socket_), static_cast<char*>(buffer), length, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

bool TcpClient::inheritable() const {
    if (socket_ == kNoSocket) return false;
    DWORD flags = 0;
    return GetHandleInformation(reinterpret_cast<HANDLE>(sock(socket_)), &flags) && (flags & HANDLE_FLAG_INHERIT) != 0;
}

bool TcpListener::listen(IpFamily family, std::uint16_t port) {
    close();
    const SOCKET s = newTcpSocket(family);
    if (s == INVALID_SOCKET) return false;
    socket_ = static_cast<NativeSocket>(s);
    family_ = family;
    sockaddr_storage address;
    int length = 0;
    if (!resolve(family, nullptr, std::to_string(port), true, address, length) ||
        ::bind(s, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(s, 8) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int error = WSAGetLastError();
        close();
        WSASetLastError(error);
        return false;
    }
    port_ = portOf(address);
    return true;
}

bool TcpListener::accept(TcpClient& connection, int timeoutMs) {
    if (selectReadable(sock(socket_), timeoutMs) <= 0) return false;
    const SOCKET s = ::accept(sock(socket_), nullptr, nullptr);
    if (s == INVALID_SOCKET) return false;
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    connection.adopt(static_cast<NativeSocket>(s), family_);
    return true;
}

}  // namespace rez::platform
