// GBK text operations. Scans walk by characters: a byte of 0x80 or more is a lead byte and takes the
// next byte with it; a lead byte directly before the NUL ends the scan, so nothing past the NUL is
// ever read. Results are built in a TextBuilder and copied once into an exactly sized block.
#include "runtime/TextOperations.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace zv {
namespace {

using Byte = unsigned char;

bool IsLeadByte(char c) { return static_cast<Byte>(c) >= 0x80; }
char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Compares `length` bytes of `at` with `pattern`. Ignoring case folds ASCII A-Z only; the two bytes
// of a double-byte character of the text are compared exactly, even where they look like letters.
bool MatchesAt(const char* at, const char* pattern, std::size_t length, bool ignoreCase) {
  if (!ignoreCase) return std::memcmp(at, pattern, length) == 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (IsLeadByte(at[i])) {
      if (at[i] != pattern[i]) return false;
      if (i + 1 < length && at[i + 1] != pattern[i + 1]) return false;
      ++i;
    } else if (FoldAscii(at[i]) != FoldAscii(pattern[i])) {
      return false;
    }
  }
  return true;
}

// Width of the character at `at`: 2 at a lead byte, 1 otherwise, 0 for a lead byte before the NUL.
std::size_t CharWidth(const char* at) {
  if (!IsLeadByte(*at)) return 1;
  return at[1] == '\0' ? 0 : 2;
}

}  // namespace

std::int32_t TextLength(TextArg text) { return static_cast<std::int32_t>(text.length()); }

Text LeftText(TextArg text, std::int32_t count) {
  if (count <= 0) return Text();
  const std::size_t length = text.length();
  const std::size_t n = static_cast<std::size_t>(count) < length ? static_cast<std::size_t>(count) : length;
  return Text::Copy(text.c_str(), n);
}

Text RightText(TextArg text, std::int32_t count) {
  if (count <= 0) return Text();
  const std::size_t length = text.length();
  const std::size_t n = static_cast<std::size_t>(count) < length ? static_cast<std::size_t>(count) : length;
  return Text::Copy(text.c_str() + (length - n), n);
}

std::int32_t FindText(TextArg text, TextArg sought, OptionalArgument<std::int32_t> start, bool ignoreCase) {
  const char* s = text.c_str();
  const std::size_t length = text.length();
  std::size_t offset = 0;
  if (start.IsGiven() && start.value > 1) offset = static_cast<std::size_t>(start.value) - 1;
  const std::size_t remaining = offset >= length ? 0 : length - offset;
  const std::size_t soughtLength = sought.length();
  if (soughtLength == 0) return remaining > 0 ? 1 : -1;
  if (remaining == 0) return -1;

  std::size_t pos = offset;
  while (length - pos >= soughtLength) {
    if (MatchesAt(s + pos, sought.c_str(), soughtLength, ignoreCase)) return static_cast<std::int32_t>(pos + 1);
    const std::size_t width = CharWidth(s + pos);
    if (width == 0) break;
    pos += width;
  }
  return -1;
}

Text ToLowerCase(TextArg text) {
  Text result = Text::Copy(text);
  char* p = result.get();
  if (p == nullptr) return result;
  while (*p != '\0') {
    if (IsLeadByte(*p)) {
      if (p[1] == '\0') break;
      p += 2;
    } else {
      *p = FoldAscii(*p);
      ++p;
    }
  }
  return result;
}

Text RemoveAllSpaces(TextArg text) {
  TextBuilder out;
  const char* p = text.c_str();
  while (*p != '\0') {
    if (IsLeadByte(*p)) {
      if (p[1] == '\0') break;  // a lead byte before the NUL is dropped
      if (!(static_cast<Byte>(p[0]) == 0xA1 && static_cast<Byte>(p[1]) == 0xA1)) out.Append(p, 2);
      p += 2;
    } else {
      if (*p != ' ') out.Append(*p);
      ++p;
    }
  }
  return out.Finish();
}

