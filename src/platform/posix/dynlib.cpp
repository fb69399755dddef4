#include "platform/dynlib.h"

#include <dlfcn.h>

namespace rez::platform {

void* loadLibrary(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
void* findSymbol(void* library, const char* name) { return dlsym(library, name); }
void freeLibrary(void* library) {
    if (library != nullptr) dlclose(library);
}
bool libraryLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    dlclose(handle);
    return true;
}

std::string lastLoadError() {
    const char* text = dlerror();
    return text != nullptr ? text : "";
}

}  // namespace rez::platform
