#include "platform/simconnect_transport.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstring>
#include <vector>

namespace rez::platform {

namespace {

constexpr std::uintptr_t kInvalid = ~std::uintptr_t{0};

class TcpStream : public SimConnectStream {
public:
    explicit TcpStream(SOCKET s) : socket_(s) {}
    ~TcpStream() override {
        ::shutdown(socket_, SD_BOTH);
        ::closesocket(socket_);
    }
    int send(const void* data, std::size_t size) override {
        const int n = ::send(socket_, static_cast<const char*>(data), static_cast<int>(size), 0);
        if (n >= 0) return n;
        const int e = WSAGetLastError();
        if (e == WSAEWOULDBLOCK) return 0;
        error_ = e;
        return -1;
    }
    int receive(void* buffer, std::size_t size) override {
        const int n = ::recv(socket_, static_cast<char*>(buffer), static_cast<int>(size), 0);
        if (n > 0) return n;
        if (n == 0) {
            if (size == 0) return 0;
            error_ = WSAECONNRESET;  // the far end closed the stream
            return -1;
        }
        const int e = WSAGetLastError();
        if (e == WSAEWOULDBLOCK) return 0;
        error_ = e;
        return -1;
    }
    bool waitReadable(int timeoutMs) override {
        WSAPOLLFD p{socket_, POLLRDNORM, 0};
        return WSAPoll(&p, 1, timeoutMs) > 0;
    }
    int lastError() const override { return error_; }

private:
    SOCKET socket_;
    int error_ = 0;
};

// A pipe opened for overlapped I/O and polled: one read and one write at a
// time, each checked without waiting.
class PipeStream : public SimConnectStream {
public:
    explicit PipeStream(HANDLE h) : handle_(h) {
        readOv_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        writeOv_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        readBuffer_.resize(8192);
    }
    ~PipeStream() override {
        // The system must be done with both buffers before they go away.
        CancelIoEx(handle_, nullptr);
        DWORD n = 0;
        if (readPending_) GetOverlappedResult(handle_, &readOv_, &n, TRUE);
        if (writePending_) GetOverlappedResult(handle_, &writeOv_, &n, TRUE);
        CloseHandle(handle_);
        if (readOv_.hEvent) CloseHandle(readOv_.hEvent);
        if (writeOv_.hEvent) CloseHandle(writeOv_.hEvent);
    }
    bool usable() const { return readOv_.hEvent != nullptr && writeOv_.hEvent != nullptr; }

    int send(const void* data, std::size_t size) override {
        if (broken_) return -1;
        if (writePending_) {
            DWORD n = 0;
            if (!GetOverlappedResult(handle_, &writeOv_, &n, FALSE)) {
                if (GetLastError() == ERROR_IO_INCOMPLETE) return 0;
                return fail(GetLastError());
            }
            writePending_ = false;
        }
        if (size == 0) return 0;
        writeBuffer_.assign(static_cast<const char*>(data), static_cast<const char*>(data) + size);
        ResetEvent(writeOv_.hEvent);
        if (!WriteFile(handle_, writeBuffer_.data(), static_cast<DWORD>(size), nullptr, &writeOv_)) {
            if (GetLastError() != ERROR_IO_PENDING) return fail(GetLastError());
            writePending_ = true;
        }
        return static_cast<int>(size);
    }
    int receive(void* buffer, std::size_t size) override {
        if (available_ == 0) {
            if (broken_) return -1;
            if (!pump()) return broken_ ? -1 : 0;
        }
        const std::size_t n = size < available_ ? size : available_;
        std::memcpy(buffer, readBuffer_.data() + offset_, n);
        offset_ += n;
        available_ -= n;
        return static_cast<int>(n);
    }
    bool waitReadable(int timeoutMs) override {
        if (available_ > 0 || broken_) return true;
        if (!readPending_ && pump()) return true;
        if (broken_) return true;
        return WaitForSingleObject(readOv_.hEvent, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
    }
    int lastError() const override { return error_; }

private:
    int fail(DWORD e) {
        error_ = static_cast<int>(e);
        broken_ = true;
        return -1;
    }
    // Completes the read under way or starts one; true when bytes came.
    bool pump() {
        DWORD n = 0;
        if (readPending_) {
            if (!GetOverlappedResult(handle_, &readOv_, &n, FALSE)) {
                const DWORD e = GetLastError();
                if (e == ERROR_IO_INCOMPLETE) return false;
                if (e != ERROR_MORE_DATA) {
                    fail(e);
                    return false;
                }
            }
            readPending_ = false;
        } else {
            ResetEvent(readOv_.hEvent);
            if (!ReadFile(handle_, readBuffer_.data(), static_cast<DWORD>(readBuffer_.size()), nullptr, &readOv_)) {
                const DWORD e = GetLastError();
                if (e == ERROR_IO_PENDING) {
                    readPending_ = true;
                    return false;
                }
                if (e != ERROR_MORE_DATA) {
                    fail(e);
                    return false;
                }
            }
            if (!GetOverlappedResult(handle_, &readOv_, &n, FALSE) && GetLastError() != ERROR_MORE_DATA) {
                fail(GetLastError());
                return false;
            }
        }
        if (n == 0) {
            fail(ERROR_BROKEN_PIPE);  // a zero-byte read: the server went away
            return false;
        }
        offset_ = 0;
        available_ = n;
        return true;
    }

    HANDLE handle_;
    OVERLAPPED readOv_{};
    OVERLAPPED writeOv_{};
    std::vector<char> readBuffer_;
    std::vector<char> writeBuffer_;
    std::size_t offset_ = 0;
    std::size_t available_ = 0;
    bool readPending_ = false;
    bool writePending_ = false;
    bool broken_ = false;
    int error_ = 0;
};

bool waitConnected(SOCKET s, int timeoutMs, int* error) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int ready = ::select(0, nullptr, &writable, &failed, &tv);
    if (ready <= 0) {
        *error = ready == 0 ? WSAETIMEDOUT : WSAGetLastError();
        return false;
    }
    int soError = 0;
    int len = sizeof soError;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len) != 0) soError = WSAGetLastError();
    if (soError == 0 && FD_ISSET(s, &failed)) soError = WSAECONNREFUSED;
    *error = soError;
    return soError == 0;
}

