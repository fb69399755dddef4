#include "sim/fake_simconnect_server.h"

#include <cstring>

#include "core/bytes.h"
#include "platform/clock.h"
#include "platform/udp_socket.h"

namespace rez::sim {

namespace {

constexpr std::uint32_t kOpen = 0xF0000001u, kDefine = 0xF000000Cu, kRequest = 0xF000000Eu, kSubscribe = 0xF0000017u;

std::vector<std::uint8_t> header(std::uint32_t size, std::uint32_t id) {
    std::vector<std::uint8_t> m(size, 0);
    store_le<std::uint32_t>(m.data(), size);
    store_le<std::uint32_t>(m.data() + 4, 5);
    store_le<std::uint32_t>(m.data() + 8, id);
    return m;
}

// A 256-byte name field: text, NUL, and nothing but zeros after it.
bool nameField(const std::vector<std::uint8_t>& b, std::size_t at, std::string& out) {
    const auto* p = reinterpret_cast<const char*>(b.data() + at);
    const std::size_t n = strnlen(p, 256);
    if (n == 256) return false;
    out.assign(p, n);
    for (std::size_t i = n; i < 256; ++i)
        if (p[i] != 0) return false;
    return true;
}

}  // namespace

std::uint32_t SimConnectRequest::u32At(std::size_t offset) const {
    return load_le_checked<std::uint32_t>(bytes.data(), bytes.size(), offset, 0xDEADBEEFu);
}

struct FakeSimConnectServer::Client {
    std::unique_ptr<platform::SimConnectStream> stream;
    std::mutex streamMutex;  // the server thread receives while a test sends
    std::vector<std::uint8_t> pending;
    std::vector<SimConnectRequest> requests;
    std::uint32_t nextSerial = 1;
    bool closed = false;
};

FakeSimConnectServer::FakeSimConnectServer(platform::IpFamily family) {
    started_ = platform::netStartup() == 0;
    if (started_ && listener_.listen(family, 0)) port_ = listener_.port();
    if (port_ != 0) thread_ = std::thread([this] { run(); });
}

FakeSimConnectServer::FakeSimConnectServer(const std::string& pipeName) {
    if (listener_.listenPipe(pipeName)) {
        pipeName_ = pipeName;
        thread_ = std::thread([this] { run(); });
    }
}

FakeSimConnectServer::~FakeSimConnectServer() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        clients_.clear();
    }
    listener_.close();
    if (started_) platform::netCleanup();
}

std::string FakeSimConnectServer::configText() const {
    if (!pipeName_.empty()) return "[SimConnect]\nProtocol=Pipe\nPort=" + pipeName_ + "\n";
    return "[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=" + std::to_string(port_) + "\n";
}

int FakeSimConnectServer::clientCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(clients_.size());
}

bool FakeSimConnectServer::clientClosed(int client) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return client < static_cast<int>(clients_.size()) && clients_[static_cast<std::size_t>(client)]->closed;
}

std::vector<SimConnectRequest> FakeSimConnectServer::requests(int client) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (client >= static_cast<int>(clients_.size())) return {};
    return clients_[static_cast<std::size_t>(client)]->requests;
}

std::vector<std::string> FakeSimConnectServer::faults() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_;
}

bool FakeSimConnectServer::send(int client, const std::vector<std::uint8_t>& bytes, std::size_t piece) {
    Client* c = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (client >= static_cast<int>(clients_.size())) return false;
        c = clients_[static_cast<std::size_t>(client)].get();
    }
    if (piece == 0) piece = bytes.size();
    std::size_t at = 0;
    const std::int64_t deadline = platform::counterNow() + platform::counterFrequency() * 10;
    while (at < bytes.size()) {
        const std::size_t end = std::min(bytes.size(), at + piece);
        while (at < end) {
            int n;
            {
                std::lock_guard<std::mutex> lock(c->streamMutex);
                if (!c->stream) return false;
                n = c->stream->send(bytes.data() + at, end - at);
            }
            if (n < 0 || platform::counterNow() > deadline) return false;
            at += static_cast<std::size_t>(n);
            if (n == 0) platform::sleepMs(1);
        }
        if (at < bytes.size()) platform::sleepMs(1);
    }
    return true;
}

