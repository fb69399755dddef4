#include "platform/simconnect_transport.h"
#include "platform/module.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

namespace rez::platform {

namespace {

// The part of a pipe stream that the system's completion threads reach. It
// lives on the heap apart from the stream, and the last of the stream and
// its pending operations to let go of it frees it, so a completion never
// lands on freed memory even when the stream gave up waiting for it.
struct IoContext;

struct IoOp {
    OVERLAPPED ov{};  // first, so the OVERLAPPED a completion gets is the op
    IoContext* context = nullptr;
    bool isRead = false;
};

// Bytes the receive side keeps before it stops reading ahead, and bytes the
// send queue takes before send() takes no more; both only bound memory.
constexpr std::size_t kReadChunk = 16384;
constexpr std::size_t kMaxBuffered = std::size_t{4} << 20;
constexpr std::size_t kMaxQueued = std::size_t{1} << 20;

struct IoContext {
    HANDLE handle = INVALID_HANDLE_VALUE;
    CRITICAL_SECTION lock;
    HANDLE readable = nullptr;  // set while bytes wait or the stream broke
    HANDLE idle = nullptr;      // set while no operation is pending
    IoOp readOp;
    IoOp writeOp;
    std::vector<char> chunk = std::vector<char>(kReadChunk);
    std::vector<char> received;
    std::size_t receivedOffset = 0;
    std::vector<char> writing;
    std::vector<char> queued;
    int pending = 0;  // operations the system still holds
    bool reading = false;
    bool writeInFlight = false;
    bool broken = false;
    bool closing = false;
    bool streamGone = false;
    int error = 0;

    IoContext() {
        InitializeCriticalSection(&lock);
        readOp.context = this;
        readOp.isRead = true;
        writeOp.context = this;
    }
    ~IoContext() {
        DeleteCriticalSection(&lock);
        if (readable != nullptr) CloseHandle(readable);
        if (idle != nullptr) CloseHandle(idle);
    }
    IoContext(const IoContext&) = delete;
    IoContext& operator=(const IoContext&) = delete;

    std::size_t buffered() const { return received.size() - receivedOffset; }

    // Called with the lock held.
    void breakWith(int code) {
        if (!broken) error = code;
        broken = true;
        SetEvent(readable);
    }
    void began() {
        if (pending++ == 0) ResetEvent(idle);
    }
    // Called with the lock held; true when the context is to be freed.
    bool ended() {
        if (--pending == 0) SetEvent(idle);
        return pending == 0 && streamGone;
    }

    // Called with the lock held: starts the one read, unless one runs, the
    // stream is done or enough bytes already wait.
    void startRead() {
        if (reading || broken || closing || buffered() >= kMaxBuffered) return;
        readOp.ov = OVERLAPPED{};
        began();
        reading = true;
        int failure = 0;
        bool started = ReadFile(handle, chunk.data(), static_cast<DWORD>(chunk.size()), nullptr, &readOp.ov) != 0;
        if (!started) {
            failure = static_cast<int>(GetLastError());
            started = failure == ERROR_IO_PENDING || failure == ERROR_MORE_DATA;
        }
        // Started (even done at once) means the completion still comes.
        if (started) return;
        reading = false;
        ended();
        breakWith(failure);
    }

    // Called with the lock held: hands the queued bytes to one write.
    void startWrite() {
        if (writeInFlight || broken || closing || queued.empty()) return;
        writing.swap(queued);
        queued.clear();
        writeOp.ov = OVERLAPPED{};
        began();
        writeInFlight = true;
        int failure = 0;
        bool started = WriteFile(handle, writing.data(), static_cast<DWORD>(writing.size()), nullptr, &writeOp.ov) != 0;
        if (!started) {
            failure = static_cast<int>(GetLastError());
            started = failure == ERROR_IO_PENDING;
        }
        if (started) return;
        writeInFlight = false;
        ended();
        breakWith(failure);
    }

    void readDone(DWORD status, DWORD count) {
        reading = false;
        if (closing) return;
        if (status != 0 && status != ERROR_MORE_DATA) {
            breakWith(static_cast<int>(status));
            return;
        }
        if (count == 0) {  // the far end closed the stream
            breakWith(ERROR_BROKEN_PIPE);
            return;
        }
        if (receivedOffset > 0 && receivedOffset == received.size()) {
            received.clear();
            receivedOffset = 0;
        }
        received.insert(received.end(), chunk.data(), chunk.data() + count);
        SetEvent(readable);
        startRead();
    }

