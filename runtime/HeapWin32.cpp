// The runtime heap on Windows: the process heap, taken once.
#include <windows.h>

#include "runtime/HeapPlatform.h"

namespace zv::heap::platform {
namespace {
HANDLE ProcessHeap() {
  static const HANDLE heap = GetProcessHeap();
  return heap;
}
}  // namespace

void* Allocate(std::size_t bytes) { return HeapAlloc(ProcessHeap(), 0, bytes ? bytes : 1); }
void* Reallocate(void* block, std::size_t bytes) { return HeapReAlloc(ProcessHeap(), 0, block, bytes ? bytes : 1); }
void Free(void* block) { HeapFree(ProcessHeap(), 0, block); }
}  // namespace zv::heap::platform
