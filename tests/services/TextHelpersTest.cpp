// Text helpers: null-safe comparison on unsigned bytes, joins, and the nickname-cleaning pairs.
#include "services/TextHelpers.h"

#include <gtest/gtest.h>

#include <string>

namespace zv {
namespace {

TEST(CompareTexts, NullIsEmptyAndBytesAreUnsigned) {
  EXPECT_EQ(CompareTexts(nullptr, ""), 0);
  EXPECT_EQ(CompareTexts(nullptr, nullptr), 0);
  EXPECT_EQ(CompareTexts("", nullptr), 0);
  EXPECT_EQ(CompareTexts(nullptr, "x"), -1);
  EXPECT_EQ(CompareTexts("x", nullptr), 1);
  EXPECT_EQ(CompareTexts("a", "b"), -1);
  EXPECT_EQ(CompareTexts("b", "a"), 1);
  EXPECT_EQ(CompareTexts("\xB0", "a"), 1);
  EXPECT_EQ(CompareTexts("a", "\xB0"), -1);
  EXPECT_EQ(CompareTexts("ab", "a"), 1);
  EXPECT_EQ(CompareTexts("a", "ab"), -1);
  EXPECT_EQ(CompareTexts("女性", "女性"), 0);
}

TEST(CountTextBytes, CountsBytes) {
  EXPECT_EQ(CountTextBytes(nullptr), 0);
  EXPECT_EQ(CountTextBytes("昵称"), 4);
}

TEST(JoinTexts, NullPartsCountAsEmptyAndResultIsNeverNull) {
  EXPECT_STREQ(JoinTexts({nullptr, "a", nullptr}).c_str(), "a");
  Text empty = JoinTexts({nullptr, nullptr});
  ASSERT_FALSE(empty.IsNull());
  EXPECT_STREQ(empty.c_str(), "");
  EXPECT_STREQ(JoinTexts({"C:\\zor\\vik", "\\", "zvmain.exe"}).c_str(), "C:\\zor\\vik\\zvmain.exe");
}

Text CleanNickname(const char* nickname) {
  return ReplaceSubtextPairs(nickname, {}, {}, {}, "【", "", TextArg("】"), TextArg(""), TextArg("@#%$"), TextArg(""));
}

TEST(ReplaceSubtextPairs, CleansTheNicknameMarkers) {
  EXPECT_STREQ(CleanNickname("【ab】@#%$").c_str(), "ab");
  EXPECT_STREQ(CleanNickname("a@#%$b@#%$").c_str(), "ab");
  EXPECT_TRUE(CleanNickname("").IsNull());
  EXPECT_TRUE(CleanNickname("@#%$").IsNull());
  EXPECT_STREQ(CleanNickname("小【明】").c_str(), "小明");
}

TEST(ReplaceSubtextPairs, CountAndStartApplyToEveryPair) {
  EXPECT_STREQ(ReplaceSubtextPairs("x【a【b", 1, {}, {}, "【", "").c_str(), "xa【b");
  EXPECT_STREQ(ReplaceSubtextPairs("aXaX", {}, 3, {}, "a", "b").c_str(), "aXbX");
  EXPECT_STREQ(ReplaceSubtextPairs("aXaX", {}, 0, {}, "a", "b").c_str(), "bXbX");  // start 0 is 1
}

TEST(ReplaceSubtextPairs, LaterPairsSeeEarlierReplacements) {
  EXPECT_STREQ(ReplaceSubtextPairs("ab", {}, {}, {}, "a", "c", TextArg("cb"), TextArg("z")).c_str(), "z");
  EXPECT_STREQ(ReplaceSubtextPairs("AB", {}, {}, true, "a", "x").c_str(), "AB");
  EXPECT_STREQ(ReplaceSubtextPairs("AB", {}, {}, {}, "a", "x").c_str(), "xB");
}

}  // namespace
}  // namespace zv
