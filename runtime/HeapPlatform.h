// The platform's allocator behind the runtime heap. Each returns null on failure; the runtime heap
// turns that into the fatal allocation error.
#pragma once

#include <cstddef>

namespace zv::heap::platform {
void* Allocate(std::size_t bytes);
void* Reallocate(void* block, std::size_t bytes);
void Free(void* block);
}  // namespace zv::heap::platform
