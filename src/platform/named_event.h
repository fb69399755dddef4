#pragma once
// A named event that another program signals. The library only opens one
// that a game made (iRacing's data-valid event) and never waits on it; tests
// and the telemetry stand-ins create one the way the game would.
//
// Windows: a named kernel event (CreateEventW / OpenEventW with SYNCHRONIZE).
// Linux has no named events; a POSIX named semaphore called "/" + name plays
// the part (the backslash of "Local\..." is an ordinary character there). As
// with shared memory, the handle that created it removes the name on close.
#include <string>

namespace rez::platform {

class NamedEvent {
public:
    NamedEvent() = default;
    ~NamedEvent();
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    // Opens an event that exists already, for waiting only. Closes any
    // handle held before.
    bool openExisting(const std::string& name);
    // Creates the event (or opens it when it exists) so it can be signalled.
    bool create(const std::string& name);
    // Signals the event (sets it; posts the semaphore on Linux).
    bool signal();
    void close();
    bool isOpen() const { return handle_ != nullptr; }

    // Removes a leftover Linux semaphore by name (tests); nothing on Windows.
    static void removeName(const std::string& name);

private:
    void* handle_ = nullptr;  // HANDLE on Windows, sem_t* on Linux
    bool created_ = false;
    std::string name_;
};

}  // namespace rez::platform
