#include "platform/tcp_client.h"

#include <utility>

namespace rez::platform {

TcpClient::~TcpClient() { close(); }

TcpClient::TcpClient(TcpClient&& other) noexcept
    : socket_(std::exchange(other.socket_, kNoSocket)), family_(other.family_) {}

TcpClient& TcpClient::operator=(TcpClient&& other) noexcept {
    if (this != &other) adopt(std::exchange(other.socket_, kNoSocket), other.family_);
    return *this;
}

void TcpClient::adopt(NativeSocket socket, IpFamily family) {
    close();
    socket_ = socket;
    family_ = family;
}

bool TcpClient::isOpen() const { return socket_ != kNoSocket; }

bool TcpClient::close() { return closeSocket(socket_); }

TcpListener::~TcpListener() { close(); }

bool TcpListener::isOpen() const { return socket_ != kNoSocket; }

bool TcpListener::close() {
    port_ = 0;
    return TcpClient::closeSocket(socket_);
}

}  // namespace rez::platform
