// The runtime heap: every Text, ByteArray and TextArray block comes from here (the process heap on
// Windows). Allocation never returns null: a failed allocation is a fatal runtime error. Freeing null
// or a pointer into the registered constant range (the program image) does nothing, so callers free
// every text variable unconditionally, whether it holds a heap copy or a constant.
#pragma once

#include <cstddef>

namespace zv::heap {

// A block of at least `bytes` bytes, uninitialised. Never null.
void* Allocate(std::size_t bytes);
// Like Allocate, filled with zero bytes.
void* AllocateZeroed(std::size_t bytes);
// Grows or shrinks a block from Allocate; the contents up to the smaller size are kept. Never null.
void* Reallocate(void* block, std::size_t bytes);
// Returns a block to the heap. Null and pointers into the constant range are ignored.
void Free(void* block);

// Registers [begin, end) as constant data that Free must leave alone. One range; a later call
// replaces it.
void RegisterConstantRange(const void* begin, const void* end);
bool IsConstant(const void* p);

}  // namespace zv::heap
