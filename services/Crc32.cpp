// CRC-32 by table and by carry-less multiplication. All methods work on the inverted running value
// (the "state"); only the public functions complement it on the way in and out.
//
// Folding: the block is read as several 128-bit lanes side by side. Each lane is carried forward
// across the width of one round (multiplying its two 64-bit halves by x^(d+32) and x^(d-32) mod P,
// d the distance in bits) and the data of the next round is added to it. At the end the lanes are
// folded into one, that one down to 64 and 32 bits, and a Barrett reduction yields the remainder.
// The constants are those powers of x modulo P, bit-reflected and shifted as the multiplication
// wants them, and P and its Barrett quotient.
// Checking the 8 MB of payloads costs about 0.3 ms with 256-bit registers and 0.6 ms with 128-bit
// ones, against 20 ms through the table; the check is part of every installation's write phase.
#include "services/Crc32.h"

#include <atomic>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define ZV_CRC32_FOLDING 1
#endif

namespace zv {
namespace {

using crc32_detail::Method;

constexpr std::uint32_t kPolynomial = 0xEDB88320u;

// The byte table, made at the first use rather than carried in the program file (1 KB of it).
// Two threads that make it at once write the same values, so its entries are atomic and the flag
// that says it is complete is set after them.
std::atomic<std::uint32_t> g_table[256];
std::atomic<bool> g_tableMade{false};

const std::atomic<std::uint32_t>* Table() {
  if (!g_tableMade.load(std::memory_order_acquire)) {
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (c >> 1) ^ kPolynomial : c >> 1;
      g_table[i].store(c, std::memory_order_relaxed);
    }
    g_tableMade.store(true, std::memory_order_release);
  }
  return g_table;
}

std::uint32_t TableUpdate(std::uint32_t state, const unsigned char* p, std::size_t length) {
  const std::atomic<std::uint32_t>* table = Table();
  while (length-- > 0) state = table[(state ^ *p++) & 0xFFu].load(std::memory_order_relaxed) ^ (state >> 8);
  return state;
}

#ifdef ZV_CRC32_FOLDING
// Constants: x^(d+32) and x^(d-32) mod P for a distance of d bits, in a lane's low and high half.
constexpr long long kAcross1024[2] = {0x01E88EF372ll, 0x014A7FE880ll};
constexpr long long kAcross512[2] = {0x0154442BD4ll, 0x01C6E41596ll};
constexpr long long kAcross256[2] = {0x00F1DA05AAll, 0x015A546366ll};
constexpr long long kAcross128[2] = {0x01751997D0ll, 0x00CCAA009Ell};
constexpr long long kAcross64 = 0x0163CD6124ll;
constexpr long long kBarrett[2] = {0x01DB710641ll, 0x01F7011641ll};  // P, then floor(x^64 / P)

// The processor may be called with the stack aligned to 4 bytes only (32-bit Windows), so the entry
// points realign it before spilling any vector register.
#if defined(__i386__)
#define ZV_REALIGN force_align_arg_pointer
#else
#define ZV_REALIGN
#endif
#define ZV_FOLD128_ENTRY __attribute__((target("sse2,pclmul"), ZV_REALIGN))
#define ZV_FOLD128_HELPER __attribute__((target("sse2,pclmul"), always_inline)) inline
#define ZV_FOLD256_ENTRY __attribute__((target("avx2,pclmul,vpclmulqdq"), ZV_REALIGN))
#define ZV_FOLD256_HELPER __attribute__((target("avx2,pclmul,vpclmulqdq"), always_inline)) inline

ZV_FOLD128_HELPER __m128i Load(const unsigned char* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// Carries `lane` forward by the distance that `k` stands for and adds `next`: the lane's low half
// times k's low half plus its high half times k's high half.
ZV_FOLD128_HELPER __m128i Fold(__m128i lane, __m128i k, __m128i next) {
  return _mm_xor_si128(
      _mm_xor_si128(_mm_clmulepi64_si128(lane, k, 0x00), _mm_clmulepi64_si128(lane, k, 0x11)), next);
}

// The state after one lane `x` (the last 16 bytes so far) and then the remaining `length` bytes, a
// multiple of 16: the single-lane rounds, then the reduction to 32 bits.
ZV_FOLD128_HELPER std::uint32_t FinishFold(__m128i x, const unsigned char* p, std::size_t length) {
  const __m128i across128 = _mm_set_epi64x(kAcross128[1], kAcross128[0]);
  const __m128i across64 = _mm_set_epi64x(0, kAcross64);
  const __m128i barrett = _mm_set_epi64x(kBarrett[1], kBarrett[0]);
  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
  for (; length >= 16; p += 16, length -= 16) x = Fold(x, across128, Load(p));

  // 128 bits to 64, then to 32 bits and 32 more to reduce.
  __m128i y = _mm_clmulepi64_si128(x, across128, 0x10);
  x = _mm_xor_si128(_mm_srli_si128(x, 8), y);
  y = _mm_srli_si128(x, 4);
  x = _mm_and_si128(x, low32);
  x = _mm_xor_si128(_mm_clmulepi64_si128(x, across64, 0x00), y);

  // Barrett reduction to the 32-bit remainder.
  y = _mm_and_si128(x, low32);
  y = _mm_clmulepi64_si128(y, barrett, 0x10);
  y = _mm_and_si128(y, low32);
  y = _mm_clmulepi64_si128(y, barrett, 0x00);
  x = _mm_xor_si128(x, y);
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x, 4)));
}

