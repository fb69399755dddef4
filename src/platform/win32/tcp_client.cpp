#include "platform/tcp_client.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <utility>

namespace rez::platform {

namespace {

constexpr std::uintptr_t kInvalid = ~std::uintptr_t{0};
SOCKET sock(std::uintptr_t s) { return static_cast<SOCKET>(s); }

bool ipv4Address(const std::string& host, std::uint16_t port, sockaddr_in& address) {
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
        WSASetLastError(WSAEINVAL);
        return false;
    }
    return true;
}

SOCKET newTcpSocket() {
    // Overlapped like a plain socket(), and never inherited.
    SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
        // Systems before Windows 7 SP1 do not know the flag.
        s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (s != INVALID_SOCKET) SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    }
    return s;
}

timeval timeoutOf(int timeoutMs) { return timeval{timeoutMs / 1000, (timeoutMs % 1000) * 1000}; }

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

TcpClient::~TcpClient() { close(); }

TcpClient::TcpClient(TcpClient&& other) noexcept : socket_(std::exchange(other.socket_, kInvalid)) {}

TcpClient& TcpClient::operator=(TcpClient&& other) noexcept {
    if (this != &other) {
        close();
        socket_ = std::exchange(other.socket_, kInvalid);
    }
    return *this;
}

bool TcpClient::isOpen() const { return socket_ != kInvalid; }

bool TcpClient::open() {
    close();
    const SOCKET s = newTcpSocket();
    if (s == INVALID_SOCKET) return false;
    socket_ = static_cast<std::uintptr_t>(s);
    return true;
}

bool TcpClient::setNonBlocking() {
    u_long mode = 1;
    return ioctlsocket(sock(socket_), FIONBIO, &mode) == 0;
}

bool TcpClient::connect(const std::string& host, std::uint16_t port, int timeoutMs) {
    sockaddr_in address;
    if (!ipv4Address(host, port, address)) return false;
    if (::connect(sock(socket_), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return true;
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
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(sock(socket_), &readable);
    timeval timeout = timeoutOf(timeoutMs);
    const int n = ::select(0, &readable, nullptr, nullptr, &timeout);
    if (n == SOCKET_ERROR) return -1;
    return n > 0 ? 1 : 0;
}

int TcpClient::receive(void* buffer, int length) {
    const int n = ::recv(sock(socket_), static_cast<char*>(buffer), length, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

bool TcpClient::close() {
    if (socket_ == kInvalid) return true;
    const int result = ::closesocket(sock(socket_));
    socket_ = kInvalid;
    return result == 0;
}

bool TcpClient::inheritable() const {
    if (socket_ == kInvalid) return false;
    DWORD flags = 0;
    return GetHandleInformation(reinterpret_cast<HANDLE>(sock(socket_)), &flags) && (flags & HANDLE_FLAG_INHERIT) != 0;
}

TcpListener::~TcpListener() { close(); }

bool TcpListener::isOpen() const { return socket_ != kInvalid; }

bool TcpListener::listen(std::uint16_t port) {
    close();
    const SOCKET s = newTcpSocket();
    if (s == INVALID_SOCKET) return false;
    socket_ = static_cast<std::uintptr_t>(s);
    sockaddr_in address;
    if (!ipv4Address("127.0.0.1", port, address) ||
        ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(s, 8) != 0) {
        const int error = WSAGetLastError();
        close();
        WSASetLastError(error);
        return false;
    }
    return true;
}

bool TcpListener::accept(TcpClient& connection, int timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(sock(socket_), &readable);
    timeval timeout = timeoutOf(timeoutMs);
    if (::select(0, &readable, nullptr, nullptr, &timeout) <= 0) return false;
    const SOCKET s = ::accept(sock(socket_), nullptr, nullptr);
    if (s == INVALID_SOCKET) return false;
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    connection.close();
    connection.socket_ = static_cast<std::uintptr_t>(s);
    return true;
}

bool TcpListener::close() {
    if (socket_ == kInvalid) return true;
    const int result = ::closesocket(sock(socket_));
    socket_ = kInvalid;
    return result == 0;
}

}  // namespace rez::platform
