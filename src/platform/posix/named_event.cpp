#include "platform/named_event.h"

#include <fcntl.h>
#include <semaphore.h>
#include <sys/stat.h>

#include <cerrno>

namespace rez::platform {

namespace {
std::string objectName(const std::string& name) { return "/" + name; }
sem_t* asSemaphore(void* handle) { return static_cast<sem_t*>(handle); }
}  // namespace

NamedEvent::~NamedEvent() { close(); }

bool NamedEvent::openExisting(const std::string& name) {
    close();
    sem_t* s = sem_open(objectName(name).c_str(), 0);
    if (s == SEM_FAILED) return false;
    handle_ = s;
    created_ = false;
    name_ = name;
    return true;
}

bool NamedEvent::create(const std::string& name) {
    close();
    const std::string object = objectName(name);
    sem_t* s = sem_open(object.c_str(), O_CREAT | O_EXCL, 0666, 0);
    bool made = s != SEM_FAILED;
    if (!made && errno == EEXIST) s = sem_open(object.c_str(), 0);
    if (s == SEM_FAILED) return false;
    handle_ = s;
    created_ = made;
    name_ = name;
    return true;
}

bool NamedEvent::signal() {
    if (!isOpen()) return false;
    // An event that is set stays set; keep the count at one so that a
    // stand-in signalled every frame does not count up without end.
    int value = 0;
    if (sem_getvalue(asSemaphore(handle_), &value) == 0 && value > 0) return true;
    return sem_post(asSemaphore(handle_)) == 0;
}

void NamedEvent::close() {
    if (isOpen()) {
        sem_close(asSemaphore(handle_));
        if (created_) sem_unlink(objectName(name_).c_str());
    }
    handle_ = nullptr;
    created_ = false;
    name_.clear();
}

void NamedEvent::removeName(const std::string& name) { sem_unlink(objectName(name).c_str()); }

}  // namespace rez::platform