SOCKET newSocket(int af) {
    SOCKET s = WSASocketW(af, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return s;
    u_long nonBlocking = 1;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        ::closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

}  // namespace

std::unique_ptr<SimConnectStream> connectSimConnectTcp(IpFamily family, const std::string& host,
                                                       const std::string& port, bool noDelay, int timeoutMs,
                                                       int* error) {
    int dummy = 0;
    if (error == nullptr) error = &dummy;
    addrinfo hints{};
    hints.ai_family = family == IpFamily::V6 ? AF_INET6 : AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &found);
    if (rc != 0 || found == nullptr) {
        *error = rc != 0 ? rc : WSAHOST_NOT_FOUND;
        return nullptr;
    }
    SOCKET s = newSocket(found->ai_family);
    if (s == INVALID_SOCKET) {
        *error = WSAGetLastError();
        ::freeaddrinfo(found);
        return nullptr;
    }
    bool connected = ::connect(s, found->ai_addr, static_cast<int>(found->ai_addrlen)) == 0;
    if (!connected) {
        const int e = WSAGetLastError();
        if (e == WSAEWOULDBLOCK)
            connected = waitConnected(s, timeoutMs, error);
        else
            *error = e;
    }
    ::freeaddrinfo(found);
    if (!connected) {
        ::closesocket(s);
        return nullptr;
    }
    if (noDelay) {
        BOOL one = TRUE;
        ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    }
    *error = 0;
    return std::make_unique<TcpStream>(s);
}

std::unique_ptr<SimConnectStream> openSimConnectPipe(const std::string& path, int busyWaitMs, int* error) {
    int dummy = 0;
    if (error == nullptr) error = &dummy;
    for (int attempt = 0; attempt < 2; ++attempt) {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            auto stream = std::make_unique<PipeStream>(h);
            if (!stream->usable()) {
                *error = static_cast<int>(GetLastError());
                return nullptr;
            }
            *error = 0;
            return stream;
        }
        *error = static_cast<int>(GetLastError());
        if (*error != ERROR_PIPE_BUSY || attempt > 0) break;
        if (!WaitNamedPipeA(path.c_str(), static_cast<DWORD>(busyWaitMs))) break;
    }
    return nullptr;
}

std::string simConnectRegistryPort(IpFamily family) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Microsoft Games\\KittyHawk", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return {};
    char value[21] = {};
    DWORD size = 20;
    DWORD type = 0;
    const char* name = family == IpFamily::V6 ? "SimConnect_Port_IPv6" : "SimConnect_Port_IPv4";
    const LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
    value[size < 20 ? size : 20] = '\0';
    return value;
}

SimConnectListener::~SimConnectListener() { close(); }

