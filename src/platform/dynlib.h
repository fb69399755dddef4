#pragma once
// Loading a shared library at run time, as a host application does.
#include <string>

namespace rez::platform {

void* loadLibrary(const std::string& path);
void* findSymbol(void* library, const char* name);
void freeLibrary(void* library);
std::string lastLoadError();
// Whether the library at `path` is loaded in this process now (loads nothing).
bool libraryLoaded(const std::string& path);

}  // namespace rez::platform
