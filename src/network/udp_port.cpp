#include "network/udp_port.h"

#include <string>

namespace rez {

namespace {
// The longest a receive may wait for a datagram: owners poll every 2 ms.
constexpr int kReceiveWaitMicroseconds = 1;
}  // namespace

UdpPort::UdpPort() : log_("error_log.txt") { log_.logInfo("Udp class init"); }

UdpPort::~UdpPort() {
    if (started_) release();
}

void UdpPort::release() {
    socket_.close();
    if (started_) platform::netCleanup();
    started_ = false;
}

int UdpPort::openPort(int port) { return open(port, nullptr); }

int UdpPort::openPort(int port, const std::string& address) { return open(port, &address); }

int UdpPort::open(int port, const std::string* address) {
    log_.logInfo("Opening port: " + std::to_string(port));
    // Opening again must not leave the earlier socket and start-up behind.
    if (started_) release();

    startupResult_ = platform::netStartup();
    if (startupResult_ != 0) {
        log_.logError("WSAStartup failed with error: " + std::to_string(startupResult_));
        return 0;
    }
    started_ = true;
    if (!socket_.open()) {
        log_.logError("Socket creation failed with error: " + std::to_string(platform::lastSocketError()));
        release();
        return 0;
    }
    if (!socket_.setNonBlocking()) {
        log_.logError("Setting non-blocking mode failed with error: " + std::to_string(platform::lastSocketError()));
        release();
        return 0;
    }
    // The port travels as 16 bits, as the system's address structure holds it.
    address_ = 0;
    if (address != nullptr) platform::inetAddr(*address, address_);
    port_ = static_cast<std::uint16_t>(port);
    if (!(address != nullptr ? socket_.bindAddress(*address, port_) : socket_.bindAny(port_))) {
        log_.logError("Binding socket failed with error: " + std::to_string(platform::lastSocketError()));
        release();
        return 0;
    }
    log_.logInfo("Port " + std::to_string(port) + " opened successfully.");
    return 1;
}

int UdpPort::receiveInto(std::uint8_t* buffer) {
    if (!socket_.isOpen() || socket_.waitReadableMicroseconds(kReceiveWaitMicroseconds) != 1) return 0;
    int n = socket_.receiveFrom(buffer, kUdpReceiveAreaBytes, address_, port_);
    return n > 0 ? n : 0;
}

std::vector<std::uint8_t> UdpPort::receive() {
    std::vector<std::uint8_t> datagram(kUdpReceiveAreaBytes, 0);
    datagram.resize(static_cast<std::size_t>(receiveInto(datagram.data())));
    return datagram;
}

int UdpPort::receiveIntoArea() { return receiveInto(receiveArea.data()); }

int UdpPort::waitReadable(int timeoutMs) { return socket_.waitReadable(timeoutMs); }

int UdpPort::closePort() {
    // Only a start-up this port made is given back: another owner's must
    // stay in force.
    release();
    log_.logInfo("Port closed.");
    return 0;
}

}  // namespace rez
