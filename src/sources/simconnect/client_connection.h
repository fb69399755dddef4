#pragma once
// Our own SimConnect client: it finds the simulator's server, connects over
// the named pipe or TCP, frames the few requests the flight-simulator reader
// sends and queues the server's messages until the reader takes them.
//
// Everything runs on the caller's thread: requests are queued and written as
// far as the stream takes them, and received bytes are taken when the caller
// asks for the next message. No system thread ever runs this code, so close
// never waits on one and unloading the library cannot pull code from under a
// pending completion.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/simconnect_transport.h"
#include "sources/simconnect/simconnect_config.h"

namespace rez {

// Results: 0 success, negative failure.
inline constexpr std::int32_t kSimConnectOk = 0;
inline constexpr std::int32_t kSimConnectFail = static_cast<std::int32_t>(0x80004005u);
inline constexpr std::int32_t kSimConnectInvalidArg = static_cast<std::int32_t>(0x80070057u);
inline constexpr std::int32_t kSimConnectNameTooLong = static_cast<std::int32_t>(0x8007007Au);
// The stream broke or the server closed it (a broken pipe).
inline constexpr std::int32_t kSimConnectBroken = static_cast<std::int32_t>(0x8007006Du);
// We ended the connection: the server announced a message larger than we
// accept, or one too short to frame the stream (connection aborted).
inline constexpr std::int32_t kSimConnectAborted = static_cast<std::int32_t>(0x800704D4u);

inline constexpr std::uint32_t kSimConnectProtocolVersion = 5;
inline constexpr std::size_t kRequestBufferSize = 41088;
inline constexpr std::size_t kReceiveStep = 2048;
// A message that would make the receive buffer larger than this is dropped.
inline constexpr std::size_t kLargestReceiveBuffer = 0xFFFFF;
// Smallest message we keep: the server's 12-byte header.
inline constexpr std::uint32_t kServerHeaderSize = 12;

// One transport endpoint: the stream, its send queue and its receive buffer.
class CClient {
public:
    enum class Transport { Socket, Pipe };
    enum class State { Idle, Connected };

    CClient();
    virtual ~CClient();
    CClient(const CClient&) = delete;
    CClient& operator=(const CClient&) = delete;

    // Takes a connected stream: new connection serial, send and receive state cleared.
    void attachStream(std::unique_ptr<platform::SimConnectStream> stream, Transport transport);
    virtual void reset();
    // Drops the stream; for a failure, `code` and the system's error are kept.
    virtual void disconnect(std::int32_t code, int systemError);
    // Called for every complete message cut from the stream.
    virtual void acceptMessage(const std::uint8_t* data, std::size_t size) = 0;

    // Queues one request and writes what the stream takes.
    void queueSend(const std::uint8_t* data, std::size_t size);
    // Writes queued bytes as far as the stream takes them; false when broken.
    bool pumpSend();
    // Takes what has arrived, at most about `budget` bytes.
    void pumpReceive(std::size_t budget);

    // The free part of the receive buffer, and the count of bytes put there.
    // receivedInto cuts the complete messages; false when it ended the
    // connection. Public so that a test or fuzzer can play the stream.
    std::uint8_t* receiveRoom();
    std::size_t receiveRoomSize() const;
    bool receivedInto(std::size_t count);
    std::size_t receiveBufferSize() const { return buffer_.size(); }

    State state() const { return state_; }
    Transport transport() const { return transport_; }
    std::int32_t errorCode() const { return errorCode_; }
    int lastSystemError() const { return lastSystemError_; }
    std::uint32_t connectionSerial() const { return connectionSerial_; }
    std::size_t sendQueueCount() const { return sendQueue_.size(); }
    std::size_t sendQueueBytes() const { return sendQueueBytes_; }

