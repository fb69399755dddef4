#include "sim/fake_nolimits_server.h"

#include <algorithm>
#include <functional>

#include "core/bytes.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"

namespace rez::sim {

namespace {

// The answer to an idle request: a message without data. The client only
// waits for something to arrive and never reads it.
constexpr std::uint16_t kIdleAnswerType = 1;

bool waitFor(const std::function<bool()>& done, int ms) {
    const std::int64_t deadline = platform::counterNow() + platform::counterFrequency() * ms / 1000;
    while (!done()) {
        if (platform::counterNow() >= deadline) return false;
        platform::sleepMs(1);
    }
    return true;
}

}  // namespace

std::vector<std::uint8_t> telemetryReply(const NoLimitsTelemetry& telemetry, std::uint32_t requestId) {
    const auto data = encodeNoLimitsTelemetry(telemetry);
    return noLimitsMessage(kNoLimitsTelemetry, requestId, data.data(), data.size());
}

FakeNoLimitsServer::FakeNoLimitsServer(std::uint16_t port) {
    platform::netStartup();
    listening_ = listener_.listen(port);
    thread_ = std::thread([this] { run(); });
}

FakeNoLimitsServer::~FakeNoLimitsServer() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
    stop();
    platform::netCleanup();
}

void FakeNoLimitsServer::queueReply(Bytes reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::size_t size = reply.size();
    replies_.push_back({std::move(reply), size});
}

void FakeNoLimitsServer::queueSplitReply(Bytes reply, std::size_t firstBytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    firstBytes = std::min(firstBytes, reply.size());
    replies_.push_back({std::move(reply), firstBytes});
}

void FakeNoLimitsServer::setCurrentTelemetry(const NoLimitsTelemetry& telemetry) {
    Bytes reply = telemetryReply(telemetry);
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = std::move(reply);
}

std::size_t FakeNoLimitsServer::queued() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return replies_.size();
}

void FakeNoLimitsServer::closeConnections() {
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.clear();
}

void FakeNoLimitsServer::stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    listener_.close();
    connections_.clear();
}

long FakeNoLimitsServer::requests(std::uint16_t type) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = requests_.find(type);
    return it == requests_.end() ? 0 : it->second;
}

bool FakeNoLimitsServer::waitForRequests(std::uint16_t type, long count, int ms) const {
    return waitFor([&] { return requests(type) >= count; }, ms);
}

bool FakeNoLimitsServer::waitForSends(long count, int ms) const {
    return waitFor([&] { return sends_.load() >= count; }, ms);
}

void FakeNoLimitsServer::run() {
    while (running_) {
        bool idle = true;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (listener_.isOpen()) {
                platform::TcpClient socket;
                if (listener_.accept(socket, 0)) {
                    connections_.push_back(Connection{std::move(socket), {}, {}});
                    ++accepted_;
                    idle = false;
                }
            }
            for (Connection& c : connections_)
                if (serve(c)) idle = false;
            // A connection the client closed (or that failed) is dropped.
            std::erase_if(connections_, [](const Connection& c) { return !c.socket.isOpen(); });
        }
        if (idle) platform::sleepMs(1);
    }
}

bool FakeNoLimitsServer::serve(Connection& c) {
    bool served = false;
    while (c.socket.isOpen() && c.socket.waitReadable(0) == 1) {
        std::uint8_t buffer[512];
        const int n = c.socket.receive(buffer, sizeof buffer);
        if (n <= 0) {
            c.socket.close();
            return true;
        }
        served = true;
        c.incoming.insert(c.incoming.end(), buffer, buffer + n);
        // Whole messages only; the start of one waits for the rest.
        while (c.incoming.size() >= kNoLimitsHeaderBytes) {
            const std::size_t size = kNoLimitsHeaderBytes + load_be<std::uint16_t>(&c.incoming[7]) + 1;
            if (c.incoming.size() < size) break;
            const std::uint16_t type = load_be<std::uint16_t>(&c.incoming[1]);
            c.incoming.erase(c.incoming.begin(), c.incoming.begin() + static_cast<std::ptrdiff_t>(size));
            ++requests_[type];
            answer(c, type);
        }
    }
    return served;
}

void FakeNoLimitsServer::sendHeldBack() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Connection& c : connections_) {
        const Bytes rest = std::move(c.heldBack);
        c.heldBack.clear();
        sendCounted(c, rest.data(), rest.size());
    }
}

void FakeNoLimitsServer::answer(Connection& c, std::uint16_t type) {
    if (type == kNoLimitsIdle) {
        if (answerIdle_) {
            const auto ok = noLimitsRequest(kIdleAnswerType, kNoLimitsIdleRequestId);
            sendCounted(c, ok.data(), ok.size());
        }
        return;
    }
    if (type != kNoLimitsGetTelemetry) return;
    if (replies_.empty()) {
        sendCounted(c, current_.data(), current_.size());
        return;
    }
    Reply reply = std::move(replies_.front());
    replies_.pop_front();
    sendCounted(c, reply.bytes.data(), reply.firstBytes);
    c.heldBack.assign(reply.bytes.begin() + static_cast<std::ptrdiff_t>(reply.firstBytes), reply.bytes.end());
}

void FakeNoLimitsServer::sendCounted(Connection& c, const std::uint8_t* data, std::size_t size) {
    if (size == 0 || !c.socket.isOpen()) return;
    if (c.socket.send(data, static_cast<int>(size)) < 0) {
        c.socket.close();
        return;
    }
    ++sends_;
}

}  // namespace rez::sim
