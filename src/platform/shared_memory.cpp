#include "platform/shared_memory.h"

#include <utility>

namespace rez::platform {

SharedMemory::~SharedMemory() { close(); }

SharedMemory::SharedMemory(SharedMemory&& other) noexcept { *this = std::move(other); }

SharedMemory& SharedMemory::operator=(SharedMemory&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, invalidHandle);
        view_ = std::exchange(other.view_, nullptr);
        viewSize_ = std::exchange(other.viewSize_, 0);
        created_ = std::exchange(other.created_, false);
        openAccess_ = other.openAccess_;
        name_ = std::move(other.name_);
    }
    return *this;
}

}  // namespace rez::platform
