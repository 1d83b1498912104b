// Text helpers of the installation services: a null-safe three-way comparison, a byte count, a join
// of several texts, and up to five find-and-replace pairs applied in a row. Bytes compare and count as
// unsigned 8-bit values; only ReplaceSubtextPairs respects double-byte characters.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "runtime/Text.h"
#include "runtime/Value.h"

namespace zv {

// -1, 0 or 1; a null text equals the empty text.
std::int32_t CompareTexts(const char* a, const char* b);
// Bytes before the NUL; 0 for null.
std::int32_t CountTextBytes(const char* text);
// The texts one after another in a new block; never null, even when every part is empty.
Text JoinTexts(std::initializer_list<const char*> parts);
// Applies the pairs in order (find 1 -> replacement 1, then pair 2, ...); a pair whose find text is
// empty or omitted changes nothing. `start` 0 or omitted means 1; `count` omitted means all.
Text ReplaceSubtextPairs(TextArg text, OptionalArgument<std::int32_t> count, OptionalArgument<std::int32_t> start,
                         OptionalArgument<bool> caseSensitive, TextArg find1, TextArg replacement1,
                         OptionalArgument<TextArg> find2 = {}, OptionalArgument<TextArg> replacement2 = {},
                         OptionalArgument<TextArg> find3 = {}, OptionalArgument<TextArg> replacement3 = {},
                         OptionalArgument<TextArg> find4 = {}, OptionalArgument<TextArg> replacement4 = {},
                         OptionalArgument<TextArg> find5 = {}, OptionalArgument<TextArg> replacement5 = {});

}  // namespace zv
