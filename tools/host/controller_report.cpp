#include "tools/host/controller_report.h"

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>

#include "platform/clock.h"
#include "platform/udp_socket.h"
#include "sim/emulated_controller.h"
#include "sim/hex_text.h"

namespace rez::host {

namespace {

constexpr int kReplyWaitMs = 5000;

std::int64_t nowNs() {
    const std::int64_t ticks = platform::counterNow(), perS = platform::counterFrequency();
    return ticks / perS * 1000000000 + ticks % perS * 1000000000 / perS;
}

std::int64_t nsToTicks(std::int64_t ns) {
    const std::int64_t perS = platform::counterFrequency();
    return ns / 1000000000 * perS + ns % 1000000000 * perS / 1000000000;
}

bool sendAll(platform::TcpClient& socket, const std::string& text) {
    for (std::size_t sent = 0; sent < text.size();) {
        const int n = socket.send(text.data() + sent, static_cast<int>(text.size() - sent));
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool ControllerReportServer::listen(std::uint16_t port, std::string& error) {
    if (platform::netStartup() != 0 || !listener_.listen(port)) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
                platform::socketErrorText(platform::lastSocketError());
        return false;
    }
    return true;
}

std::string ControllerReportServer::answer(const std::string& request) const {
    std::string out;
    if (request == "time") return std::to_string(nowNs()) + "\n";
    if (request == "counts") {
        const auto c = controller_.counts();
        return std::to_string(c.frames) + " " + std::to_string(c.badChecksums) + " " + std::to_string(c.gaps) + " " +
               std::to_string(c.identityRequests) + " " + std::to_string(c.versionRequests) + "\n";
    }
    if (request == "frames") {
        const auto frames = controller_.framesWithLead(0xFC);
        const std::int64_t perS = platform::counterFrequency();
        out = std::to_string(frames.size()) + "\n";
        for (const auto& f : frames) {
            const std::int64_t ns = f.arrival / perS * 1000000000 + f.arrival % perS * 1000000000 / perS;
            out += std::to_string(ns);
            out += f.trailer == sim::EmulatedController::Trailer::Checksum ? " 1 " : " 0 ";
            out += sim::hexOf(f.bytes) + "\n";
        }
        return out;
    }
    return "? unknown request \"" + request + "\"\n";
}

void ControllerReportServer::serve(const std::function<bool()>& stopped) {
    while (!stopped()) serveOne(stopped);
}

void ControllerReportServer::serveOne(const std::function<bool()>& stopped) {
    platform::TcpClient connection;
    if (!listener_.accept(connection, 200)) return;
    std::string pending;
    char buffer[256];
    while (!stopped()) {
        const int ready = connection.waitReadable(200);
        if (ready < 0) return;
        if (ready == 0) continue;
        const int n = connection.receive(buffer, sizeof buffer);
        if (n <= 0) return;  // the host has gone
        pending.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string request = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!sendAll(connection, answer(request))) return;
        }
    }
}

bool ControllerReportClient::connect(std::uint16_t port, std::string& error) {
    if (platform::netStartup() != 0 || !socket_.open() || !socket_.connect("127.0.0.1", port, 3000)) {
        error = "no controller report at 127.0.0.1:" + std::to_string(port) + ": " +
                platform::socketErrorText(platform::lastSocketError());
        return false;
    }
    socket_.setNoDelay();
    if (!measureOffset()) {
        error = "the controller at 127.0.0.1:" + std::to_string(port) + " did not tell its time";
        return false;
    }
    return true;
}

bool ControllerReportClient::readLine(std::string& line) {
    char buffer[65536];
    for (;;) {
        const std::size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return true;
        }
        if (socket_.waitReadable(kReplyWaitMs) != 1) return false;
        const int n = socket_.receive(buffer, sizeof buffer);
        if (n <= 0) return false;
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

bool ControllerReportClient::ask(const std::string& request, std::string& line) {
    return sendAll(socket_, request + "\n") && readLine(line) && (line.empty() || line[0] != '?');
}

bool ControllerReportClient::measureOffset() {
    roundTripNs_ = std::numeric_limits<std::int64_t>::max();
    for (int i = 0; i < 50; ++i) {
        const std::int64_t before = nowNs();
        std::string line;
        if (!ask("time", line)) return false;
        const std::int64_t after = nowNs();
        if (after - before < roundTripNs_) {
            roundTripNs_ = after - before;
            offsetNs_ = std::strtoll(line.c_str(), nullptr, 10) - (before + (after - before) / 2);
        }
    }
    return true;
}

bool ControllerReportClient::counts(ControllerCounts& out) {
    std::string line;
    if (!ask("counts", line)) return false;
    std::istringstream in(line);
    return static_cast<bool>(in >> out.frames >> out.badChecksums >> out.gaps >> out.identityRequests >>
                             out.versionRequests);
}

bool ControllerReportClient::frames(std::vector<ControllerFrame>& out) {
    std::string line;
    if (!ask("frames", line)) return false;
    const long long count = std::strtoll(line.c_str(), nullptr, 10);
    out.clear();
    for (long long i = 0; i < count; ++i) {
        if (!readLine(line)) return false;
        ControllerFrame f;
        char* at = nullptr;
        const std::int64_t ns = std::strtoll(line.c_str(), &at, 10);
        f.arrival = nsToTicks(ns - offsetNs_);
        const long crc = std::strtol(at, &at, 10);
        f.crcOk = crc == 1;
        while (*at == ' ') ++at;
        if (!sim::bytesOfHex(at, f.bytes)) return false;
        out.push_back(std::move(f));
    }
    return true;
}

namespace {

// The serial link, with what reached the controller asked from its report.
class ReportedSerialTransport : public Transport {
public:
    ReportedSerialTransport(const std::string& port, std::uint16_t reportPort)
        : serial_(makeSerialTransport(port)), reportPort_(reportPort) {}

    bool start(const Api& api, std::string& error) override {
        if (!report_.connect(reportPort_, error)) return false;
        return serial_->start(api, error);
    }
    void stop() override {
        serial_->stop();
        if (!fetched_) fetched_ = report_.frames(frames_);
    }
    std::string describe() const override {
        return serial_->describe() + ", controller's report on 127.0.0.1:" + std::to_string(reportPort_) +
               " (clocks matched within " + std::to_string(report_.roundTripNs() / 2000) + " us)";
    }
    bool seesController() const override { return true; }
    std::vector<ControllerFrame> cueFrames() const override { return frames_; }
    std::uint64_t cueFrameCount() const override {
        const ControllerCounts c = latest();
        return c.frames - c.identityRequests - c.versionRequests;
    }
    std::uint64_t badChecksums() const override { return latest().badChecksums; }
    std::uint64_t gaps() const override { return latest().gaps; }

private:
    ControllerCounts latest() const {
        ControllerCounts c;
        if (report_.counts(c)) counts_ = c;
        return counts_;
    }

    std::unique_ptr<Transport> serial_;
    std::uint16_t reportPort_;
    mutable ControllerReportClient report_;
    mutable ControllerCounts counts_;
    std::vector<ControllerFrame> frames_;
    bool fetched_ = false;
};

}  // namespace

std::unique_ptr<Transport> makeReportedSerialTransport(const std::string& port, std::uint16_t reportPort) {
    return std::make_unique<ReportedSerialTransport>(port, reportPort);
}

}  // namespace rez::host
