#include "platform/simconnect_transport.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "platform/udp_socket.h"

namespace rez::platform {

namespace {

// A connected non-blocking socket seen as a SimConnect stream: "nothing now"
// is 0 and not a failure, and the far end's close breaks the stream.
class TcpStream : public SimConnectStream {
public:
    explicit TcpStream(TcpClient client) : client_(std::move(client)) {}

    int send(const void* data, std::size_t size) override {
        const int n = client_.send(data, clamped(size));
        return n >= 0 ? n : failed();
    }
    int receive(void* buffer, std::size_t size) override {
        if (size == 0) return 0;
        const int n = client_.receive(buffer, clamped(size));
        if (n > 0) return n;
        if (n < 0) return failed();
        error_ = socketErrorConnectionReset;
        return -1;
    }
    bool waitReadable(int timeoutMs) override { return client_.waitReadable(timeoutMs) > 0; }
    int lastError() const override { return error_; }

private:
    static int clamped(std::size_t size) { return static_cast<int>(std::min(size, std::size_t{INT_MAX})); }
    int failed() {
        const int error = lastSocketError();
        if (error == socketErrorWouldBlock) return 0;
        error_ = error;
        return -1;
    }

    TcpClient client_;
    int error_ = 0;
};

}  // namespace

std::unique_ptr<SimConnectStream> connectSimConnectTcp(IpFamily family, const std::string& host,
                                                       const std::string& port, bool noDelay, int timeoutMs,
                                                       int* error) {
    int ignored = 0;
    if (error == nullptr) error = &ignored;
    TcpClient client;
    if (!client.open(family) || !client.setNonBlocking() || !client.connect(host, port, timeoutMs)) {
        *error = lastSocketError();
        return nullptr;
    }
    // Without the option the stream still works, only with Nagle's delays.
    if (noDelay) client.setNoDelay();
    *error = 0;
    return std::make_unique<TcpStream>(std::move(client));
}

SimConnectListener::~SimConnectListener() { close(); }

bool SimConnectListener::listen(IpFamily family, std::uint16_t port) {
    close();
    return tcp_.listen(family, port);
}

std::unique_ptr<SimConnectStream> SimConnectListener::accept(int timeoutMs) {
    if (!tcp_.isOpen()) return acceptPipe(timeoutMs);
    TcpClient client;
    if (!tcp_.accept(client, timeoutMs) || !client.setNonBlocking()) return nullptr;
    return std::make_unique<TcpStream>(std::move(client));
}

void SimConnectListener::close() {
    tcp_.close();
    closePipe();
}

}  // namespace rez::platform