    std::uint32_t maxReceiveSize = kSmallestMaxReceiveSize;
    bool noDelay = false;

protected:
    std::unique_ptr<platform::SimConnectStream> stream_;

private:
    Transport transport_ = Transport::Socket;
    State state_ = State::Idle;
    std::deque<std::vector<std::uint8_t>> sendQueue_;
    std::size_t sendQueueBytes_ = 0;
    std::size_t sentOfFront_ = 0;  // bytes of the first item already written
    std::vector<std::uint8_t> buffer_;
    std::size_t used_ = 0;
    std::size_t skipping_ = 0;  // bytes still to drop of a message too large to hold
    int lastSystemError_ = 0;
    std::int32_t errorCode_ = 0;
    std::uint32_t connectionSerial_ = 0;
};

// How a connection is made; the shipped one uses the platform's streams.
class SimConnectConnector {
public:
    virtual ~SimConnectConnector() = default;
    virtual std::unique_ptr<platform::SimConnectStream> pipe(const std::string& path) = 0;
    virtual std::unique_ptr<platform::SimConnectStream> tcp(platform::IpFamily family, const std::string& host,
                                                            const std::string& port, bool noDelay) = 0;
    virtual std::string registryPort(platform::IpFamily family) = 0;
};

SimConnectConnector& systemConnector();

// Builds the process's list of live clients and the system connector now.
// The library's owner calls it before it builds the engine, so that both
// outlive the engine's teardown, which closes a client still held.
void buildClientState();

// Tries the endpoints in order: the pipe, then IPv6 on ::1, then IPv4 on
// 127.0.0.1, then the default pipe once more, starting where the
// configuration's protocol says and falling back only from local addresses.
std::unique_ptr<platform::SimConnectStream> connectInOrder(const SimConnectConfig& config,
                                                           SimConnectConnector& connector,
                                                           CClient::Transport* transport = nullptr);

class ClientClient : public CClient {
public:
    ClientClient();
    ~ClientClient() override;

    // Reads the configuration for `configIndex`, connects and sends the open
    // request for `name`.
    static std::int32_t open(std::unique_ptr<ClientClient>& out, const char* name, unsigned configIndex);
    static std::int32_t open(std::unique_ptr<ClientClient>& out, const char* name, const SimConnectConfig& config,
                             SimConnectConnector& connector);
    // Gives queued requests a short while to leave, then drops the connection.
    static std::int32_t close(std::unique_ptr<ClientClient>& client);
    // Close for the library's own teardown, which may run under the Windows
    // loader lock: no waiting and no network clean-up (the system's rule
    // for that lock), only the connection dropped.
    static void closeForTeardown(std::unique_ptr<ClientClient>& client);

    std::int32_t addToDataDefinition(std::uint32_t defineId, const char* datumName, const char* unitsName,
                                     std::uint32_t datumType, float epsilon, std::uint32_t datumId);
    std::int32_t requestDataOnSimObject(std::uint32_t requestId, std::uint32_t defineId, std::uint32_t objectId,
                                        std::uint32_t period, std::uint32_t flags, std::uint32_t origin,
                                        std::uint32_t interval, std::uint32_t limit);
    std::int32_t subscribeToSystemEvent(std::uint32_t eventId, const char* eventName);
    // The next received message, valid until the next call; never blocks.
    std::int32_t getNextDispatch(const std::uint8_t** data, std::uint32_t* size);

    void acceptMessage(const std::uint8_t* data, std::size_t size) override;
    std::size_t receivedCount() const { return received_.size(); }
    std::size_t receivedBytes() const { return receivedBytes_; }

private:
    std::int32_t sendOpen(const char* name);
    // Starts a request in the request buffer; false when the client cannot send.
    void begin(std::uint32_t messageId);
    void putU32(std::uint32_t v);
    void putF32(float v);
    bool putName(const char* name);
    std::int32_t finish();

    std::deque<std::vector<std::uint8_t>> received_;
    std::size_t receivedBytes_ = 0;
    std::vector<std::uint8_t> handedOut_;
    std::vector<std::uint8_t> request_;
    std::size_t fill_ = 0;
    std::uint32_t requestSerial_ = 0;
};

// Clients open in this process.
std::size_t liveSimConnectClients();

}  // namespace rez
