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

// Modes of the objects made here: the library's own blocks are read by any
// user and written by their maker only; a block made in a game's place must
// stay writable for the game that opens it later.
constexpr mode_t kOwnBlockMode = 0644;
constexpr mode_t kGameBlockMode = 0666;

// Makes a new object of `size` bytes; -1 with errno EEXIST when the name is
// taken. The mode is set after creation so the umask cannot lock out the
// other side.
int createObject(const std::string& object, std::size_t size, mode_t mode) {
    int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, mode);
    if (fd < 0) return -1;
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        const int error = errno;
        ::close(fd);
        shm_unlink(object.c_str());
        errno = error;
        return -1;
    }
    fchmod(fd, mode);
    return fd;
}

std::size_t roundUpToPages(std::size_t size) {
    const std::size_t page = SharedMemory::pageSize();
    return (size + page - 1) / page * page;
}

}  // namespace

std::size_t SharedMemory::pageSize() {
    const long page = sysconf(_SC_PAGESIZE);
    return page > 0 ? static_cast<std::size_t>(page) : 4096;
}

bool SharedMemory::createOrOpen(const std::string& name, std::size_t size) {
    close();
    const std::string object = objectName(name);
    int fd = createObject(object, size, kOwnBlockMode);
    const bool made = fd >= 0;
    if (!made && errno == EEXIST) fd = shm_open(object.c_str(), O_RDWR, 0666);
    if (fd < 0) return false;
    handle_ = fd;
    created_ = made;
    openAccess_ = MapAccess::ReadWrite;
    name_ = name;
    return true;
}

bool SharedMemory::openReadOnlyOrCreate(const std::string& name, std::size_t size) {
    close();
    const std::string object = objectName(name);
    // The game may make its block between the two calls; then it is opened on
    // the next round instead of being made here.
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = shm_open(object.c_str(), O_RDONLY, 0);
        bool made = false;
        if (fd < 0 && errno == ENOENT) {
            fd = createObject(object, size, kGameBlockMode);
            made = fd >= 0;
            if (!made && errno == EEXIST) continue;
        }
        if (fd < 0) return false;
        handle_ = fd;
        created_ = made;
        openAccess_ = MapAccess::Read;
        name_ = name;
        return true;
    }
    return false;
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

bool SharedMemory::openToAnyUser(MapAccess access) const {
    if (!isOpen()) return false;
    struct stat st {};
    const mode_t wanted = access == MapAccess::Read ? S_IROTH : S_IROTH | S_IWOTH;
    return fstat(handle_, &st) == 0 && (st.st_mode & wanted) == wanted;
}

bool SharedMemory::map(MapAccess access, std::size_t size) {
    if (!isOpen()) return false;
    unmap();
    if (access == MapAccess::ReadWrite && openAccess_ == MapAccess::Read) return false;
    const std::size_t available = roundUpToPages(objectSize());
    if (size == 0) size = available;
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
        // A block this process made goes with it, as on Windows, but only while
        // the name still leads to it: a game that made its own block under that
        // name meanwhile must keep it.
        if (created_ && stillUnderItsName()) shm_unlink(objectName(name_).c_str());
        ::close(handle_);
    }
    handle_ = invalidHandle;
    created_ = false;
    name_.clear();
}

bool SharedMemory::stillUnderItsName() const {
    if (!isOpen() || name_.empty()) return false;
    const int named = shm_open(objectName(name_).c_str(), O_RDONLY, 0);
    if (named < 0) return false;
    struct stat held {}, found {};
    const bool same = fstat(handle_, &held) == 0 && fstat(named, &found) == 0 && held.st_dev == found.st_dev &&
                      held.st_ino == found.st_ino;
    ::close(named);
    return same;
}

void SharedMemory::removeName(const std::string& name) { shm_unlink(objectName(name).c_str()); }

}  // namespace rez::platform
