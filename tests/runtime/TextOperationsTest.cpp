// Text operations on GBK bytes: byte counts, 1-based positions, double-byte stepping, defaults of
// omitted arguments. Literals here are GBK too (the build compiles narrow literals to code page 936).
#include "runtime/TextOperations.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

namespace zv {
namespace {

std::string Str(const Text& t) { return t.c_str(); }

// "矛" is C3 AC in GBK... we build double-byte characters from explicit bytes where the trail byte
// matters, so the tests do not depend on the font of the reader.
const char kTrail5C[] = "\x95\x5C";         // a character whose trail byte is a backslash
const char kTrailA[] = "\x81\x41";          // a character whose trail byte is 'A'
const char kTrail20[] = "\x81\x40";         // trail bytes are never 0x20, but 0x40 ('@') is common

TEST(TextLength, CountsBytesNotCharacters) {
  EXPECT_EQ(TextLength("abc"), 3);
  EXPECT_EQ(TextLength("你好"), 4);
  EXPECT_EQ(TextLength(nullptr), 0);
  EXPECT_EQ(TextLength(""), 0);
}

TEST(LeftRightText, ClampCountsAndReturnNullForNothing) {
  EXPECT_TRUE(LeftText("abc", 0).IsNull());
  EXPECT_TRUE(LeftText("abc", -3).IsNull());
  EXPECT_EQ(Str(LeftText("abc", 2)), "ab");
  EXPECT_EQ(Str(LeftText("abc", 5)), "abc");
  EXPECT_TRUE(RightText("abc", 0).IsNull());
  EXPECT_EQ(Str(RightText("abc", 1)), "c");
  EXPECT_EQ(Str(RightText("abc", 5)), "abc");
  EXPECT_TRUE(LeftText("", 3).IsNull());
  // They cut at bytes and may split a character.
  EXPECT_EQ(Str(LeftText("你好", 1)), "\xC4");
  EXPECT_EQ(Str(RightText("你好", 1)), "\xC3");
}

TEST(FindText, ReturnsOneBasedPositionsFromTheStart) {
  EXPECT_EQ(FindText("C:\\a\\b", "\\"), 3);
  EXPECT_EQ(FindText("C:\\a\\b", "\\", 4), 5);
  EXPECT_EQ(FindText("abc", "a", 10), -1);
  EXPECT_EQ(FindText("abc", "c", 0), 3);   // a start below 1 counts as 1
  EXPECT_EQ(FindText("abc", "a", -5), 1);
  EXPECT_EQ(FindText("abc", "abcd"), -1);
  EXPECT_EQ(FindText("abc", "bc", 2), 2);
}

TEST(FindText, EmptySoughtTextDependsOnlyOnWhatRemains) {
  EXPECT_EQ(FindText("abc", ""), 1);
  EXPECT_EQ(FindText("abc", "", 3), 1);  // independent of the start position
  EXPECT_EQ(FindText("abc", "", 4), -1);
  EXPECT_EQ(FindText("", ""), -1);
}

TEST(FindText, IgnoreCaseFoldsAsciiOnly) {
  EXPECT_EQ(FindText("x.lnk", ".LNK", {}, true), 2);
  EXPECT_EQ(FindText("x.lnk", ".LNK", {}, false), -1);
  EXPECT_EQ(FindText("X.LnK", ".lnk", {}, true), 2);
  // Latin-1 style bytes above 0x7F are not letters to fold.
  EXPECT_EQ(FindText("\xC4\xE3", "\xE4\xE3", {}, true), -1);
}

TEST(FindText, NeverMatchesInsideDoubleByteCharacter) {
  // The trail byte of the first character is a backslash; only the real one at byte 3 matches.
  std::string path = std::string(kTrail5C) + "\\x";
  EXPECT_EQ(FindText(path.c_str(), "\\"), 3);
  // A character whose trail byte is 'A' hides no 'A' and no 'a'.
  std::string t = std::string(kTrailA) + "b";
  EXPECT_EQ(FindText(t.c_str(), "A"), -1);
  EXPECT_EQ(FindText(t.c_str(), "a", {}, true), -1);
  EXPECT_EQ(FindText(t.c_str(), "b"), 3);
  // Two characters whose bytes straddle: 81 40 | 81 40 contains 40 81 only across the boundary.
  std::string twice = std::string(kTrail20) + kTrail20;
  EXPECT_EQ(FindText(twice.c_str(), "\x40\x81"), -1);
  EXPECT_EQ(FindText(twice.c_str(), kTrail20, 2), 3);
}

TEST(FindText, IgnoringCaseComparesDoubleByteCharactersExactly) {
  // 81 41 and 81 61 differ only in a trail byte that looks like a letter: not the same character.
  EXPECT_EQ(FindText("\x81\x61", "\x81\x41", {}, true), -1);
  EXPECT_EQ(FindText("\x81\x41", "\x81\x41", {}, true), 1);
}

TEST(FindText, LeadByteBeforeNulEndsTheSearch) {
  // Heap copy so that AddressSanitizer sees any read past the NUL.
  Text t = Text::Copy("ab\x81");
  EXPECT_EQ(FindText(t, "x"), -1);
  EXPECT_EQ(FindText(t, "\x81"), 3);
  EXPECT_EQ(FindText(t, "b"), 2);
}

TEST(ToLowerCase, LowersAsciiLettersOnly) {
  EXPECT_EQ(Str(ToLowerCase("ZVMAIN.EXE")), "zvmain.exe");
  EXPECT_EQ(Str(ToLowerCase("Ab1[Z]")), "ab1[z]");
  std::string t = std::string(kTrailA) + "A";
  EXPECT_EQ(Str(ToLowerCase(t.c_str())), std::string(kTrailA) + "a");
  EXPECT_TRUE(ToLowerCase("").IsNull());
  Text dangling = Text::Copy("A\x81");
  EXPECT_EQ(Str(ToLowerCase(dangling)), "a\x81");
}

TEST(RemoveAllSpaces, RemovesAsciiAndFullWidthSpacesKeepsTabs) {
  EXPECT_EQ(Str(RemoveAllSpaces(" a b ")), "ab");
  EXPECT_EQ(Str(RemoveAllSpaces("a　b")), "ab");  // full-width space A1 A1
  EXPECT_EQ(Str(RemoveAllSpaces("a\tb")), "a\tb");
  EXPECT_TRUE(RemoveAllSpaces("  　 ").IsNull());
  EXPECT_EQ(Str(RemoveAllSpaces("你 好")), "你好");
}

TEST(RemoveAllSpaces, SpaceBytesInsideCharactersAreNotSpaces) {
  // A1 A1 only counts as a pair at a character boundary: B0 A1 | A1 B0 holds no full-width space.
  EXPECT_EQ(Str(RemoveAllSpaces("\xB0\xA1\xA1\xB0")), "\xB0\xA1\xA1\xB0");
  Text dangling = Text::Copy("a \x81");
  EXPECT_EQ(Str(RemoveAllSpaces(dangling)), "a");  // the lead byte before the NUL is dropped
}

TEST(ReplaceSubtext, CountsStartAndDefaults) {
  EXPECT_EQ(Str(ReplaceSubtext("aaaa", "aa", TextArg("a"))), "aa");
  EXPECT_EQ(Str(ReplaceSubtext("aaaa", "aa", TextArg("a"), {}, 1)), "aaa");
  EXPECT_EQ(Str(ReplaceSubtext("aaaa", "aa", TextArg("a"), 3)), "aaa");
  EXPECT_EQ(Str(ReplaceSubtext("aaaa", "aa", TextArg("a"), {}, -1)), "aa");  // negative: all
  EXPECT_EQ(Str(ReplaceSubtext("aaaa", "aa", TextArg("a"), {}, 0)), "aaaa");  // zero: none
  EXPECT_EQ(Str(ReplaceSubtext("xaxa", "a")), "xx");                         // new omitted: deleted
  EXPECT_EQ(Str(ReplaceSubtext("abc", "b", TextArg("X"), 0)), "aXc");          // start below 1 is 1
  EXPECT_EQ(Str(ReplaceSubtext("abc", "b", TextArg("X"), 4)), "abc");          // start past the end
  EXPECT_EQ(Str(ReplaceSubtext("abc", "", TextArg("X"))), "abc");
  EXPECT_TRUE(ReplaceSubtext("", "a", TextArg("X")).IsNull());
  EXPECT_TRUE(ReplaceSubtext("aa", "a").IsNull());
}

TEST(ReplaceSubtext, CaseSensitivityAndNoRescan) {
  EXPECT_EQ(Str(ReplaceSubtext("AbA", "a", TextArg("x"))), "xbx");                     // default ignores case
  EXPECT_EQ(Str(ReplaceSubtext("AbA", "a", TextArg("x"), {}, {}, true)), "AbA");
  EXPECT_EQ(Str(ReplaceSubtext("aa", "a", TextArg("aa"))), "aaaa");                   // replacement not rescanned
}

TEST(ReplaceSubtext, RespectsCharacterBoundaries) {
  EXPECT_EQ(Str(ReplaceSubtext("【ab】", "【")), "ab】");
  std::string t = std::string(kTrail5C) + "\\";
  EXPECT_EQ(Str(ReplaceSubtext(t.c_str(), "\\", TextArg("/"))), std::string(kTrail5C) + "/");
  Text dangling = Text::Copy("ab\x81");
  EXPECT_EQ(Str(ReplaceSubtext(dangling, "b", TextArg("c"))), "ac\x81");  // rest kept after the scan ends
}

TEST(SplitText, PiecesEmptyElementsAndMaximum) {
  TextArray a = SplitText("a,,b,");
  ASSERT_EQ(a.size(), 3);
  EXPECT_STREQ(a[0], "a");
  EXPECT_EQ(a[1], nullptr);
  EXPECT_STREQ(a[2], "b");

  TextArray one = SplitText("a,,b,", {}, 1);
  ASSERT_EQ(one.size(), 1);
  EXPECT_STREQ(one[0], "a");

  EXPECT_EQ(SplitText("").size(), 0);
  EXPECT_EQ(SplitText("a,b", {}, 0).size(), 0);
  EXPECT_EQ(SplitText("a,b", {}, -2).size(), 0);  // a negative maximum counts as 0

  TextArray lead = SplitText(",a");
  ASSERT_EQ(lead.size(), 2);
  EXPECT_EQ(lead[0], nullptr);
  EXPECT_STREQ(lead[1], "a");

  TextArray whole = SplitText("a,b", TextArg(""));
  ASSERT_EQ(whole.size(), 1);
  EXPECT_STREQ(whole[0], "a,b");
}

TEST(SplitText, PathSegmentsAndDoubleByteBackslashTrail) {
  TextArray p = SplitText("C:\\zor\\vik\\zvmain.exe", TextArg("\\"));
  ASSERT_EQ(p.size(), 4);
  EXPECT_STREQ(p[0], "C:");
  EXPECT_STREQ(p[3], "zvmain.exe");
  EXPECT_EQ(p.get()->dimensionCount, 1);

  std::string dir = std::string("C:\\") + kTrail5C + "\\x.exe";
  TextArray q = SplitText(dir.c_str(), TextArg("\\"));
  ASSERT_EQ(q.size(), 3);
  EXPECT_STREQ(q[1], kTrail5C);
}

TEST(SpaceText, MakesSpaces) {
  EXPECT_TRUE(SpaceText(0).IsNull());
  EXPECT_TRUE(SpaceText(-1).IsNull());
  Text t = SpaceText(260);
  ASSERT_EQ(t.length(), 260u);
  EXPECT_EQ(std::string(t.c_str()).find_first_not_of(' '), std::string::npos);
}

TEST(ValueToText, NumbersBooleansAndTexts) {
  EXPECT_EQ(Str(ValueToText(Value::Int(-7))), "-7");
  EXPECT_EQ(Str(ValueToText(Value::Int(42))), "42");
  EXPECT_EQ(Str(ValueToText(Value::Byte(200))), "200");
  EXPECT_EQ(Str(ValueToText(Value::Short(-32768))), "-32768");
  EXPECT_EQ(Str(ValueToText(Value::Long(-9223372036854775807LL - 1))), "-9223372036854775808");
  EXPECT_EQ(Str(ValueToText(Value::Double(1.0 / 3.0))), "0.3333333333333");
  EXPECT_EQ(Str(ValueToText(Value::Float(0.1f))), "0.1");
  EXPECT_EQ(Str(ValueToText(Value::Bool(true))), "真");
  EXPECT_EQ(Str(ValueToText(Value::Bool(false))), "假");
  EXPECT_EQ(Str(ValueToText(Value::Text("abc"))), "abc");
  EXPECT_TRUE(ValueToText(Value::Text(nullptr)).IsNull());
  EXPECT_TRUE(ValueToText(Value()).IsNull());
  EXPECT_TRUE(ValueToText(Value::Pointer(nullptr, TypeFlag::Object)).IsNull());
}

TEST(ValueToText, FloatingPointIsSpelledAlikeOnEveryPlatform) {
  EXPECT_EQ(Str(ValueToText(Value::Double(1e20))), "1e+20");
  EXPECT_EQ(Str(ValueToText(Value::Double(1.5e-7))), "1.5e-07");
  EXPECT_EQ(Str(ValueToText(Value::Double(123456789012345.0))), "1.234567890123e+14");
  EXPECT_EQ(Str(ValueToText(Value::Double(-2.5e-300))), "-2.5e-300");
  EXPECT_EQ(Str(ValueToText(Value::Double(1e100))), "1e+100");
  EXPECT_EQ(Str(ValueToText(Value::Double(-0.0))), "-0");
  EXPECT_EQ(Str(ValueToText(Value::Float(3.0e9f))), "3e+09");
  EXPECT_EQ(Str(ValueToText(Value::Double(std::numeric_limits<double>::infinity()))), "inf");
  EXPECT_EQ(Str(ValueToText(Value::Double(-std::numeric_limits<double>::infinity()))), "-inf");
  EXPECT_EQ(Str(ValueToText(Value::Double(std::numeric_limits<double>::quiet_NaN()))), "nan");
  EXPECT_EQ(Str(ValueToText(Value::Double(-std::numeric_limits<double>::quiet_NaN()))), "nan");
  EXPECT_EQ(Str(ValueToText(Value::Float(std::numeric_limits<float>::infinity()))), "inf");
}

TEST(ValueToText, ArraysStopAtTheFirstZeroByte) {
  OwnedByteArray bytes = OwnedByteArray::Copy("abc\0de", 6);
  EXPECT_EQ(Str(ValueToText(Value::Array(TypeFlag::ByteArray, bytes.get()))), "abc");
  OwnedByteArray full = OwnedByteArray::Copy("xyz", 3);
  EXPECT_EQ(Str(ValueToText(Value::Array(TypeFlag::ByteArray, full.get()))), "xyz");
  // An int array: dimension count, extent, then the elements' bytes.
  const std::int32_t ints[] = {1, 2, 0x64636261, 0x00676665};
  EXPECT_EQ(Str(ValueToText(Value::Array(TypeFlag::Int, ints))), "abcdefg");
  const std::int32_t texts[] = {1, 0};
  EXPECT_TRUE(ValueToText(Value::Array(TypeFlag::Text, texts)).IsNull());
}

TEST(ValueToText, DatesWithTheirTimeSuffixes) {
  EXPECT_EQ(Str(ValueToText(Value::Date(0))), "1899年12月30日");
  EXPECT_EQ(Str(ValueToText(Value::Date(2))), "1900年1月1日");
  EXPECT_EQ(Str(ValueToText(Value::Date(36526))), "2000年1月1日");
  EXPECT_EQ(Str(ValueToText(Value::Date(36526.5))), "2000年1月1日12时");
  EXPECT_EQ(Str(ValueToText(Value::Date(36526 + (13 * 60 + 5) / 1440.0))), "2000年1月1日13时5分");
  EXPECT_EQ(Str(ValueToText(Value::Date(36526 + 7.0 / 86400))), "2000年1月1日0时0分7秒");
  EXPECT_EQ(Str(ValueToText(Value::Date(-1.25))), "1899年12月29日6时");
  // A time that rounds up to midnight gives the next day, on both sides of 30 Dec 1899.
  EXPECT_EQ(Str(ValueToText(Value::Date(36526 + 0.9999999))), "2000年1月2日");
  EXPECT_EQ(Str(ValueToText(Value::Date(1.9999999))), "1900年1月1日");
  EXPECT_EQ(Str(ValueToText(Value::Date(-1.9999999))), "1899年12月30日");
  EXPECT_EQ(Str(ValueToText(Value::Date(-0.9999999))), "1899年12月31日");
  EXPECT_EQ(Str(ValueToText(Value::Date(-36522.9999999))), "1800年1月2日");
  EXPECT_EQ(Str(ValueToText(Value::Date(1e9))), "9999年12月31日");   // clamped
  EXPECT_EQ(Str(ValueToText(Value::Date(-1e9))), "100年1月1日");
}

}  // namespace
}  // namespace zv