// Four 128-bit lanes, 64 bytes a round. `length` is a multiple of 16 and at least 64.
ZV_FOLD128_ENTRY std::uint32_t FoldUpdate128(std::uint32_t state, const unsigned char* p,
                                             std::size_t length) {
  const __m128i across512 = _mm_set_epi64x(kAcross512[1], kAcross512[0]);
  const __m128i across128 = _mm_set_epi64x(kAcross128[1], kAcross128[0]);
  __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(state)));
  __m128i x2 = Load(p + 16);
  __m128i x3 = Load(p + 32);
  __m128i x4 = Load(p + 48);
  for (p += 64, length -= 64; length >= 64; p += 64, length -= 64) {
    x1 = Fold(x1, across512, Load(p));
    x2 = Fold(x2, across512, Load(p + 16));
    x3 = Fold(x3, across512, Load(p + 32));
    x4 = Fold(x4, across512, Load(p + 48));
  }
  x1 = Fold(x1, across128, x2);
  x1 = Fold(x1, across128, x3);
  x1 = Fold(x1, across128, x4);
  return FinishFold(x1, p, length);
}

ZV_FOLD256_HELPER __m256i Load256(const unsigned char* at) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

ZV_FOLD256_HELPER __m256i FoldWide(__m256i lanes, __m256i k, __m256i next) {
  return _mm256_xor_si256(
      _mm256_xor_si256(_mm256_clmulepi64_epi128(lanes, k, 0x00), _mm256_clmulepi64_epi128(lanes, k, 0x11)),
      next);
}

// Eight 128-bit lanes in four 256-bit registers, 128 bytes a round. `length` is a multiple of 16 and
// at least 128.
ZV_FOLD256_ENTRY std::uint32_t FoldUpdate256(std::uint32_t state, const unsigned char* p,
                                             std::size_t length) {
  const __m256i across1024 =
      _mm256_set_epi64x(kAcross1024[1], kAcross1024[0], kAcross1024[1], kAcross1024[0]);
  const __m256i across256 = _mm256_set_epi64x(kAcross256[1], kAcross256[0], kAcross256[1], kAcross256[0]);
  const __m128i across128 = _mm_set_epi64x(kAcross128[1], kAcross128[0]);
  __m256i y1 =
      _mm256_xor_si256(Load256(p), _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(state))));
  __m256i y2 = Load256(p + 32);
  __m256i y3 = Load256(p + 64);
  __m256i y4 = Load256(p + 96);
  for (p += 128, length -= 128; length >= 128; p += 128, length -= 128) {
    y1 = FoldWide(y1, across1024, Load256(p));
    y2 = FoldWide(y2, across1024, Load256(p + 32));
    y3 = FoldWide(y3, across1024, Load256(p + 64));
    y4 = FoldWide(y4, across1024, Load256(p + 96));
  }
  // Four registers into one (each lane 256 bits on to its neighbour's place), then its two lanes.
  y1 = FoldWide(y1, across256, y2);
  y1 = FoldWide(y1, across256, y3);
  y1 = FoldWide(y1, across256, y4);
  const __m128i x = Fold(_mm256_castsi256_si128(y1), across128, _mm256_extracti128_si256(y1, 1));
  return FinishFold(x, p, length);
}

// The system saves the 256-bit registers (XCR0 bits 1 and 2) when OSXSAVE is set.
bool SystemSavesWideRegisters() {
  unsigned int low = 0, high = 0;
  __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(low), "=d"(high) : "c"(0));  // xgetbv
  return (low & 6u) == 6u;
}

int DetectMethods() {
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  int methods = 1 << static_cast<int>(Method::Table);
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return methods;
  if ((ecx & bit_PCLMUL) == 0 || (edx & bit_SSE2) == 0) return methods;
  methods |= 1 << static_cast<int>(Method::Fold128);
  if ((ecx & bit_OSXSAVE) == 0 || (ecx & bit_AVX) == 0 || !SystemSavesWideRegisters()) return methods;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) return methods;
  if ((ebx & bit_AVX2) != 0 && (ecx & bit_VPCLMULQDQ) != 0) methods |= 1 << static_cast<int>(Method::Fold256);
  return methods;
}
#endif

// Bit i set: method i is available. Asking twice is harmless, so there is no lock.
int AvailableMethods() {
#ifdef ZV_CRC32_FOLDING
  static std::atomic<int> known{0};
  int methods = known.load(std::memory_order_relaxed);
  if (methods == 0) {
    methods = DetectMethods();
    known.store(methods, std::memory_order_relaxed);
  }
  return methods;
#else
  return 1 << static_cast<int>(Method::Table);
#endif
}

}  // namespace

namespace crc32_detail {

bool Available(Method method) {
  return (AvailableMethods() & (1 << static_cast<int>(method))) != 0;
}

std::uint32_t Compute(Method method, const void* bytes, std::size_t length, std::uint32_t crc) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  std::uint32_t state = ~crc;
#ifdef ZV_CRC32_FOLDING
  // The folds take whole 16-byte pieces, at least one full round's worth; the table takes the rest.
  const std::size_t minimum = method == Method::Fold256 ? 128 : method == Method::Fold128 ? 64 : SIZE_MAX;
  if (length >= minimum) {
    const std::size_t folded = length & ~static_cast<std::size_t>(15);
    state = method == Method::Fold256 ? FoldUpdate256(state, p, folded) : FoldUpdate128(state, p, folded);
    p += folded;
    length -= folded;
  }
#else
  (void)method;
#endif
  return ~TableUpdate(state, p, length);
}

}  // namespace crc32_detail

std::uint32_t Crc32(const void* bytes, std::size_t length, std::uint32_t crc) {
  const int methods = AvailableMethods();
  const Method best = (methods & (1 << static_cast<int>(Method::Fold256))) != 0   ? Method::Fold256
                      : (methods & (1 << static_cast<int>(Method::Fold128))) != 0 ? Method::Fold128
                                                                                  : Method::Table;
  return crc32_detail::Compute(best, bytes, length, crc);
}

}  // namespace zv