    void writeDone(DWORD status, DWORD count) {
        writeInFlight = false;
        if (closing) return;
        if (status != 0) {
            breakWith(static_cast<int>(status));
            return;
        }
        if (count < writing.size()) {
            // What the system did not take goes out first next time.
            writing.erase(writing.begin(), writing.begin() + count);
            writing.insert(writing.end(), queued.begin(), queued.end());
            queued.swap(writing);
        }
        writing.clear();
        startWrite();
    }
};

// Runs on a system thread for every completed read or write. It touches
// only the context, never the stream, which may be gone already.
VOID CALLBACK ioCompleted(DWORD status, DWORD count, LPOVERLAPPED ov) {
    auto* op = reinterpret_cast<IoOp*>(ov);
    IoContext* c = op->context;
    EnterCriticalSection(&c->lock);
    if (op->isRead)
        c->readDone(status, count);
    else
        c->writeDone(status, count);
    const bool last = c->ended();
    LeaveCriticalSection(&c->lock);
    if (last) delete c;
}

// A connected pipe driven by the system's completion threads: one
// read always pending that fills a locked buffer, and one write in flight
// that drains the send queue. The caller's thread only copies bytes in and
// out, so it never blocks on the far end.
class PipeStream : public SimConnectStream {
public:
    ~PipeStream() override {
        if (c_ == nullptr) return;
        EnterCriticalSection(&c_->lock);
        c_->closing = true;
        LeaveCriticalSection(&c_->lock);
        CancelIoEx(c_->handle, nullptr);
        CloseHandle(c_->handle);
        // The cancelled operations still complete on the system's threads;
        // wait for them (bounded) so none runs after the library is gone.
        // When the process is ending those threads are gone and nothing
        // will complete: the context is then left to the system.
        if (!processEnding()) {
            for (int i = 0; i < 20; ++i) {
                EnterCriticalSection(&c_->lock);
                const int pending = c_->pending;
                LeaveCriticalSection(&c_->lock);
                if (pending == 0) break;
                WaitForSingleObject(c_->idle, 250);
            }
        }
        EnterCriticalSection(&c_->lock);
        c_->streamGone = true;
        const bool last = c_->pending == 0;
        LeaveCriticalSection(&c_->lock);
        // Otherwise the last completion frees it.
        if (last) delete c_;
    }

    // Takes over the handle (closed here on failure) and starts reading.
    static std::unique_ptr<SimConnectStream> start(HANDLE handle, int* error) {
        auto* c = new IoContext;
        c->handle = handle;
        c->readable = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        c->idle = CreateEventW(nullptr, TRUE, TRUE, nullptr);
        if (c->readable == nullptr || c->idle == nullptr || !BindIoCompletionCallback(handle, ioCompleted, 0)) {
            *error = static_cast<int>(GetLastError());
            CloseHandle(handle);
            delete c;
            return nullptr;
        }
        std::unique_ptr<PipeStream> stream(new PipeStream(c));
        EnterCriticalSection(&c->lock);
        c->startRead();
        LeaveCriticalSection(&c->lock);
        *error = 0;
        return stream;
    }

    int send(const void* data, std::size_t size) override {
        EnterCriticalSection(&c_->lock);
        int taken = -1;
        if (!c_->broken) {
            const std::size_t room = kMaxQueued > c_->queued.size() ? kMaxQueued - c_->queued.size() : 0;
            const std::size_t n = std::min({size, room, std::size_t{INT_MAX}});
            const char* bytes = static_cast<const char*>(data);
            c_->queued.insert(c_->queued.end(), bytes, bytes + n);
            c_->startWrite();
            taken = c_->broken ? -1 : static_cast<int>(n);
        }
        LeaveCriticalSection(&c_->lock);
        return taken;
    }

    int receive(void* buffer, std::size_t size) override {
        EnterCriticalSection(&c_->lock);
        int got = 0;
        const std::size_t waiting = c_->buffered();
        if (waiting > 0) {
            const std::size_t n = std::min({size, waiting, std::size_t{INT_MAX}});
            std::memcpy(buffer, c_->received.data() + c_->receivedOffset, n);
            c_->receivedOffset += n;
            if (c_->receivedOffset == c_->received.size()) {
                c_->received.clear();
                c_->receivedOffset = 0;
            } else if (c_->receivedOffset >= kReadChunk && c_->receivedOffset * 2 >= c_->received.size()) {
                c_->received.erase(c_->received.begin(),
                                   c_->received.begin() + static_cast<std::ptrdiff_t>(c_->receivedOffset));
                c_->receivedOffset = 0;
            }
            got = static_cast<int>(n);
            c_->startRead();  // resumes a read held back by a full buffer
        } else if (c_->broken) {
            got = -1;
        }
        if (c_->buffered() == 0 && !c_->broken) ResetEvent(c_->readable);
        LeaveCriticalSection(&c_->lock);
        return got;
    }

    bool waitReadable(int timeoutMs) override {
        if (ready()) return true;
        WaitForSingleObject(c_->readable, static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs));
        return ready();
    }

    int lastError() const override {
        EnterCriticalSection(&c_->lock);
        const int e = c_->error;
        LeaveCriticalSection(&c_->lock);
        return e;
    }

private:
    explicit PipeStream(IoContext* c) : c_(c) {}
    bool ready() const {
        EnterCriticalSection(&c_->lock);
        const bool r = c_->buffered() > 0 || c_->broken;
        LeaveCriticalSection(&c_->lock);
        return r;
    }

    IoContext* c_;
};

}  // namespace

std::unique_ptr<SimConnectStream> openSimConnectPipe(const std::string& path, int busyWaitMs, int* error) {
    int dummy = 0;
    if (error == nullptr) error = &dummy;
    for (int attempt = 0; attempt < 2; ++attempt) {
        HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
        if (h != INVALID_HANDLE_VALUE) return PipeStream::start(h, error);
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

std::unique_ptr<SimConnectStream> SimConnectListener::acceptPipe(int timeoutMs) {
    if (pipeOverlapped_ == nullptr) return nullptr;
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
    HANDLE connected = static_cast<HANDLE>(pipe_);
    pipe_ = nullptr;
    // The next client finds an instance waiting too.
    armPipe(pipeName_, ov, pipe_, pipePending_);
    int error = 0;
    return PipeStream::start(connected, &error);
}

void SimConnectListener::closePipe() {
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
}

}  // namespace rez::platform
