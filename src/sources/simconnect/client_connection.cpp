#include "sources/simconnect/client_connection.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <mutex>

#include "core/bytes.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"

namespace rez {

namespace {

constexpr int kConnectTimeoutMs = 2000;
constexpr int kPipeBusyWaitMs = 5000;
constexpr int kCloseFlushMs = 100;
constexpr std::size_t kNameField = 256;
// What one empty queue pulls from the stream: more data messages than a
// read takes, yet little to cut and copy while the tick waits, and the queue
// of a flooding server stays small (the rest waits in the system's buffer).
constexpr std::size_t kReceiveBudget = 16 * 1024;
const char* const kDefaultPipeName = "Microsoft Flight Simulator\\SimConnect";

// Counts from 1 to the largest value and starts again at 1.
std::uint32_t nextSerial(std::uint32_t s) { return s == std::numeric_limits<std::uint32_t>::max() ? 1 : s + 1; }

std::uint32_t newConnectionSerial() {
    static std::atomic<std::uint32_t> serial{0};
    std::uint32_t current = serial.load();
    while (!serial.compare_exchange_weak(current, nextSerial(current))) {
    }
    return nextSerial(current);
}

// The live clients of the process; the network start-up lasts while any is open.
struct ClientList {
    std::mutex mutex;
    std::vector<ClientClient*> clients;
};

ClientList& clientList() {
    static ClientList list;
    return list;
}

void listAdd(ClientClient* c) {
    std::lock_guard<std::mutex> lock(clientList().mutex);
    clientList().clients.push_back(c);
}

bool listRemove(ClientClient* c) {
    std::lock_guard<std::mutex> lock(clientList().mutex);
    auto& v = clientList().clients;
    auto it = std::find(v.begin(), v.end(), c);
    if (it == v.end()) return false;
    v.erase(it);
    return true;
}

std::string pipePath(const std::string& address, const std::string& name) {
    return "\\\\" + (address.empty() ? std::string(".") : address) + "\\pipe\\" + (name.empty() ? kDefaultPipeName : name);
}

class SystemConnector : public SimConnectConnector {
public:
    std::unique_ptr<platform::SimConnectStream> pipe(const std::string& path) override {
        return platform::openSimConnectPipe(path, kPipeBusyWaitMs, nullptr);
    }
    std::unique_ptr<platform::SimConnectStream> tcp(platform::IpFamily family, const std::string& host,
                                                    const std::string& port, bool noDelay) override {
        return platform::connectSimConnectTcp(family, host, port, noDelay, kConnectTimeoutMs, nullptr);
    }
    std::string registryPort(platform::IpFamily family) override { return platform::simConnectRegistryPort(family); }
};

}  // namespace

// ---------------------------------------------------------------- CClient

CClient::CClient() = default;
CClient::~CClient() = default;

void CClient::attachStream(std::unique_ptr<platform::SimConnectStream> stream, Transport transport) {
    stream_ = std::move(stream);
    transport_ = transport;
    reset();
    state_ = stream_ ? State::Connected : State::Idle;
}

void CClient::reset() {
    connectionSerial_ = newConnectionSerial();
    sendQueue_.clear();
    sendQueueBytes_ = 0;
    sentOfFront_ = 0;
    buffer_.assign(kReceiveStep, 0);
    used_ = 0;
    skipping_ = 0;
    errorCode_ = 0;
    lastSystemError_ = 0;
}

void CClient::disconnect(std::int32_t code, int systemError) {
    if (code != 0) {
        errorCode_ = code;
        lastSystemError_ = systemError;
    }
    stream_.reset();
    state_ = State::Idle;
}

void CClient::queueSend(const std::uint8_t* data, std::size_t size) {
    sendQueue_.emplace_back(data, data + size);
    sendQueueBytes_ += size;
    pumpSend();
}

bool CClient::pumpSend() {
    while (!sendQueue_.empty()) {
        if (!stream_) return false;
        const auto& front = sendQueue_.front();
        const int n = stream_->send(front.data() + sentOfFront_, front.size() - sentOfFront_);
        if (n < 0) {
            disconnect(kSimConnectBroken, stream_->lastError());
            return false;
        }
        if (n == 0) return true;  // the stream is full; the rest goes on a later call
        sentOfFront_ += static_cast<std::size_t>(n);
        if (sentOfFront_ == front.size()) {
            sendQueueBytes_ -= front.size();
            sendQueue_.pop_front();
            sentOfFront_ = 0;
        }
    }
    return stream_ != nullptr;
}

void CClient::pumpReceive(std::size_t budget) {
    std::size_t taken = 0;
    while (stream_ && taken < budget) {
        const int n = stream_->receive(receiveRoom(), receiveRoomSize());
        if (n < 0) {
            disconnect(kSimConnectBroken, stream_->lastError());
            return;
        }
        if (n == 0) return;
        taken += static_cast<std::size_t>(n);
        if (!receivedInto(static_cast<std::size_t>(n))) return;
    }
}

std::uint8_t* CClient::receiveRoom() {
    if (used_ == buffer_.size()) buffer_.resize(buffer_.size() + kReceiveStep);
    return buffer_.data() + used_;
}

std::size_t CClient::receiveRoomSize() const { return used_ == buffer_.size() ? kReceiveStep : buffer_.size() - used_; }

bool CClient::receivedInto(std::size_t count) {
    used_ += std::min(count, buffer_.size() - used_);
    std::size_t at = 0;
    for (;;) {
        if (skipping_ > 0) {
            const std::size_t drop = std::min(skipping_, used_ - at);
            skipping_ -= drop;
            at += drop;
            if (skipping_ > 0) break;
        }
        if (used_ - at < 4) break;
        const std::uint32_t size = load_le<std::uint32_t>(buffer_.data() + at);
        if (size < 4 || size > maxReceiveSize) {
            // Nothing after this can be framed any more.
            disconnect(kSimConnectAborted, 0);
            used_ = 0;
            return false;
        }
        if (size > kLargestReceiveBuffer) {
            skipping_ = size;
            continue;
        }
        if (used_ - at < size) {
            const std::size_t need = (size + kReceiveStep - 1) / kReceiveStep * kReceiveStep;
            if (buffer_.size() < need) buffer_.resize(need);
            break;
        }
        // A message too short for the server's header carries nothing; the
        // ones after it still count.
        if (size >= kServerHeaderSize) acceptMessage(buffer_.data() + at, size);
        at += size;
    }
    if (at > 0) {
        std::memmove(buffer_.data(), buffer_.data() + at, used_ - at);
        used_ -= at;
    }
    return true;
}

// ---------------------------------------------------------------- connecting

SimConnectConnector& systemConnector() {
    static SystemConnector connector;
    return connector;
}

void buildClientState() {
    clientList();
    systemConnector();
}

std::unique_ptr<platform::SimConnectStream> connectInOrder(const SimConnectConfig& config,
                                                           SimConnectConnector& connector,
                                                           CClient::Transport* transport) {
    CClient::Transport dummy;
    if (transport == nullptr) transport = &dummy;
    SimConnectProtocol protocol = config.protocol;
    std::string address = config.address;
    std::string port = config.port;
    if (protocol == SimConnectProtocol::Pipe) {
        *transport = CClient::Transport::Pipe;
        if (auto s = connector.pipe(pipePath(address, port))) return s;
        if (!address.empty() && address != ".") return nullptr;
        protocol = SimConnectProtocol::IPv6;
        address = "::1";
        port = connector.registryPort(platform::IpFamily::V6);
    }
    *transport = CClient::Transport::Socket;
    if (protocol == SimConnectProtocol::IPv6) {
        // Without an address the simulator is on this machine.
        if (address.empty()) address = "::1";
        if (!port.empty())
            if (auto s = connector.tcp(platform::IpFamily::V6, address, port, config.disableNagle)) return s;
        if (address != "::1") return nullptr;
        address = "127.0.0.1";
        port = connector.registryPort(platform::IpFamily::V4);
    }
    if (address.empty()) address = "127.0.0.1";
    if (!port.empty())
        if (auto s = connector.tcp(platform::IpFamily::V4, address, port, config.disableNagle)) return s;
    if (address != "127.0.0.1") return nullptr;
    *transport = CClient::Transport::Pipe;
    return connector.pipe(pipePath(".", ""));
}

// ---------------------------------------------------------------- ClientClient

ClientClient::ClientClient() : request_(kRequestBufferSize, 0) {}

ClientClient::~ClientClient() = default;

std::int32_t ClientClient::open(std::unique_ptr<ClientClient>& out, const char* name, unsigned configIndex) {
    SimConnectConnector& connector = systemConnector();
    const SimConnectConfig config = readSimConnectConfig(
        simConnectConfigFolders(), configIndex, [&](platform::IpFamily f) { return connector.registryPort(f); });
    return open(out, name, config, connector);
}

std::int32_t ClientClient::open(std::unique_ptr<ClientClient>& out, const char* name, const SimConnectConfig& config,
                                SimConnectConnector& connector) {
    out.reset();
    if (name == nullptr) return kSimConnectInvalidArg;
    if (std::strlen(name) >= kNameField) return kSimConnectNameTooLong;
    if (platform::netStartup() != 0) return kSimConnectFail;
    Transport transport = Transport::Socket;
    auto stream = connectInOrder(config, connector, &transport);
    if (!stream) {
        platform::netCleanup();
        return kSimConnectFail;
    }
    auto client = std::make_unique<ClientClient>();
    client->maxReceiveSize = std::max(config.maxReceiveSize, kSmallestMaxReceiveSize);
    client->noDelay = config.disableNagle;
    client->attachStream(std::move(stream), transport);
    listAdd(client.get());
    const std::int32_t rc = client->sendOpen(name);
    if (rc < 0) {
        close(client);
        return rc;
    }
    out = std::move(client);
    return kSimConnectOk;
}

std::int32_t ClientClient::close(std::unique_ptr<ClientClient>& client) {
    if (!client) return kSimConnectInvalidArg;
    // Requests still queued get a short while to leave (a last subscription
    // right before close must not be lost for nothing).
    const std::int64_t start = platform::counterNow();
    const std::int64_t limit = platform::counterFrequency() * kCloseFlushMs / 1000;
    while (client->sendQueueCount() > 0 && client->pumpSend() && platform::counterNow() - start < limit)
        platform::sleepMs(1);
    client->handedOut_.clear();
    const bool listed = listRemove(client.get());
    client->disconnect(0, 0);
    client.reset();
    if (listed) platform::netCleanup();
    return kSimConnectOk;
}

void ClientClient::closeForTeardown(std::unique_ptr<ClientClient>& client) {
    if (!client) return;
    listRemove(client.get());
    client->disconnect(0, 0);
    client.reset();
}

void ClientClient::begin(std::uint32_t messageId) {
    std::fill(request_.begin(), request_.begin() + static_cast<std::ptrdiff_t>(fill_), 0);
    fill_ = 16;
    store_le<std::uint32_t>(request_.data() + 4, kSimConnectProtocolVersion);
    store_le<std::uint32_t>(request_.data() + 8, messageId);
}

void ClientClient::putU32(std::uint32_t v) {
    store_le<std::uint32_t>(request_.data() + fill_, v);
    fill_ += 4;
}

void ClientClient::putF32(float v) {
    store_le<float>(request_.data() + fill_, v);
    fill_ += 4;
}

bool ClientClient::putName(const char* name) {
    if (name == nullptr) name = "";
    const std::size_t n = std::strlen(name);
    if (n >= kNameField) return false;
    std::memcpy(request_.data() + fill_, name, n);
    std::memset(request_.data() + fill_ + n, 0, kNameField - n);
    fill_ += kNameField;
    return true;
}

std::int32_t ClientClient::finish() {
    if (state() != State::Connected) {
        fill_ = 0;
        return errorCode() != 0 ? errorCode() : kSimConnectFail;
    }
    requestSerial_ = nextSerial(requestSerial_);
    store_le<std::uint32_t>(request_.data(), static_cast<std::uint32_t>(fill_));
    store_le<std::uint32_t>(request_.data() + 12, requestSerial_);
    queueSend(request_.data(), fill_);
    std::fill(request_.begin(), request_.begin() + static_cast<std::ptrdiff_t>(fill_), 0);
    fill_ = 0;
    if (state() != State::Connected) return errorCode();
    return kSimConnectOk;
}

std::int32_t ClientClient::sendOpen(const char* name) {
    begin(0xF0000001u);
    if (!putName(name)) return kSimConnectNameTooLong;
    putU32(0);
    const std::uint8_t tag[4] = {0x00, 0x48, 0x4B, 0x00};
    std::memcpy(request_.data() + fill_, tag, 4);
    fill_ += 4;
    for (std::uint32_t v : {11u, 0u, 62651u, 3u}) putU32(v);
    return finish();
}

std::int32_t ClientClient::addToDataDefinition(std::uint32_t defineId, const char* datumName, const char* unitsName,
                                               std::uint32_t datumType, float epsilon, std::uint32_t datumId) {
    if (datumName == nullptr) return kSimConnectInvalidArg;
    begin(0xF000000Cu);
    putU32(defineId);
    if (!putName(datumName) || !putName(unitsName)) {
        fill_ = 0;
        return kSimConnectNameTooLong;
    }
    putU32(datumType);
    putF32(epsilon);
    putU32(datumId);
    return finish();
}

std::int32_t ClientClient::requestDataOnSimObject(std::uint32_t requestId, std::uint32_t defineId,
                                                  std::uint32_t objectId, std::uint32_t period, std::uint32_t flags,
                                                  std::uint32_t origin, std::uint32_t interval, std::uint32_t limit) {
    begin(0xF000000Eu);
    for (std::uint32_t v : {requestId, defineId, objectId, period, flags, origin, interval, limit}) putU32(v);
    return finish();
}

std::int32_t ClientClient::subscribeToSystemEvent(std::uint32_t eventId, const char* eventName) {
    if (eventName == nullptr) return kSimConnectInvalidArg;
    begin(0xF0000017u);
    putU32(eventId);
    if (!putName(eventName)) {
        fill_ = 0;
        return kSimConnectNameTooLong;
    }
    return finish();
}

void ClientClient::acceptMessage(const std::uint8_t* data, std::size_t size) {
    received_.emplace_back(data, data + size);
    receivedBytes_ += size;
}

std::int32_t ClientClient::getNextDispatch(const std::uint8_t** data, std::uint32_t* size) {
    handedOut_.clear();
    if (received_.empty() && state() == State::Connected) {
        pumpSend();
        pumpReceive(kReceiveBudget);
    }
    if (received_.empty()) {
        if (data != nullptr) *data = nullptr;
        if (size != nullptr) *size = 0;
        return state() == State::Connected ? kSimConnectFail : (errorCode() != 0 ? errorCode() : kSimConnectFail);
    }
    handedOut_ = std::move(received_.front());
    received_.pop_front();
    receivedBytes_ -= handedOut_.size();
    if (data != nullptr) *data = handedOut_.data();
    if (size != nullptr) *size = static_cast<std::uint32_t>(handedOut_.size());
    return kSimConnectOk;
}

std::size_t liveSimConnectClients() {
    std::lock_guard<std::mutex> lock(clientList().mutex);
    return clientList().clients.size();
}

}  // namespace rez
