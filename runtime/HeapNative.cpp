// The runtime heap in the native build (sanitizers, fuzzing): the C allocator, so that the address
// sanitizer sees every block.
#include <cstdlib>

#include "runtime/HeapPlatform.h"

namespace zv::heap::platform {
void* Allocate(std::size_t bytes) { return std::malloc(bytes ? bytes : 1); }
void* Reallocate(void* block, std::size_t bytes) { return std::realloc(block, bytes ? bytes : 1); }
void Free(void* block) { std::free(block); }
}  // namespace zv::heap::platform
