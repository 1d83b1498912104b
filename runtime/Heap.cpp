// The constant-range bookkeeping shared by both heap back ends; the blocks themselves come from the
// platform (HeapWin32.cpp: the process heap; HeapNative.cpp: malloc, for the native test build).
#include "runtime/Heap.h"

#include <cstdint>
#include <cstring>

#include "runtime/Fatal.h"
#include "runtime/HeapPlatform.h"

namespace zv::heap {
namespace {
std::uintptr_t g_constantBegin = 0;
std::uintptr_t g_constantEnd = 0;
}  // namespace

void RegisterConstantRange(const void* begin, const void* end) {
  g_constantBegin = reinterpret_cast<std::uintptr_t>(begin);
  g_constantEnd = reinterpret_cast<std::uintptr_t>(end);
}

bool IsConstant(const void* p) {
  const auto a = reinterpret_cast<std::uintptr_t>(p);
  return a >= g_constantBegin && a < g_constantEnd;
}

void* Allocate(std::size_t bytes) {
  void* p = platform::Allocate(bytes);
  if (p == nullptr) ReportAllocationFailure(bytes);
  return p;
}

void* AllocateZeroed(std::size_t bytes) {
  void* p = Allocate(bytes);
  std::memset(p, 0, bytes);
  return p;
}

void* Reallocate(void* block, std::size_t bytes) {
  if (block == nullptr) return Allocate(bytes);
  void* p = platform::Reallocate(block, bytes);
  if (p == nullptr) ReportAllocationFailure(bytes);
  return p;
}

void Free(void* block) {
  if (block == nullptr || IsConstant(block)) return;
  platform::Free(block);
}

}  // namespace zv::heap
