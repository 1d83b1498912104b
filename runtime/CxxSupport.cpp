// The C++ support that the shipped executables need, without the library's exception machinery:
// operator new and delete on the runtime heap (a failed allocation is the heap's fatal error), and the
// few std::__throw_* helpers that the containers name, which here are fatal errors too.
#include <cstddef>
#include <new>

#include "runtime/Fatal.h"
#include "runtime/Heap.h"

void* operator new(std::size_t bytes) { return zv::heap::Allocate(bytes); }
void* operator new[](std::size_t bytes) { return zv::heap::Allocate(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return zv::heap::Allocate(bytes); }
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return zv::heap::Allocate(bytes); }
void operator delete(void* p) noexcept { zv::heap::Free(p); }
void operator delete[](void* p) noexcept { zv::heap::Free(p); }
void operator delete(void* p, std::size_t) noexcept { zv::heap::Free(p); }
void operator delete[](void* p, std::size_t) noexcept { zv::heap::Free(p); }

namespace std {
[[noreturn]] void __throw_bad_alloc() { zv::ReportAllocationFailure(0); }
[[noreturn]] void __throw_bad_array_new_length() { zv::ReportAllocationFailure(0); }
[[noreturn]] void __throw_length_error(const char*) { zv::ReportRuntimeError(1); }
[[noreturn]] void __throw_out_of_range(const char*) { zv::ReportRuntimeError(1); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { zv::ReportRuntimeError(1); }
[[noreturn]] void __throw_logic_error(const char*) { zv::ReportRuntimeError(1); }
[[noreturn]] void __throw_invalid_argument(const char*) { zv::ReportRuntimeError(1); }
[[noreturn]] void __throw_bad_function_call() { zv::ReportRuntimeError(1); }
}  // namespace std
