#include "sources/tcp/nolimits_reader.h"

#include <cstdio>
#include <cstring>

#include "core/relaxed.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"
#include "sources/game_table.h"
#include "sources/tcp/nolimits_ride.h"

namespace rez {

namespace {

constexpr const char* kServerAddress = "127.0.0.1";

}  // namespace

// "what: error text", as the C runtime's error report prints it, with the
// text of the socket error that caused it.
void OnceReport::report(const char* what, int code) {
    if (last_ != nullptr && std::strcmp(what, last_) == 0) return;
    last_ = what;
    std::fprintf(stderr, "%s: %s\n", what, platform::socketErrorText(code).c_str());
}

bool NoLimitsReader::detect() {
    const int startError = platform::netStartup();
    if (startError != 0) {
        findReport_.report("Error initializing Winsock", startError);
        return false;
    }
    auto reportError = [this](const char* what) { findReport_.report(what, platform::lastSocketError()); };
    bool found = false;
    {
        platform::TcpClient probe;
        if (!probe.open()) {
            reportError("Error creating socket");
        } else if (!probe.setNonBlocking()) {
            reportError("Error setting socket as non-blocking");
        } else if (!probe.connect(kServerAddress, kNoLimitsPort, kNoLimitsConnectWaitMs)) {
            reportError("Error connecting to server");
        } else {
            const auto idle = noLimitsRequest(kNoLimitsIdle, kNoLimitsIdleRequestId);
            if (probe.send(idle.data(), static_cast<int>(idle.size())) != static_cast<int>(idle.size()))
                reportError("Error sending data");
            // Any answer will do; it is not read.
            const int ready = probe.waitReadable(kNoLimitsAnswerWaitMs);
            if (ready < 0) reportError("Error in select");
            found = ready == 1;
            if (found) findReport_.clear();
        }
    }
    platform::netCleanup();
    return found;
}

bool NoLimitsReader::attach() {
    close();
    const int startError = platform::netStartup();
    if (startError != 0) {
        findReport_.report("Error initializing Winsock", startError);
        return false;
    }
    if (!client_.open()) {
        findReport_.report("Error creating socket", platform::lastSocketError());
        platform::netCleanup();
        return false;
    }
    if (!client_.setNonBlocking() || !client_.connect(kServerAddress, kNoLimitsPort, kNoLimitsConnectWaitMs)) {
        client_.close();
        platform::netCleanup();
        return false;
    }
    attached_ = true;
    unsent_ = 0;
    findReport_.clear();
    sendReport_.clear();
    noLimitsRide().hasPrevious = false;
    // The first sample's interval counts from here, not from whenever the
    // clock last ran.
    clock.start = platform::counterNow();
    return true;
}

void NoLimitsReader::close() {
    if (!attached_) return;
    attached_ = false;
    client_.close();
    platform::netCleanup();
}

void NoLimitsReader::sendRequest() {
    if (unsent_ == 0) unsent_ = request_.size();
    const std::size_t from = request_.size() - unsent_;
    const int sent = client_.send(request_.data() + from, static_cast<int>(unsent_));
    if (sent < 0) {
        // A full send buffer is no failure: the request goes out on a later
        // tick.
        const int error = platform::lastSocketError();
        if (error != platform::socketErrorWouldBlock) sendReport_.report("Error sending data", error);
        return;
    }
    sendReport_.clear();
    unsent_ -= static_cast<std::size_t>(sent);
}

bool NoLimitsReader::read(GameDataRecord& record) {
    if (!attached_) return false;
    sendRequest();
    if (client_.waitReadable(0) != 1) return false;
    const int received = client_.receive(area_.data(), static_cast<int>(area_.size()));
    if (received < 2) return false;
    const double intervalMs = clock.stamp();
    const double receivedAtS = static_cast<double>(clock.current) / static_cast<double>(platform::counterFrequency());
    // Only the message at the start counts; whatever came behind it (more
    // replies, or the start of one) is dropped.
    const auto telemetry = decodeNoLimitsReply(area_.data(), static_cast<std::size_t>(received));
    if (!telemetry || !applyNoLimitsTelemetry(*telemetry, receivedAtS, record, noLimitsRide())) return false;
    relaxedStore(record.timeFrame, intervalMs);
    groundState.store(0, std::memory_order_relaxed);
    return true;
}

std::unique_ptr<GameReader> makeNoLimitsReader(int id) {
    if (id != kNoLimits2) return nullptr;
    return std::make_unique<NoLimitsReader>();
}

}  // namespace rez
