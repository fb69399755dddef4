#include "sources/shared_memory_readers.h"

namespace rez {

std::unique_ptr<GameReader> makeSharedMemoryReader(int) { return nullptr; }

}  // namespace rez
