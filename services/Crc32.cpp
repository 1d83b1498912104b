// CRC-32 by table and by carry-less multiplication. Both work on the inverted running value (the
// "state"); only the public functions complement it on the way in and out.
//
// Folding: a 64-byte block of four 128-bit lanes is carried forward across 512 bits by multiplying
// each lane's halves with x^(512+64) and x^512 (mod P, bit-reflected) and adding the next 64 bytes;
// at the end the lanes are folded into one, that one down to 64 and 32 bits, and a Barrett reduction
// yields the remainder. The constants are those powers of x modulo P, and P and its Barrett quotient.
// Checking the 8 MB of payloads this way costs a fraction of a millisecond, against several
// milliseconds for the table, which matters because the check is part of every installation.
#include "services/Crc32.h"

#include <array>
#include <atomic>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <emmintrin.h>
#include <wmmintrin.h>
#define ZV_CRC32_FOLDING 1
#endif

namespace zv {
namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;

constexpr std::array<std::uint32_t, 256> MakeTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (c >> 1) ^ kPolynomial : c >> 1;
    table[i] = c;
  }
  return table;
}
constexpr std::array<std::uint32_t, 256> kTable = MakeTable();

std::uint32_t TableUpdate(std::uint32_t state, const unsigned char* p, std::size_t length) {
  while (length-- > 0) state = kTable[(state ^ *p++) & 0xFFu] ^ (state >> 8);
  return state;
}

#ifdef ZV_CRC32_FOLDING
// Blocks shorter than this go to the table: folding needs one full 64-byte block to start.
constexpr std::size_t kFoldingMinimum = 64;

// The processor may be called with the stack aligned to 4 bytes only (32-bit Windows), so the
// function realigns it before spilling any 16-byte register.
#if defined(__i386__)
#define ZV_CRC32_ENTRY __attribute__((target("sse2,pclmul"), force_align_arg_pointer))
#else
#define ZV_CRC32_ENTRY __attribute__((target("sse2,pclmul")))
#endif
#define ZV_CRC32_HELPER __attribute__((target("sse2,pclmul"), always_inline)) inline

ZV_CRC32_HELPER __m128i Load(const unsigned char* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// Carries `lane` forward by the distance that `k` stands for and adds `next`: the lane's low half
// times k's low half plus its high half times k's high half.
ZV_CRC32_HELPER __m128i Fold(__m128i lane, __m128i k, __m128i next) {
  return _mm_xor_si128(
      _mm_xor_si128(_mm_clmulepi64_si128(lane, k, 0x00), _mm_clmulepi64_si128(lane, k, 0x11)), next);
}

// The state after `length` bytes, a multiple of 16 and at least 64.
ZV_CRC32_ENTRY std::uint32_t FoldUpdate(std::uint32_t state, const unsigned char* p, std::size_t length) {
  // x^n mod P, bit-reflected and shifted as the multiplication wants them; low half first.
  const __m128i across512 = _mm_set_epi64x(0x01C6E41596ll, 0x0154442BD4ll);  // n = 512+32, 512-32
  const __m128i across128 = _mm_set_epi64x(0x00CCAA009Ell, 0x01751997D0ll);  // n = 128+32, 128-32
  const __m128i across64 = _mm_set_epi64x(0, 0x0163CD6124ll);                // n = 64
  const __m128i barrett = _mm_set_epi64x(0x01F7011641ll, 0x01DB710641ll);    // P, then floor(x^64 / P)
  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);

  __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(state)));
  __m128i x2 = Load(p + 16);
  __m128i x3 = Load(p + 32);
  __m128i x4 = Load(p + 48);
  p += 64;
  length -= 64;

  while (length >= 64) {
    x1 = Fold(x1, across512, Load(p));
    x2 = Fold(x2, across512, Load(p + 16));
    x3 = Fold(x3, across512, Load(p + 32));
    x4 = Fold(x4, across512, Load(p + 48));
    p += 64;
    length -= 64;
  }

  // Four lanes into one, then the remaining 16-byte blocks.
  x1 = Fold(x1, across128, x2);
  x1 = Fold(x1, across128, x3);
  x1 = Fold(x1, across128, x4);
  while (length >= 16) {
    x1 = Fold(x1, across128, Load(p));
    p += 16;
    length -= 16;
  }

  // 128 bits to 64, then to 32 bits and 32 more to reduce.
  x2 = _mm_clmulepi64_si128(x1, across128, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
  x2 = _mm_srli_si128(x1, 4);
  x1 = _mm_and_si128(x1, low32);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(x1, across64, 0x00), x2);

  // Barrett reduction to the 32-bit remainder.
  x2 = _mm_and_si128(x1, low32);
  x2 = _mm_clmulepi64_si128(x2, barrett, 0x10);
  x2 = _mm_and_si128(x2, low32);
  x2 = _mm_clmulepi64_si128(x2, barrett, 0x00);
  x1 = _mm_xor_si128(x1, x2);
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x1, 4)));
}

bool DetectFolding() {
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  return (ecx & bit_PCLMUL) != 0 && (edx & bit_SSE2) != 0;
}
#endif

}  // namespace

namespace crc32_detail {

std::uint32_t Table(const void* bytes, std::size_t length, std::uint32_t crc) {
  return ~TableUpdate(~crc, static_cast<const unsigned char*>(bytes), length);
}

bool FoldingAvailable() {
#ifdef ZV_CRC32_FOLDING
  // 0 not yet asked, 1 no, 2 yes. Asking twice is harmless, so there is no lock.
  static std::atomic<int> known{0};
  int answer = known.load(std::memory_order_relaxed);
  if (answer == 0) {
    answer = DetectFolding() ? 2 : 1;
    known.store(answer, std::memory_order_relaxed);
  }
  return answer == 2;
#else
  return false;
#endif
}

std::uint32_t Folding(const void* bytes, std::size_t length, std::uint32_t crc) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  std::uint32_t state = ~crc;
#ifdef ZV_CRC32_FOLDING
  if (length >= kFoldingMinimum) {
    const std::size_t folded = length & ~static_cast<std::size_t>(15);
    state = FoldUpdate(state, p, folded);
    p += folded;
    length -= folded;
  }
#endif
  return ~TableUpdate(state, p, length);
}

}  // namespace crc32_detail

std::uint32_t Crc32(const void* bytes, std::size_t length, std::uint32_t crc) {
  if (crc32_detail::FoldingAvailable()) return crc32_detail::Folding(bytes, length, crc);
  return crc32_detail::Table(bytes, length, crc);
}

}  // namespace zv
