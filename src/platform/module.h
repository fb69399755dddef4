#pragma once
// The library's own module as the system sees it: a thread that keeps the
// library loaded while it runs, and whether the system is ending the process.
//
// Why a thread of its own: a host may unload the library (FreeLibrary,
// dlclose) while the game-source thread still runs. Without a reference of
// its own, the system would unmap the code under that thread. So the thread
// takes a reference to the library before it is created, on the starting
// thread, and gives it back only when it no longer runs library code:
// - Windows: the thread ends with FreeLibraryAndExitThread, which drops the
//   reference and ends the thread without returning into the library.
// - Linux: there is no such call, so whoever joins the thread drops the
//   reference after the join (a thread that closed its own last reference
//   would return into unmapped code).
// A host that unloads the library while the thread runs therefore only drops
// its own reference; the library stays mapped until the thread is stopped
// (after the host loads it again) or the process ends.
#include <cstddef>
#include <cstdint>
#include <string>

namespace rez::platform {

// True once the system has begun to end the process after it ended every
// other thread (Windows: DLL_PROCESS_DETACH at process exit). Teardown must
// then wait for nothing: a lock may be held by a thread that no longer exists.
// Always false on Linux, where exit() runs the destructors while the
// library's threads still run.
bool processEnding();

class LibraryThread {
public:
    using Body = void (*)(void* context);

    LibraryThread() = default;
    // Forgets a thread that was never joined; never waits.
    ~LibraryThread();
    LibraryThread(const LibraryThread&) = delete;
    LibraryThread& operator=(const LibraryThread&) = delete;

    // Runs body(context) on a new thread that holds a reference to the
    // library. stackBytes 0 takes the system's default. On failure nothing
    // is held and whyNot says why.
    bool start(Body body, void* context, std::size_t stackBytes, std::string& whyNot);
    bool joinable() const { return started_; }
    bool isCurrentThread() const;
    // Waits for the thread to end. dropLibrary: give back the library
    // reference here (Linux; on Windows the thread gives it back itself).
    // Keep it during the library's own teardown, where dropping the last
    // reference would unmap the code that is running.
    void join(bool dropLibrary = true);
    // Forgets the thread without waiting (the process is ending).
    void release();

private:
    bool started_ = false;
    std::uintptr_t handle_ = 0;  // HANDLE on Windows, pthread_t on Linux
    [[maybe_unused]] std::uint64_t id_ = 0;  // thread id on Windows
    void* library_ = nullptr;    // Linux: the dlopen reference held for the thread
};

}  // namespace rez::platform
