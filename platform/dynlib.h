#pragma once
// Loading a shared library at run time, as a host application does.
#include <string>

namespace rez::platform {

void* loadLibrary(const std::string& path);
void* findSymbol(void* library, const char* name);
void freeLibrary(void* library);
std::string lastLoadError();

}  // namespace rez::platform
