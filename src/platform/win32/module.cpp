#include "platform/module.h"

#include <windows.h>

#include <atomic>

namespace rez::platform {
namespace {

std::atomic<bool> endingProcess{false};

struct Launch {
    LibraryThread::Body body;
    void* context;
    HMODULE library;
};

DWORD WINAPI threadStart(void* parameter) {
    const Launch launch = *static_cast<Launch*>(parameter);
    delete static_cast<Launch*>(parameter);
    launch.body(launch.context);
    // Drops the thread's reference and ends the thread without returning
    // here: if the host has unloaded the library meanwhile, this was the
    // last reference and the code below this call is gone.
    if (launch.library != nullptr) FreeLibraryAndExitThread(launch.library, 0);
    return 0;
}

std::string errorText(DWORD code) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = n != 0 && text != nullptr ? std::string(text, n) : std::string();
    if (text != nullptr) LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
    return "error " + std::to_string(code) + (out.empty() ? "" : " (" + out + ")");
}

}  // namespace

bool processEnding() { return endingProcess.load(); }

LibraryThread::~LibraryThread() { release(); }

bool LibraryThread::start(Body body, void* context, std::size_t stackBytes, std::string& whyNot) {
    if (started_) {
        whyNot = "already running";
        return false;
    }
    HMODULE library = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&threadStart),
                            &library)) {
        whyNot = "no reference to the library: " + errorText(GetLastError());
        return false;
    }
    if (library == GetModuleHandleW(nullptr)) {
        // Linked into the program itself, which is never unloaded.
        FreeLibrary(library);
        library = nullptr;
    }
    auto* launch = new Launch{body, context, library};
    DWORD id = 0;
    HANDLE handle = CreateThread(nullptr, stackBytes, threadStart, launch,
                                 stackBytes != 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0, &id);
    if (handle == nullptr) {
        whyNot = errorText(GetLastError());
        delete launch;
        FreeLibrary(library);  // the caller still holds its own reference
        return false;
    }
    started_ = true;
    handle_ = reinterpret_cast<std::uintptr_t>(handle);
    id_ = id;
    return true;
}

bool LibraryThread::isCurrentThread() const { return started_ && GetCurrentThreadId() == static_cast<DWORD>(id_); }

void LibraryThread::join(bool) {
    if (!started_) return;
    HANDLE handle = reinterpret_cast<HANDLE>(handle_);
    WaitForSingleObject(handle, INFINITE);
    CloseHandle(handle);
    started_ = false;
    handle_ = 0;
    id_ = 0;
}

void LibraryThread::release() {
    // No system call: at process end the handle goes with the process.
    started_ = false;
    handle_ = 0;
    id_ = 0;
}

}  // namespace rez::platform

// The only entry the system calls on its own. At process exit (reserved is
// not null) every other thread has already been ended, possibly inside a
// lock; the library's destructors, which run right after this, read
// processEnding() and then wait for nothing.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr) rez::platform::endingProcess.store(true);
    return TRUE;
}
