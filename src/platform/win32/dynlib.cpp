#include "platform/dynlib.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace rez::platform {

void* loadLibrary(const std::string& path) { return reinterpret_cast<void*>(LoadLibraryW(widen(path).c_str())); }

void* findSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void freeLibrary(void* library) {
    if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

bool libraryLoaded(const std::string& path) {
    HMODULE module = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, widen(path).c_str(), &module) != 0;
}

std::string lastLoadError() { return "Win32 error " + std::to_string(GetLastError()); }

}  // namespace rez::platform