Text ReplaceSubtext(TextArg text, TextArg oldText, OptionalArgument<TextArg> newText,
                    OptionalArgument<std::int32_t> start, OptionalArgument<std::int32_t> count,
                    bool caseSensitive) {
  const char* s = text.c_str();
  const std::size_t length = text.length();
  const std::size_t oldLength = oldText.length();
  const TextArg replacement = newText.IsGiven() ? newText.value : TextArg();
  const std::size_t replacementLength = replacement.length();
  const std::size_t from = (start.IsGiven() && start.value > 1) ? static_cast<std::size_t>(start.value) - 1 : 0;
  const bool limited = count.IsGiven() && count.value >= 0;
  const std::int32_t limit = limited ? count.value : 0;

  if (length == 0 || oldLength == 0 || from >= length || (limited && limit == 0)) return Text::Copy(text);

  TextBuilder out;
  out.Append(s, from);
  std::size_t pos = from;
  std::int32_t replaced = 0;
  while (length - pos >= oldLength) {
    if (MatchesAt(s + pos, oldText.c_str(), oldLength, !caseSensitive)) {
      out.Append(replacement.c_str(), replacementLength);
      pos += oldLength;
      if (limited && ++replaced == limit) break;
      continue;
    }
    const std::size_t width = CharWidth(s + pos);
    if (width == 0) break;
    out.Append(s + pos, width);
    pos += width;
  }
  out.Append(s + pos, length - pos);
  return out.Finish();
}

TextArray SplitText(TextArg text, OptionalArgument<TextArg> delimiter, OptionalArgument<std::int32_t> maxPieces) {
  const TextArg delim = delimiter.IsGiven() ? delimiter.value : TextArg(",");
  const bool limited = maxPieces.IsGiven();
  const std::int32_t limit = limited ? (maxPieces.value < 0 ? 0 : maxPieces.value) : 0;
  const char* s = text.c_str();
  const std::size_t length = text.length();
  if (length == 0 || (limited && limit == 0)) return TextArray::Allocate(0);

  const std::size_t delimLength = delim.length();
  if (delimLength == 0) {
    TextArray one = TextArray::Allocate(1);
    one.Set(0, Text::Copy(text));
    return one;
  }

  // First pass counts the cuts, second pass copies the pieces into an exactly sized block.
  auto scan = [&](auto&& emit) {
    std::int32_t pieces = 0;
    std::size_t cut = 0;
    std::size_t pos = 0;
    bool full = false;
    while (length - pos >= delimLength) {
      if (std::memcmp(s + pos, delim.c_str(), delimLength) == 0) {
        emit(pieces++, cut, pos);
        pos += delimLength;
        cut = pos;
        if (limited && pieces == limit) {
          full = true;
          break;
        }
        continue;
      }
      const std::size_t width = CharWidth(s + pos);
      if (width == 0) break;
      pos += width;
    }
    if (!full && cut < length) emit(pieces++, cut, length);
    return pieces;
  };

  const std::int32_t count = scan([](std::int32_t, std::size_t, std::size_t) {});
  TextArray result = TextArray::Allocate(count);
  scan([&](std::int32_t i, std::size_t begin, std::size_t end) { result.Set(i, Text::Copy(s + begin, end - begin)); });
  return result;
}

Text SpaceText(std::int32_t count) {
  if (count < 1) return Text();
  Text t = Text::Allocate(static_cast<std::size_t>(count));
  std::memset(t.get(), ' ', static_cast<std::size_t>(count));
  return t;
}

