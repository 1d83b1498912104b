// The runtime's operations on GBK text. Counts and positions are bytes, positions 1-based. A byte of
// 0x80 or more leads a two-byte character, which the scanning operations step over as one and never
// split; a lead byte right before the NUL ends a scan. Every result is a new caller-owned block, and
// an empty text result is null. No operation fails: out-of-range inputs are clamped.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/Text.h"
#include "runtime/Value.h"

namespace zv {

// Bytes of the character that starts at `p`: 2 for a lead byte with a byte after it, else 1. Scans
// that look for an ASCII byte (a path separator, say) step with it, so that they never take the
// second byte of a double-byte character (GBK "誠" is D5 5C) for one.
inline std::size_t CharacterLength(const char* p) {
  return static_cast<unsigned char>(*p) >= 0x80 && p[1] != '\0' ? 2 : 1;
}

std::int32_t TextLength(TextArg text);
// The first / last min(count, length) bytes; nothing for a count of 0 or less. May split a character.
Text LeftText(TextArg text, std::int32_t count);
Text RightText(TextArg text, std::int32_t count);
// 1-based byte position of `sought` at a character boundary from `start` on, or -1. The empty
// `sought` gives 1 when any text remains from the start, else -1.
std::int32_t FindText(TextArg text, TextArg sought, OptionalArgument<std::int32_t> start = {},
                      bool ignoreCase = false);
// ASCII A-Z lowered; double-byte characters (both bytes) untouched.
Text ToLowerCase(TextArg text);
// Without ASCII spaces and full-width spaces (A1 A1); tabs stay.
Text RemoveAllSpaces(TextArg text);
// Replaces `oldText` by `newText` (omitted: deleted) from byte `start` on, at most `count` times
// (omitted or negative: all, 0: none). Replacement text is never rescanned.
Text ReplaceSubtext(TextArg text, TextArg oldText, OptionalArgument<TextArg> newText = {},
                    OptionalArgument<std::int32_t> start = {}, OptionalArgument<std::int32_t> count = {},
                    bool caseSensitive = false);
// Pieces between delimiters (default ","); an empty piece is a null element. A trailing delimiter
// gives no empty last piece. With a maximum, the scan stops when it is reached and the rest is dropped.
TextArray SplitText(TextArg text, OptionalArgument<TextArg> delimiter = {},
                    OptionalArgument<std::int32_t> maxPieces = {});
// `count` spaces; nothing for a count below 1.
Text SpaceText(std::int32_t count);
// Any basic value, or a numeric or byte array, as text (see the rules in the implementation).
Text ValueToText(const Value& value);

}  // namespace zv
