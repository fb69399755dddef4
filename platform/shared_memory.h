#pragma once
// Named shared memory. On Windows a named file mapping backed by the page file;
// on Linux a POSIX shared-memory object named "/" + name (the backslash in
// "Local\..." is an ordinary character there).
//
// Lifetime: a Windows mapping disappears when its last handle closes. POSIX
// objects persist until unlinked, so on Linux the object is unlinked when the
// handle that created it closes; a handle that only opened it leaves it alone.
#include <cstddef>
#include <string>

namespace rez::platform {

enum class MapAccess { Read, ReadWrite };

class SharedMemory {
public:
    SharedMemory() = default;
    ~SharedMemory();
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;
    SharedMemory(SharedMemory&& other) noexcept;
    SharedMemory& operator=(SharedMemory&& other) noexcept;

    // Creates a read/write mapping of `size` bytes, or opens it when it
    // exists already (an existing object is never shrunk). Closes any handle
    // held before. Returns false when neither works.
    bool createOrOpen(const std::string& name, std::size_t size);
    // Opens a mapping that must exist already.
    bool openExisting(const std::string& name, MapAccess access);

    // Maps a view of `size` bytes from offset 0 (0 = the whole object).
    // Fails when the object is smaller than `size`.
    bool map(MapAccess access, std::size_t size = 0);
    void unmap();
    // Unmaps and closes the handle.
    void close();

    bool isOpen() const { return handle_ != invalidHandle; }
    bool isMapped() const { return view_ != nullptr; }
    // True when createOrOpen made a new object rather than opening one.
    bool created() const { return created_; }
    unsigned char* data() const { return static_cast<unsigned char*>(view_); }
    std::size_t viewSize() const { return viewSize_; }
    // Size of the underlying object as the system reports it now (0 if unknown).
    std::size_t objectSize() const;

    // Removes a leftover POSIX object by name (tests); nothing on Windows.
    static void removeName(const std::string& name);

private:
#if defined(_WIN32)
    using Handle = void*;
    static constexpr Handle invalidHandle = nullptr;
#else
    using Handle = int;
    static constexpr Handle invalidHandle = -1;
#endif
    Handle handle_ = invalidHandle;
    void* view_ = nullptr;
    std::size_t viewSize_ = 0;
    bool created_ = false;
    MapAccess openAccess_ = MapAccess::Read;
    std::string name_;
};

}  // namespace rez::platform
