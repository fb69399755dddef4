#pragma once
// Named shared memory. On Windows a named file mapping backed by the page file;
// on Linux a POSIX shared-memory object named "/" + name (the backslash in
// "Local\..." is an ordinary character there).
//
// Lifetime: a Windows mapping disappears when its last handle closes. POSIX
// objects persist until unlinked, so on Linux the object is unlinked when the
// handle that created it closes; a handle that only opened it leaves it alone.
//
// Sizes are judged as Windows judges them. A Windows section is made of whole
// pages, so a view may reach past the size its maker asked for up to the end
// of the last page (that tail reads as zero), and no further. Linux follows
// the same rule: a view up to the object's size rounded up to whole pages is
// mapped, a larger one is refused, so no view ever reaches a page the object
// does not have (touching one would raise SIGBUS there).
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

    // For the library's own blocks (the pose block, the link sections):
    // creates a read/write mapping of `size` bytes, or opens it read/write
    // when it exists already. An existing object keeps its size. A block made
    // here may be read by any local user, whatever rights this process runs
    // with, so that headset software started without elevation can read the
    // pose of an elevated host. Closes any handle held before. Returns false
    // when neither works.
    bool createOrOpen(const std::string& name, std::size_t size);
    // For a game's block that the library must make when the game has not:
    // opens an existing object read-only and never writes into it or resizes
    // it; only when there is none, creates one of `size` bytes (zeros, and
    // writable by the game that may open it later). Either way the handle
    // gives read-only views only.
    bool openReadOnlyOrCreate(const std::string& name, std::size_t size);
    // Opens a mapping that must exist already.
    bool openExisting(const std::string& name, MapAccess access);

    // Maps a view of `size` bytes from offset 0 (0 = the whole object, page-
    // rounded). Fails when `size` is more than the object's page-rounded size.
    bool map(MapAccess access, std::size_t size = 0);
    void unmap();
    // Unmaps and closes the handle.
    void close();

    bool isOpen() const { return handle_ != invalidHandle; }
    bool isMapped() const { return view_ != nullptr; }
    // True when the last create call made a new object rather than opening one.
    bool created() const { return created_; }
    unsigned char* data() const { return static_cast<unsigned char*>(view_); }
    // Bytes of the present view, the same on both systems: the size asked of
    // map(), or for map(0) the object's size rounded up to whole pages. Bytes
    // past the object's own end (within its last page) read as zero.
    std::size_t viewSize() const { return viewSize_; }
    // Size of the underlying object as the system reports it now (0 if
    // unknown). Linux: the object's exact size in bytes. Windows: the size
    // rounded up to whole pages, since Windows tells no finer size of a
    // section it did not make.
    std::size_t objectSize() const;
    // Whether any local user, without elevation, may map the object with this
    // access: Linux checks the mode's "other" bits, Windows the mapping's DACL
    // (an allow entry for Everyone or Authenticated Users that covers such a
    // view; no DACL at all lets everyone in). False when the handle may not
    // read its own security. Blocks made by createOrOpen are open to any user
    // for reading and to none but their maker and administrators for writing.
    bool openToAnyUser(MapAccess access) const;

    // Whether the name this handle was opened by still leads to the object it
    // holds. A game that quits and starts again publishes its block anew:
    // Windows hands the new session the object a held handle keeps alive, so
    // there it is always the same one; a POSIX name then leads to a new
    // object, or to none, while the old one stays mapped here unchanged.
    bool stillUnderItsName() const;

    // Removes a leftover POSIX object by name (tests); nothing on Windows.
    static void removeName(const std::string& name);
    // The system's page size, the unit in which sizes are judged.
    static std::size_t pageSize();

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
