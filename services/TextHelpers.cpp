#include "services/TextHelpers.h"

#include <cstring>

#include "runtime/TextOperations.h"

namespace zv {

std::int32_t CompareTexts(const char* a, const char* b) {
  if (a == nullptr) return (b == nullptr || *b == '\0') ? 0 : -1;
  if (b == nullptr) return *a == '\0' ? 0 : 1;
  for (;; ++a, ++b) {
    const auto x = static_cast<unsigned char>(*a);
    const auto y = static_cast<unsigned char>(*b);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

std::int32_t CountTextBytes(const char* text) {
  return text == nullptr ? 0 : static_cast<std::int32_t>(std::strlen(text));
}

Text JoinTexts(std::initializer_list<const char*> parts) {
  std::size_t total = 0;
  for (const char* part : parts) total += static_cast<std::size_t>(CountTextBytes(part));
  Text joined = Text::Allocate(total);
  char* out = joined.get();
  for (const char* part : parts) {
    const auto n = static_cast<std::size_t>(CountTextBytes(part));
    if (n != 0) std::memcpy(out, part, n);
    out += n;
  }
  return joined;
}

Text ReplaceSubtextPairs(TextArg text, OptionalArgument<std::int32_t> count, OptionalArgument<std::int32_t> start,
                         OptionalArgument<bool> caseSensitive, TextArg find1, TextArg replacement1,
                         OptionalArgument<TextArg> find2, OptionalArgument<TextArg> replacement2,
                         OptionalArgument<TextArg> find3, OptionalArgument<TextArg> replacement3,
                         OptionalArgument<TextArg> find4, OptionalArgument<TextArg> replacement4,
                         OptionalArgument<TextArg> find5, OptionalArgument<TextArg> replacement5) {
  const std::int32_t from = start.value == 0 ? 1 : start.value;
  const TextArg finds[] = {find1, find2.value, find3.value, find4.value, find5.value};
  const TextArg replacements[] = {replacement1, replacement2.value, replacement3.value, replacement4.value,
                                  replacement5.value};
  Text current = Text::Copy(text);
  for (int k = 0; k < 5; ++k) {
    current = ReplaceSubtext(current, finds[k], replacements[k], from,
                             count.IsGiven() ? OptionalArgument<std::int32_t>(count.value) : OptionalArgument<std::int32_t>(),
                             caseSensitive.value);
  }
  return current;
}

}  // namespace zv
