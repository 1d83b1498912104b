// CRC-32 against the published check value and against a bit-by-bit reference written here from the
// definition, for every length and alignment around the folding's block sizes, by every method that
// this processor offers (the table is always tested), and in pieces.
#include "services/Crc32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace zv {
namespace {

// The definition: reflected polynomial 0xEDB88320, all-ones start and final complement, one bit at a
// time; `before` is the CRC-32 of any bytes that came first.
std::uint32_t ReferenceCrc32(const unsigned char* p, std::size_t length, std::uint32_t before = 0) {
  std::uint32_t state = ~before;
  for (std::size_t i = 0; i < length; ++i) {
    state ^= p[i];
    for (int bit = 0; bit < 8; ++bit) state = (state >> 1) ^ (0xEDB88320u & (0u - (state & 1u)));
  }
  return ~state;
}

// Deterministic bytes that are not periodic at any small stride.
std::vector<unsigned char> Noise(std::size_t length, std::uint32_t seed) {
  std::vector<unsigned char> bytes(length);
  std::uint32_t x = seed * 2654435761u + 1u;
  for (unsigned char& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<unsigned char>(x >> 24);
  }
  return bytes;
}

using crc32_detail::Method;

const Method kMethods[] = {Method::Table, Method::Fold128, Method::Fold256};

const char* NameOf(Method method) {
  return method == Method::Table     ? "table"
         : method == Method::Fold128 ? "128-bit folding"
                                     : "256-bit folding";
}

TEST(Crc32, MatchesThePublishedCheckValue) {
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(crc32_detail::Compute(Method::Table, "123456789", 9, 0), 0xCBF43926u);
}

TEST(Crc32, OfNothingIsZeroAndLeavesARunningValueAlone) {
  EXPECT_EQ(Crc32("", 0), 0u);
  EXPECT_EQ(Crc32("", 0, 0x12345678u), 0x12345678u);
}

TEST(Crc32, TheTableIsAlwaysAvailable) {
  EXPECT_TRUE(crc32_detail::Available(Method::Table));
}

TEST(Crc32, EveryMethodAgreesWithTheReferenceForEveryLengthAndAlignmentAroundTheRounds) {
  const std::vector<unsigned char> bytes = Noise(700, 1);
  for (Method method : kMethods) {
    if (!crc32_detail::Available(method)) {
      std::printf("[  NOTE    ] %s: not offered by this processor\n", NameOf(method));
      continue;
    }
    for (std::size_t offset = 0; offset < 32; offset += 5) {
      for (std::size_t length = 0; length <= 600; ++length) {
        const unsigned char* p = bytes.data() + offset;
        for (std::uint32_t start : {0u, 0x0BADF00Du}) {
          ASSERT_EQ(crc32_detail::Compute(method, p, length, start), ReferenceCrc32(p, length, start))
              << NameOf(method) << " offset " << offset << " length " << length << " start " << start;
        }
      }
    }
  }
}

TEST(Crc32, EveryMethodAgreesWithTheReferenceOnLargeBlocks) {
  for (std::size_t length : {4096u, 65535u, 65536u + 13u, 1u << 20}) {
    const std::vector<unsigned char> bytes = Noise(length, static_cast<std::uint32_t>(length));
    const std::uint32_t expected = ReferenceCrc32(bytes.data(), length);
    for (Method method : kMethods) {
      if (crc32_detail::Available(method)) {
        EXPECT_EQ(crc32_detail::Compute(method, bytes.data(), length, 0), expected)
            << NameOf(method) << " " << length;
      }
    }
    EXPECT_EQ(Crc32(bytes.data(), length), expected) << length;
  }
}

TEST(Crc32, ABlockCheckedInPiecesGivesTheSameValue) {
  const std::vector<unsigned char> bytes = Noise(5000, 3);
  const std::uint32_t whole = Crc32(bytes.data(), bytes.size());
  for (std::size_t cut : {0u, 1u, 63u, 64u, 100u, 4096u, 5000u}) {
    const std::uint32_t first = Crc32(bytes.data(), cut);
    EXPECT_EQ(Crc32(bytes.data() + cut, bytes.size() - cut, first), whole) << "cut at " << cut;
  }
}

TEST(Crc32, EveryFlippedBitChangesTheValue) {
  std::vector<unsigned char> bytes = Noise(4096 + 7, 11);
  const std::uint32_t original = Crc32(bytes.data(), bytes.size());
  for (std::size_t i = 0; i < bytes.size(); i += 97) {
    for (int bit = 0; bit < 8; bit += 3) {
      bytes[i] ^= static_cast<unsigned char>(1u << bit);
      ASSERT_NE(Crc32(bytes.data(), bytes.size()), original) << "byte " << i << " bit " << bit;
      bytes[i] ^= static_cast<unsigned char>(1u << bit);
    }
  }
}

}  // namespace
}  // namespace zv