void FakeSimConnectServer::drop(int client) {
    Client* c = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (client >= static_cast<int>(clients_.size())) return;
        c = clients_[static_cast<std::size_t>(client)].get();
    }
    // Stream first, then the list: the order the server thread takes them in.
    std::lock_guard<std::mutex> streamLock(c->streamMutex);
    c->stream.reset();
    std::lock_guard<std::mutex> lock(mutex_);
    c->closed = true;
}

void FakeSimConnectServer::run() {
    while (running_) {
        if (auto stream = listener_.accept(2)) {
            auto c = std::make_unique<Client>();
            c->stream = std::move(stream);
            std::lock_guard<std::mutex> lock(mutex_);
            clients_.push_back(std::move(c));
        }
        std::vector<Client*> all;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto& c : clients_) all.push_back(c.get());
        }
        for (Client* c : all) serve(*c);
    }
}

void FakeSimConnectServer::serve(Client& c) {
    std::uint8_t chunk[4096];
    for (;;) {
        int n;
        {
            std::lock_guard<std::mutex> lock(c.streamMutex);
            if (!c.stream) return;
            n = c.stream->receive(chunk, sizeof chunk);
            if (n < 0) {
                c.stream.reset();
                std::lock_guard<std::mutex> listLock(mutex_);
                c.closed = true;
                return;
            }
        }
        if (n == 0) return;
        c.pending.insert(c.pending.end(), chunk, chunk + n);
        while (c.pending.size() >= 16) {
            const std::uint32_t size = load_le<std::uint32_t>(c.pending.data());
            if (size < 16 || size > 4096) {
                std::lock_guard<std::mutex> lock(mutex_);
                faults_.push_back("request size " + std::to_string(size));
                c.pending.clear();
                break;
            }
            if (c.pending.size() < size) break;
            SimConnectRequest r;
            r.bytes.assign(c.pending.begin(), c.pending.begin() + size);
            c.pending.erase(c.pending.begin(), c.pending.begin() + size);
            r.id = r.u32At(8);
            r.serial = r.u32At(12);
            check(c, r);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                c.requests.push_back(r);
            }
            if (r.id == kOpen) {
                const auto reply = openReply();
                std::lock_guard<std::mutex> lock(c.streamMutex);
                if (c.stream) c.stream->send(reply.data(), reply.size());
            }
        }
    }
}

void FakeSimConnectServer::check(Client& c, const SimConnectRequest& r) {
    std::vector<std::string> found;
    const auto fault = [&](const std::string& what) {
        found.push_back("request " + std::to_string(r.serial) + " (id " + std::to_string(r.id & 0xFF) + "): " + what);
    };
    if (r.u32At(4) != 5) fault("protocol version " + std::to_string(r.u32At(4)));
    if (r.serial != c.nextSerial) fault("send id " + std::to_string(r.serial) + ", expected " + std::to_string(c.nextSerial));
    c.nextSerial = r.serial + 1;
    std::size_t expected = 0;
    switch (r.id) {
        case kOpen: expected = 296; break;
        case kDefine: expected = 544; break;
        case kRequest: expected = 48; break;
        case kSubscribe: expected = 276; break;
        default: fault("unknown message id"); break;
    }
    if (expected != 0 && r.bytes.size() != expected) fault("size " + std::to_string(r.bytes.size()));
    auto& mutableRequest = const_cast<SimConnectRequest&>(r);
    if (expected == r.bytes.size()) {
        switch (r.id) {
            case kOpen: {
                if (!nameField(r.bytes, 16, mutableRequest.name1)) fault("application name field");
                const std::uint8_t tail[24] = {0, 0, 0, 0, 0x00, 0x48, 0x4B, 0x00, 11, 0, 0, 0,
                                               0, 0, 0, 0, 0xBB, 0xF4, 0, 0, 3, 0, 0, 0};
                if (std::memcmp(r.bytes.data() + 272, tail, sizeof tail) != 0) fault("open tail bytes");
                break;
            }
            case kDefine: {
                if (!nameField(r.bytes, 20, mutableRequest.name1)) fault("variable name field");
                if (!nameField(r.bytes, 276, mutableRequest.name2)) fault("units name field");
                const std::uint32_t type = r.u32At(532);
                if (type != 2 && type != 4) fault("type " + std::to_string(type));
                if (r.u32At(536) != 0) fault("epsilon not 0");
                if (r.u32At(540) != 0xFFFFFFFFu) fault("datum id " + std::to_string(r.u32At(540)));
                break;
            }
            case kSubscribe:
                if (!nameField(r.bytes, 20, mutableRequest.name1)) fault("event name field");
                break;
            default: break;
        }
    }
    if (!found.empty()) {
        std::lock_guard<std::mutex> lock(mutex_);
        faults_.insert(faults_.end(), found.begin(), found.end());
    }
}