bool SimConnectListener::listen(IpFamily family, std::uint16_t port) {
    close();
    const int af = family == IpFamily::V6 ? AF_INET6 : AF_INET;
    SOCKET s = newSocket(af);
    if (s == INVALID_SOCKET) return false;
    socket_ = static_cast<std::uintptr_t>(s);
    sockaddr_storage storage{};
    int len = 0;
    if (af == AF_INET6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
        a->sin6_family = AF_INET6;
        a->sin6_addr = in6addr_loopback;
        a->sin6_port = htons(port);
        len = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&storage);
        a->sin_family = AF_INET;
        a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a->sin_port = htons(port);
        len = sizeof *a;
    }
    if (::bind(s, reinterpret_cast<sockaddr*>(&storage), len) != 0 || ::listen(s, 8) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&storage), &len) != 0) {
        close();
        return false;
    }
    port_ = ntohs(af == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                                 : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    return true;
}

namespace {

// Makes a pipe instance and starts waiting for a client on it; false when
// the instance cannot be made.
bool armPipe(const std::string& name, OVERLAPPED* ov, void*& pipe, bool& pending) {
    HANDLE h = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES, 8192, 8192, 0,
                                nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    ResetEvent(ov->hEvent);
    pending = false;
    if (!ConnectNamedPipe(h, ov)) {
        const DWORD e = GetLastError();
        if (e == ERROR_IO_PENDING) {
            pending = true;
        } else if (e != ERROR_PIPE_CONNECTED) {
            CloseHandle(h);
            return false;
        }
    }
    pipe = h;
    return true;
}

}  // namespace

bool SimConnectListener::listenPipe(const std::string& name) {
    close();
    pipeName_ = "\\\\.\\pipe\\" + name;
    pipeEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (pipeEvent_ == nullptr) return false;
    auto* ov = new OVERLAPPED{};
    ov->hEvent = pipeEvent_;
    pipeOverlapped_ = ov;
    // The first instance exists before this returns, so a client may open
    // the pipe at once.
    if (!armPipe(pipeName_, ov, pipe_, pipePending_)) {
        close();
        return false;
    }
    return true;
}

std::unique_ptr<SimConnectStream> SimConnectListener::accept(int timeoutMs) {
    if (pipeOverlapped_ != nullptr) {
        auto* ov = static_cast<OVERLAPPED*>(pipeOverlapped_);
        if (pipe_ == nullptr && !armPipe(pipeName_, ov, pipe_, pipePending_)) return nullptr;
        if (pipePending_) {
            if (WaitForSingleObject(ov->hEvent, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) return nullptr;
            DWORD n = 0;
            const BOOL ok = GetOverlappedResult(static_cast<HANDLE>(pipe_), ov, &n, FALSE);
            pipePending_ = false;
            if (!ok) {
                CloseHandle(static_cast<HANDLE>(pipe_));
                pipe_ = nullptr;
                return nullptr;
            }
        }
        auto stream = std::make_unique<PipeStream>(static_cast<HANDLE>(pipe_));
        pipe_ = nullptr;
        // The next client finds an instance waiting too.
        armPipe(pipeName_, ov, pipe_, pipePending_);
        if (!stream->usable()) return nullptr;
        return stream;
    }
    if (socket_ == kInvalid) return nullptr;
    const SOCKET s = static_cast<SOCKET>(socket_);
    WSAPOLLFD p{s, POLLRDNORM, 0};
    if (WSAPoll(&p, 1, timeoutMs) <= 0) return nullptr;
    SOCKET c = ::accept(s, nullptr, nullptr);
    if (c == INVALID_SOCKET) return nullptr;
    u_long nonBlocking = 1;
    ::ioctlsocket(c, FIONBIO, &nonBlocking);
    return std::make_unique<TcpStream>(c);
}

void SimConnectListener::close() {
    if (socket_ != kInvalid) ::closesocket(static_cast<SOCKET>(socket_));
    socket_ = kInvalid;
    if (pipe_ != nullptr) {
        auto* ov = static_cast<OVERLAPPED*>(pipeOverlapped_);
        CancelIoEx(static_cast<HANDLE>(pipe_), nullptr);
        DWORD n = 0;
        if (pipePending_ && ov != nullptr) GetOverlappedResult(static_cast<HANDLE>(pipe_), ov, &n, TRUE);
        CloseHandle(static_cast<HANDLE>(pipe_));
        pipe_ = nullptr;
        pipePending_ = false;
    }
    delete static_cast<OVERLAPPED*>(pipeOverlapped_);
    pipeOverlapped_ = nullptr;
    if (pipeEvent_ != nullptr) CloseHandle(static_cast<HANDLE>(pipeEvent_));
    pipeEvent_ = nullptr;
    port_ = 0;
}

}  // namespace rez::platform
