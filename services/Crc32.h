// CRC-32 of byte blocks: the polynomial of zip and Ethernet (reflected 0xEDB88320), initial value and
// final complement all ones, so Crc32("123456789") is 0xCBF43926 and the build can compute the same
// value with any zip library. Platform-neutral. Where the processor has carry-less multiplication the
// bulk of a block is folded 16 or 32 bytes at a time; elsewhere, and for short blocks, a table does it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv {

// The CRC-32 of `length` bytes. `crc` is the CRC-32 of the bytes that came before them (0 at the
// start), so a block can be checked in pieces: Crc32(b, n2, Crc32(a, n1)) == Crc32(a then b).
// Uses the fastest method that the processor offers.
std::uint32_t Crc32(const void* bytes, std::size_t length, std::uint32_t crc = 0);

// The ways of computing it, for the tests that compare each with a plain bit-by-bit reference.
namespace crc32_detail {
enum class Method {
  Table,    // one byte at a time through a 256-entry table; every processor
  Fold128,  // carry-less multiplication on 128-bit registers (SSE2 and PCLMULQDQ)
  Fold256,  // the same on 256-bit registers (AVX2 and VPCLMULQDQ, enabled by the system)
};
bool Available(Method method);
// Only for a method that is available.
std::uint32_t Compute(Method method, const void* bytes, std::size_t length, std::uint32_t crc);
}  // namespace crc32_detail

}  // namespace zv
