// The runtime's block owners and heap rules: null versus empty, constants never freed, exact layouts.
#include "runtime/Text.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "runtime/Heap.h"

namespace zv {
namespace {

TEST(Text, NullReadsAsEmpty) {
  Text t;
  EXPECT_TRUE(t.IsNull());
  EXPECT_STREQ(t.c_str(), "");
  EXPECT_EQ(t.length(), 0u);
  EXPECT_STREQ(TextArg(nullptr).c_str(), "");
}

TEST(Text, CopiesOfEmptyAreNullButAllocateIsARealBlock) {
  EXPECT_TRUE(Text::Copy("").IsNull());
  EXPECT_TRUE(Text::Copy("abc", 0).IsNull());
  Text block = Text::Allocate(0);
  ASSERT_FALSE(block.IsNull());
  EXPECT_STREQ(block.c_str(), "");
}

TEST(Heap, FreeingConstantsAndNullDoesNothing) {
  static const char constant[] = "constant";
  heap::RegisterConstantRange(constant, constant + sizeof constant);
  {
    Text adopted = Text::Adopt(const_cast<char*>(constant + 2));
  }  // the owner "frees" a pointer into the constant range: ignored
  EXPECT_STREQ(constant, "constant");
  heap::Free(nullptr);
  heap::RegisterConstantRange(nullptr, nullptr);
}

TEST(ByteArray, LayoutIsCountLengthBytes) {
  OwnedByteArray a = OwnedByteArray::Copy("xyz", 3);
  const auto* raw = reinterpret_cast<const unsigned char*>(a.get());
  std::int32_t words[2];
  std::memcpy(words, raw, sizeof words);
  EXPECT_EQ(words[0], 1);
  EXPECT_EQ(words[1], 3);
  EXPECT_EQ(raw[8], 'x');
  EXPECT_EQ(raw[10], 'z');
}

TEST(TextArray, LayoutIsCountThenPointers) {
  TextArray a = TextArray::Allocate(2);
  a.Set(1, Text::Copy("b"));
  const auto* block = a.get();
  EXPECT_EQ(block->dimensionCount, 1);
  EXPECT_EQ(block->count, 2);
  EXPECT_EQ(offsetof(TextArray::Block, elements), 8u);  // two 32-bit words, then the pointers
  EXPECT_EQ(a[0], nullptr);
  EXPECT_STREQ(a[1], "b");
}

TEST(TextBuilder, GrowsAndFinishesExactly) {
  TextBuilder b;
  for (int i = 0; i < 1000; ++i) b.Append('x');
  Text t = b.Finish();
  EXPECT_EQ(t.length(), 1000u);
  TextBuilder empty;
  EXPECT_TRUE(empty.Finish().IsNull());
}

}  // namespace
}  // namespace zv