namespace {

// The decimal digits of n, with a minus sign when negative, appended to `out`.
void AppendDecimal(TextBuilder& out, std::int64_t n) {
  char digits[24];
  char* end = digits + sizeof digits;
  char* p = end;
  std::uint64_t u = n < 0 ? 0ull - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
  do {
    *--p = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u != 0);
  if (n < 0) *--p = '-';
  out.Append(p, static_cast<std::size_t>(end - p));
}

// A literal's bytes (its length is counted by the compiler: the texts are GBK in the product and
// UTF-8 in the fuzz build).
template <std::size_t N>
void AppendLiteral(TextBuilder& out, const char (&literal)[N]) {
  out.Append(literal, N - 1);
}

Text FormatDecimal(std::int64_t n) {
  TextBuilder out;
  AppendDecimal(out, n);
  return out.Finish();
}

// "%.6g" or "%.13g" of a double, spelled as the C99 formatter spells it ("1e+20", "inf", "nan").
// On Windows the system C library's own formatter does the work: the C99 one of the compiler's
// library would add some 25 KB of code to the program. It spells exponents with at least three
// digits ("1e+020"), which are brought to two here, and infinities and NaNs in a way of its own,
// which never reach it.
Text FormatFloating(double d, const char* format) {
  if (std::isnan(d)) return Text::Copy("nan");
  if (std::isinf(d)) return Text::Copy(d < 0 ? "-inf" : "inf");
  char buffer[100];
#ifdef _WIN32
  int n = _snprintf(buffer, sizeof buffer - 1, format, d);
  buffer[sizeof buffer - 1] = '\0';
  if (n < 0) n = static_cast<int>(std::strlen(buffer));
  if (char* e = std::strchr(buffer, 'e');
      e != nullptr && (e[1] == '+' || e[1] == '-') && e[2] == '0' && std::strlen(e + 2) == 3) {
    std::memmove(e + 2, e + 3, 3);  // the two digits that remain and the NUL
    --n;
  }
#else
  const int n = std::snprintf(buffer, sizeof buffer, format, d);
#endif
  if (n <= 0) return Text();
  return Text::Copy(buffer, static_cast<std::size_t>(n) < sizeof buffer ? static_cast<std::size_t>(n) : sizeof buffer - 1);
}

// Civil date from a count of days since 1970-01-01 (proleptic Gregorian calendar).
void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

// An OLE automation date: whole days since 1899-12-30; the fraction, taken as a positive amount even
// for dates before that day, is the time of day, rounded to the nearest second.
Text FormatDate(double oleDate) {
  if (std::isnan(oleDate)) oleDate = 0;
  if (oleDate < -657434.0) oleDate = -657434.0;
  if (oleDate > 2958465.0) oleDate = 2958465.0;
  double wholeDays = std::trunc(oleDate);
  long long seconds = std::llround(std::fabs(oleDate - wholeDays) * 86400.0);
  // A time that rounds up to midnight is the start of the next calendar day. Before 30 Dec 1899 the
  // whole days count backwards but the time still runs forwards (-1.75 is 29 Dec, 18:00), so the
  // next day is one whole day up there too.
  if (seconds >= 86400) {
    seconds -= 86400;
    wholeDays += 1;
  }
  int year, month, day;
  CivilFromDays(static_cast<std::int64_t>(wholeDays) - 25569, year, month, day);
  const int hour = static_cast<int>(seconds / 3600);
  const int minute = static_cast<int>(seconds / 60 % 60);
  const int second = static_cast<int>(seconds % 60);

  TextBuilder out;
  AppendDecimal(out, year);
  AppendLiteral(out, "年");
  AppendDecimal(out, month);
  AppendLiteral(out, "月");
  AppendDecimal(out, day);
  AppendLiteral(out, "日");
  if (hour != 0 || minute != 0 || second != 0) {
    AppendDecimal(out, hour);
    AppendLiteral(out, "时");
  }
  if (minute != 0 || second != 0) {
    AppendDecimal(out, minute);
    AppendLiteral(out, "分");
  }
  if (second != 0) {
    AppendDecimal(out, second);
    AppendLiteral(out, "秒");
  }
  return out.Finish();
}

std::size_t ElementSize(TypeFlag elementType) {
  switch (elementType) {
    case TypeFlag::Byte: return 1;
    case TypeFlag::Short: return 2;
    case TypeFlag::Int: return 4;
    case TypeFlag::Long: return 8;
    case TypeFlag::Float: return 4;
    case TypeFlag::Double: return 8;
    default: return 0;
  }
}

// An array block: dimension count, one extent per dimension, then the elements. The text is the
// data's bytes up to the first zero byte, or all of them.
Text ArrayToText(const void* block, std::size_t elementSize) {
  if (block == nullptr || elementSize == 0) return Text();
  const auto* words = static_cast<const std::int32_t*>(block);
  const std::int32_t dimensions = words[0];
  if (dimensions <= 0) return Text();
  std::size_t elements = 1;
  for (std::int32_t d = 1; d <= dimensions; ++d) elements *= words[d] > 0 ? static_cast<std::size_t>(words[d]) : 0;
  const auto* data = reinterpret_cast<const char*>(words + 1 + dimensions);
  const std::size_t bytes = elements * elementSize;
  const void* zero = std::memchr(data, 0, bytes);
  return Text::Copy(data, zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - data) : bytes);
}

}  // namespace

Text ValueToText(const Value& value) {
  if (value.type == TypeFlag::ByteArray) return ArrayToText(value.AsPointer<const void>(), 1);
  if (HasArrayOrReferenceBit(value.type)) return ArrayToText(value.AsPointer<const void>(), ElementSize(BaseType(value.type)));
  switch (value.type) {
    case TypeFlag::Byte: return FormatDecimal(static_cast<std::uint8_t>(value.low));
    case TypeFlag::Short: return FormatDecimal(static_cast<std::int16_t>(value.low));
    case TypeFlag::Int: return FormatDecimal(value.AsInt());
    case TypeFlag::Long: return FormatDecimal(value.AsLong());
    case TypeFlag::Float: return FormatFloating(static_cast<double>(value.AsFloat()), "%.6g");
    case TypeFlag::Double: return FormatFloating(value.AsDouble(), "%.13g");
    case TypeFlag::Bool: return Text::Copy(value.low != 0 ? "真" : "假");
    case TypeFlag::Date: return FormatDate(value.AsDouble());
    case TypeFlag::Text: return Text::Copy(value.AsPointer<const char>());
    default: return Text();
  }
}

}  // namespace zv
