#pragma once
// The byte streams that reach a flight simulator's SimConnect server: TCP on
// both systems, the named pipe and the registry's port numbers on Windows
// only. No call on a stream blocks on the far end: the client polls it from
// the one thread that uses it. The TCP stream is a non-blocking TcpClient on
// both systems. A named pipe has no such mode, so on Windows the system's
// completion threads keep one read pending into a locked buffer and one write
// in flight from a send queue, and closing a pipe stream waits (bounded)
// until none of them still holds it.
//
// Sockets need the counted network start-up of udp_socket.h around them.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/tcp_client.h"

namespace rez::platform {

class SimConnectStream {
public:
    virtual ~SimConnectStream() = default;
    // Bytes the system took (0 when it takes none now), or -1 when the
    // stream is broken.
    virtual int send(const void* data, std::size_t size) = 0;
    // Bytes received (0 when none are waiting), or -1 when the stream is
    // broken or the far end closed it.
    virtual int receive(void* buffer, std::size_t size) = 0;
    // Waits up to timeoutMs for bytes to arrive (or the stream to break);
    // true when receive would not give 0.
    virtual bool waitReadable(int timeoutMs) = 0;
    // The system's error number of the last failure (0 for a closed stream).
    virtual int lastError() const = 0;
};

// Resolves host and port (text, as a configuration file gives them) for a
// TCP stream of that family and connects to the first result, waiting at
// most timeoutMs. nullptr on failure, with the system's error in *error
// (socketErrorNotStarted outside a network start-up, on both systems).
std::unique_ptr<SimConnectStream> connectSimConnectTcp(IpFamily family, const std::string& host,
                                                       const std::string& port, bool noDelay, int timeoutMs,
                                                       int* error);

// Opens "\\address\pipe\name" for reading and writing. A busy pipe is waited
// for up to busyWaitMs and opened again. Always nullptr where there are no
// such pipes (Linux).
std::unique_ptr<SimConnectStream> openSimConnectPipe(const std::string& path, int busyWaitMs, int* error);

// The simulator's TCP port for a family as the current user's registry holds
// it; empty when absent (always on Linux).
std::string simConnectRegistryPort(IpFamily family);

// A TCP listener on a loopback address, or (Windows) a named pipe server, for
// stand-ins of a SimConnect server.
class SimConnectListener {
public:
    SimConnectListener() = default;
    ~SimConnectListener();
    SimConnectListener(const SimConnectListener&) = delete;
    SimConnectListener& operator=(const SimConnectListener&) = delete;

    // Listens on 127.0.0.1 or ::1 at `port` (0: any free port).
    bool listen(IpFamily family, std::uint16_t port);
    // Serves "\\.\pipe\<name>"; false where there are no such pipes.
    bool listenPipe(const std::string& name);
    std::uint16_t port() const { return tcp_.port(); }
    // The next client within timeoutMs, or nullptr.
    std::unique_ptr<SimConnectStream> accept(int timeoutMs);
    void close();

private:
    std::unique_ptr<SimConnectStream> acceptPipe(int timeoutMs);
    void closePipe();

    TcpListener tcp_;
#if defined(_WIN32)
    // The pipe instance waiting for a client, and its connect wait.
    void* pipe_ = nullptr;
    void* pipeEvent_ = nullptr;
    void* pipeOverlapped_ = nullptr;
    bool pipePending_ = false;
#endif
    std::string pipeName_;
};

}  // namespace rez::platform
