// Fuzzes the text operations against a plain reference model of their byte rules. The model keeps
// the text as a std::string, computes the character boundaries once (a byte of 0x80 or more takes the
// next byte with it; a lead byte before the end stops the walk) and then uses the standard library's
// searching, so it shares no scanning code with the runtime.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/TextOperations.h"

namespace {

using zv::OptionalArgument;
using zv::Text;
using zv::TextArg;

bool IsLead(char c) { return static_cast<unsigned char>(c) >= 0x80; }
char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Positions from `from` at which a scan may try a match: every character start until the text ends
// or a lead byte is its last byte.
std::vector<std::size_t> Boundaries(const std::string& s, std::size_t from) {
  std::vector<std::size_t> out;
  std::size_t p = from;
  while (p < s.size()) {
    out.push_back(p);
    if (IsLead(s[p])) {
      if (p + 1 >= s.size()) break;
      p += 2;
    } else {
      p += 1;
    }
  }
  return out;
}

bool Same(const std::string& s, std::size_t at, const std::string& pattern, bool ignoreCase) {
  if (at + pattern.size() > s.size()) return false;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char a = s[at + i];
    if (ignoreCase && IsLead(a)) {
      if (a != pattern[i]) return false;
      if (i + 1 < pattern.size() && s[at + i + 1] != pattern[i + 1]) return false;
      ++i;
      continue;
    }
    if ((ignoreCase ? Fold(a) : a) != (ignoreCase ? Fold(pattern[i]) : pattern[i])) return false;
  }
  return true;
}

int ModelFind(const std::string& s, const std::string& sought, int start, bool ignoreCase) {
  const std::size_t from = start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
  if (sought.empty()) return from < s.size() ? 1 : -1;
  for (std::size_t p : Boundaries(s, from)) {
    if (Same(s, p, sought, ignoreCase)) return static_cast<int>(p + 1);
  }
  return -1;
}

std::string ModelRemoveSpaces(const std::string& s) {
  std::string out;
  for (std::size_t p : Boundaries(s, 0)) {
    if (IsLead(s[p])) {
      if (p + 1 >= s.size()) break;
      if (!(static_cast<unsigned char>(s[p]) == 0xA1 && static_cast<unsigned char>(s[p + 1]) == 0xA1)) out += s.substr(p, 2);
    } else if (s[p] != ' ') {
      out += s[p];
    }
  }
  return out;
}

std::string ModelReplaceAll(const std::string& s, const std::string& from, const std::string& to, bool ignoreCase) {
  if (s.empty() || from.empty()) return s;
  std::string out;
  std::size_t p = 0;
  // After a replacement the walk resumes right after the match.
  while (p < s.size() && s.size() - p >= from.size()) {
    if (Same(s, p, from, ignoreCase)) {
      out += to;
      p += from.size();
      continue;
    }
    if (IsLead(s[p])) {
      if (p + 1 >= s.size()) break;
      out += s.substr(p, 2);
      p += 2;
    } else {
      out += s[p];
      p += 1;
    }
  }
  out += s.substr(p);
  return out;
}

std::vector<std::string> ModelSplit(const std::string& s, const std::string& d) {
  std::vector<std::string> pieces;
  if (s.empty()) return pieces;
  if (d.empty()) return {s};
  std::size_t cut = 0;
  std::size_t p = 0;
  while (s.size() - p >= d.size()) {
    if (s.compare(p, d.size(), d) == 0) {
      pieces.push_back(s.substr(cut, p - cut));
      p += d.size();
      cut = p;
      continue;
    }
    if (IsLead(s[p])) {
      if (p + 1 >= s.size()) break;
      p += 2;
    } else {
      p += 1;
    }
  }
  if (cut < s.size()) pieces.push_back(s.substr(cut));
  return pieces;
}

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int start = static_cast<std::int8_t>(data[0]);
  const bool flag = data[1] & 1;
  const std::size_t split = data[2] % (size - 2);
  // Two NUL-free texts: the second is a short pattern.
  std::string text(reinterpret_cast<const char*>(data + 3), split);
  std::string pattern(reinterpret_cast<const char*>(data + 3 + split), size - 3 - split);
  for (char& c : text) if (c == '\0') c = ' ';
  for (char& c : pattern) if (c == '\0') c = '\\';
  if (pattern.size() > 4) pattern.resize(4);

  Text t = Text::Copy(text.c_str(), text.size());  // heap copies: the sanitizer sees any overread
  Text pat = Text::Copy(pattern.c_str(), pattern.size());

  Check(zv::FindText(t, pat, start, flag) == ModelFind(text, pattern, start, flag));
  Check(zv::FindText(t, pat) == ModelFind(text, pattern, 1, false));
  Check(std::string(zv::RemoveAllSpaces(t).c_str()) == ModelRemoveSpaces(text));

  const std::string lowered = zv::ToLowerCase(t).c_str();
  Check(lowered.size() == text.size());
  for (std::size_t p : Boundaries(text, 0)) Check(lowered[p] == (IsLead(text[p]) ? text[p] : Fold(text[p])));

  Check(std::string(zv::ReplaceSubtext(t, pat, TextArg("#"), {}, {}, !flag).c_str()) ==
        ModelReplaceAll(text, pattern, "#", flag));

  zv::TextArray pieces = zv::SplitText(t, TextArg(pat));
  const std::vector<std::string> expected = ModelSplit(text, pattern);
  Check(pieces.size() == static_cast<std::int32_t>(expected.size()));
  for (std::int32_t i = 0; i < pieces.size(); ++i) Check(std::string(TextArg(pieces[i]).c_str()) == expected[static_cast<std::size_t>(i)]);
  return 0;
}
