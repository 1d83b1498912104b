// CRC-32 of byte blocks: the polynomial of zip and Ethernet (reflected 0xEDB88320), initial value and
// final complement all ones, so Crc32("123456789") is 0xCBF43926 and the build can compute the same
// value with any zip library. Platform-neutral. Where the processor has carry-less multiplication the
// bulk of a block is folded sixteen bytes at a time; elsewhere, and for short blocks, a table does it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv {

// The CRC-32 of `length` bytes. `crc` is the CRC-32 of the bytes that came before them (0 at the
// start), so a block can be checked in pieces: Crc32(b, n2, Crc32(a, n1)) == Crc32(a then b).
std::uint32_t Crc32(const void* bytes, std::size_t length, std::uint32_t crc = 0);

// The two ways of computing it, for the tests that compare them with each other and with a plain
// bit-by-bit reference. Folding may only be called where FoldingAvailable() is true.
namespace crc32_detail {
std::uint32_t Table(const void* bytes, std::size_t length, std::uint32_t crc);
std::uint32_t Folding(const void* bytes, std::size_t length, std::uint32_t crc);
bool FoldingAvailable();
}  // namespace crc32_detail

}  // namespace zv