std::vector<std::uint8_t> FakeSimConnectServer::openReply() {
    auto m = header(308, 2);
    const char name[] = "Stand-in simulator";
    std::memcpy(m.data() + 12, name, sizeof name);
    return m;
}

std::vector<std::uint8_t> FakeSimConnectServer::exception(std::uint32_t code, std::uint32_t sendId, std::uint32_t index) {
    auto m = header(24, 1);
    store_le<std::uint32_t>(m.data() + 12, code);
    store_le<std::uint32_t>(m.data() + 16, sendId);
    store_le<std::uint32_t>(m.data() + 20, index);
    return m;
}

std::vector<std::uint8_t> FakeSimConnectServer::quit() { return header(12, 3); }

std::vector<std::uint8_t> FakeSimConnectServer::event(std::uint32_t eventId, std::uint32_t data, std::uint32_t group) {
    auto m = header(24, 4);
    store_le<std::uint32_t>(m.data() + 12, group);
    store_le<std::uint32_t>(m.data() + 16, eventId);
    store_le<std::uint32_t>(m.data() + 20, data);
    return m;
}

std::vector<std::uint8_t> FakeSimConnectServer::data(const double (&values)[15], std::int64_t gearOnGround,
                                                     std::int64_t simOnGround, std::uint32_t requestId) {
    auto m = header(176, 8);
    store_le<std::uint32_t>(m.data() + 12, requestId);
    store_le<std::uint32_t>(m.data() + 16, 0);   // user aircraft
    store_le<std::uint32_t>(m.data() + 20, 0);   // definition
    store_le<std::uint32_t>(m.data() + 24, 0);   // flags
    store_le<std::uint32_t>(m.data() + 28, 1);   // entry
    store_le<std::uint32_t>(m.data() + 32, 1);   // out of
    store_le<std::uint32_t>(m.data() + 36, 17);  // datums
    for (int i = 0; i < 15; ++i) store_le<double>(m.data() + 40 + 8 * i, values[i]);
    store_le<std::int64_t>(m.data() + 160, gearOnGround);
    store_le<std::int64_t>(m.data() + 168, simOnGround);
    return m;
}

std::vector<std::uint8_t> FakeSimConnectServer::data(const Aircraft& a, std::uint32_t requestId) {
    // SimConnect's body axes are x to the right, y up and z forward, and a
    // positive rotation about x turns y towards z, about y z towards x, about
    // z x towards y. So "PLANE PITCH DEGREES" is positive nose down, "PLANE
    // BANK DEGREES" positive with the left wing down, the heading grows
    // turning right, and "ROTATION VELOCITY BODY" x, y, z are positive
    // pitching down, yawing right and rolling left. Angles go in radians.
    const auto rad = [](double degrees) { return degrees * 3.141592653589793 / 180.0; };
    const double values[15] = {
        a.acceleration[0], a.acceleration[1], a.acceleration[2],  // ACCELERATION BODY
        0, 0, 0,                                                  // ROTATION ACCELERATION BODY
        a.velocity[0], a.velocity[1], a.velocity[2],              // VELOCITY BODY
        -rad(a.pitchUpRate), rad(a.yawRightRate), -rad(a.rollRightRate),
        rad(a.headingDeg), -rad(a.rightWingDownDeg), -rad(a.noseUpDeg),
    };
    return data(values, a.onGround ? 1 : 0, a.onGround ? 1 : 0, requestId);
}

std::vector<std::uint8_t> joined(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

}  // namespace rez::sim
