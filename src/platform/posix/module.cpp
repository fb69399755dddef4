#include "platform/module.h"

#include <dlfcn.h>
#include <pthread.h>

#include <cstring>

namespace rez::platform {
namespace {

static_assert(sizeof(pthread_t) <= sizeof(std::uintptr_t), "pthread_t must fit the handle field");

struct Launch {
    LibraryThread::Body body;
    void* context;
};

void* threadStart(void* parameter) {
    const Launch launch = *static_cast<Launch*>(parameter);
    delete static_cast<Launch*>(parameter);
    launch.body(launch.context);
    return nullptr;
}

// Another reference to the shared object this code lives in; null when it
// is part of the executable, which is never unloaded.
void* referenceThisLibrary() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&threadStart), &info) == 0 || info.dli_fname == nullptr) return nullptr;
    void* self = dlopen(nullptr, RTLD_LAZY);
    void* library = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    if (self != nullptr) dlclose(self);
    if (library != nullptr && library == self) {
        dlclose(library);
        return nullptr;
    }
    return library;
}

}  // namespace

bool processEnding() { return false; }

LibraryThread::~LibraryThread() { release(); }

bool LibraryThread::start(Body body, void* context, std::size_t stackBytes, std::string& whyNot) {
    if (started_) {
        whyNot = "already running";
        return false;
    }
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    int result = stackBytes != 0 ? pthread_attr_setstacksize(&attributes, stackBytes) : 0;
    void* library = referenceThisLibrary();
    auto* launch = new Launch{body, context};
    pthread_t thread{};
    if (result == 0) result = pthread_create(&thread, &attributes, threadStart, launch);
    pthread_attr_destroy(&attributes);
    if (result != 0) {
        whyNot = std::string("error ") + std::to_string(result) + " (" + std::strerror(result) + ")";
        delete launch;
        if (library != nullptr) dlclose(library);  // the caller still holds its own reference
        return false;
    }
    started_ = true;
    handle_ = static_cast<std::uintptr_t>(thread);
    library_ = library;
    return true;
}

bool LibraryThread::isCurrentThread() const {
    return started_ && pthread_equal(pthread_self(), static_cast<pthread_t>(handle_)) != 0;
}

void LibraryThread::join(bool dropLibrary) {
    if (!started_) return;
    pthread_join(static_cast<pthread_t>(handle_), nullptr);
    started_ = false;
    handle_ = 0;
    if (dropLibrary && library_ != nullptr) dlclose(library_);
    library_ = nullptr;
}

void LibraryThread::release() {
    if (started_) pthread_detach(static_cast<pthread_t>(handle_));
    started_ = false;
    handle_ = 0;
    library_ = nullptr;  // kept for good: the detached thread may still run library code
}

}  // namespace rez::platform
