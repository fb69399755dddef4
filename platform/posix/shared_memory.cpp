#include "platform/shared_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace rez::platform {

namespace {
std::string objectName(const std::string& name) { return "/" + name; }
}  // namespace

bool SharedMemory::createOrOpen(const std::string& name, std::size_t size) {
    close();
    const std::string object = objectName(name);
    int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
    bool made = fd >= 0;
    if (!made && errno == EEXIST) fd = shm_open(object.c_str(), O_RDWR, 0666);
    if (fd < 0) return false;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        ::close(fd);
        if (made) shm_unlink(object.c_str());
        return false;
    }
    // Grow a small or new object to the wanted size, never shrink it.
    if (static_cast<std::size_t>(st.st_size) < size && ftruncate(fd, static_cast<off_t>(size)) != 0) {
        ::close(fd);
        if (made) shm_unlink(object.c_str());
        return false;
    }
    if (made) fchmod(fd, 0666);  // the umask must not lock out the other side
    handle_ = fd;
    created_ = made;
    openAccess_ = MapAccess::ReadWrite;
    name_ = name;
    return true;
}

bool SharedMemory::openExisting(const std::string& name, MapAccess access) {
    close();
    const std::string object = objectName(name);
    int fd = shm_open(object.c_str(), access == MapAccess::Read ? O_RDONLY : O_RDWR, 0);
    if (fd < 0) return false;
    handle_ = fd;
    created_ = false;
    openAccess_ = access;
    name_ = name;
    return true;
}

std::size_t SharedMemory::objectSize() const {
    if (!isOpen()) return 0;
    struct stat st {};
    if (fstat(handle_, &st) != 0 || st.st_size < 0) return 0;
    return static_cast<std::size_t>(st.st_size);
}

bool SharedMemory::map(MapAccess access, std::size_t size) {
    if (!isOpen()) return false;
    unmap();
    if (access == MapAccess::ReadWrite && openAccess_ == MapAccess::Read) return false;
    const std::size_t available = objectSize();
    if (size == 0) size = available;
    // Touching pages past the end of the object would raise SIGBUS.
    if (size == 0 || size > available) return false;
    int prot = access == MapAccess::Read ? PROT_READ : PROT_READ | PROT_WRITE;
    void* p = mmap(nullptr, size, prot, MAP_SHARED, handle_, 0);
    if (p == MAP_FAILED) return false;
    view_ = p;
    viewSize_ = size;
    return true;
}

void SharedMemory::unmap() {
    if (view_ != nullptr) munmap(view_, viewSize_);
    view_ = nullptr;
    viewSize_ = 0;
}

void SharedMemory::close() {
    unmap();
    if (isOpen()) {
        ::close(handle_);
        if (created_) shm_unlink(objectName(name_).c_str());
    }
    handle_ = invalidHandle;
    created_ = false;
    name_.clear();
}

void SharedMemory::removeName(const std::string& name) { shm_unlink(objectName(name).c_str()); }

}  // namespace rez::platform
