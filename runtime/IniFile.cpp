// zvconf.ini read and edited as bytes (FileOperations.h gives the rules): the system's profile calls
// convert through the ANSI code page, which is GBK only on a Chinese system, and rewrite the whole
// file. An edit is written to a scratch copy beside the file, which takes the file's place when it is
// whole on disk (SafeReplacement.h).
#include "runtime/FileOperations.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/Handles.h"
#include "runtime/SafeReplacement.h"
#include "runtime/TextOperations.h"
#include "runtime/WideText.h"

namespace zv {
namespace {

using namespace replacement;

// Leading bytes 1..32 (control characters and the space) are not part of a file, section or key.
const char* SkipLeadingBlanks(const char* s) {
  while (static_cast<unsigned char>(*s) >= 1 && static_cast<unsigned char>(*s) <= 32) ++s;
  return s;
}

// A section, key or value holding a CR or LF byte would start a new line in the file: the bytes are
// stored as they are, so such a text could add keys or sections (a nickname typed or pasted as
// "a\r\n[x]" would). Writes of such texts are refused. (CR and LF are never the second byte of a GBK
// character.)
bool StartsANewLine(const char* text) {
  return text != nullptr && std::strpbrk(text, "\r\n") != nullptr;
}

// What a written section, key and value can add to the file around their bytes: brackets, "=", the
// line end a last line lacked, two more.
constexpr std::size_t kIniLineSyntax = 8;
// The file system hands out space in pages or clusters (4 KB here and on NTFS): two more cover the
// rounding of the old and the new size.
constexpr std::size_t kAllocationMargin = 8 * 1024;

// Before the new content is written, the space that it can need (`bytes`: the old content and what
// the write can add, and a margin) is taken by a scratch file in the INI file's folder and given back
// just before the write (when `reserve` goes); if it cannot be had, nothing is written. (The profile
// writer that this was made for rewrote the whole file and, on a full disk, left it cut short while
// reporting success; the copy written here fails its write instead, and the file stays as it was
// either way.) The reserve is filled with bytes that no compression can shrink: in a compressed folder
// (or on a compressing file system) blocks of zeros are stored for next to nothing and would reserve
// nothing.
bool ReserveSpace(const wchar_t* directory, std::size_t bytes, ScratchFile& reserve) {
  if (!reserve.Create(directory)) return false;
  unsigned char noise[4096];
  std::uint32_t state = 0x9E3779B9u ^ GetTickCount();  // xorshift: a new sequence for every block
  for (std::size_t left = bytes + kAllocationMargin; left > 0;) {
    for (std::size_t i = 0; i < sizeof noise; i += 4) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      std::memcpy(noise + i, &state, 4);
    }
    const std::uint32_t chunk = left < sizeof noise ? static_cast<std::uint32_t>(left) : sizeof noise;
    if (!WriteAll(reserve.handle(), noise, chunk)) return false;
    left -= chunk;
  }
  return true;
}

// ---- INI files as bytes ----------------------------------------------------------------------------

// A configuration larger than this is not one of ours: it is not read (nor taken whole into memory).
constexpr std::uint64_t kIniFileLimit = 16u << 20;
// The profile reader's buffer held 10,240 bytes with the NUL.
constexpr std::size_t kIniValueLimit = 10239;

// A file's bytes, NUL-terminated (so that CharacterLength may look at the byte after any).
struct FileBytes {
  Text block;
  std::size_t length = 0;
  const char* data() const { return block.c_str(); }
};

// Reads all of an open file. False for a file too large to be a configuration, or a failed read.
bool ReadAllOf(HANDLE file, FileBytes& out) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size)) return false;
  if (size.QuadPart < 0 || static_cast<std::uint64_t>(size.QuadPart) > kIniFileLimit) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  const std::size_t wanted = static_cast<std::size_t>(size.QuadPart);
  out.block = Text::Allocate(wanted);
  out.length = 0;
  while (out.length < wanted) {
    DWORD read = 0;
    if (!ReadFile(file, out.block.get() + out.length, static_cast<DWORD>(wanted - out.length), &read,
                  nullptr))
      return false;
    if (read == 0) break;  // cut short meanwhile
    out.length += read;
  }
  out.block.get()[out.length] = '\0';
  return true;
}

// The blanks that do not count around names and values, as the profile calls take them: tab, line
// feed, vertical tab, form feed, carriage return, ^Z (a DOS end of file) and the space. (None of them
// is ever the second byte of a GBK character.)
bool IsIniBlank(char c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == ' ';
}

// A run of bytes in a file or a text.
struct Span {
  const char* begin = nullptr;
  const char* end = nullptr;
  std::size_t size() const { return static_cast<std::size_t>(end - begin); }
};

Span Trimmed(const char* begin, const char* end) {
  while (begin < end && IsIniBlank(*begin)) ++begin;
  while (end > begin && IsIniBlank(end[-1])) --end;
  return {begin, end};
}

// The bytes of the character at `p`, never past `end`: a double-byte character is one step, so that
// its second byte (which can be that of "]" or "\\", though never of "=") is never taken for one.
std::size_t StepIn(const char* p, const char* end) {
  const std::size_t step = CharacterLength(p);
  return p + step <= end ? step : 1;
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Names are equal without regard to ASCII case; double-byte characters are compared as they are.
bool SameName(Span a, Span b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size();) {
    const std::size_t step = StepIn(a.begin + i, a.end);
    if (step == 2) {
      if (a.begin[i] != b.begin[i] || a.begin[i + 1] != b.begin[i + 1]) return false;
    } else if (LowerAscii(a.begin[i]) != LowerAscii(b.begin[i])) {
      return false;
    }
    i += step;
  }
  return true;
}

// One line of the file: its bytes up to the first CR or LF, and where the next line starts (after a
// CR LF, a CR or an LF).
struct IniLine {
  const char* start;
  const char* end;
  const char* next;
  bool ended() const { return next != end; }
};

IniLine LineAt(const char* p, const char* fileEnd) {
  const char* end = p;
  while (end < fileEnd && *end != '\r' && *end != '\n') ++end;
  const char* next = end;
  if (next < fileEnd) next += (*next == '\r' && next + 1 < fileEnd && next[1] == '\n') ? 2 : 1;
  return {p, end, next};
}

// A section header "[name]", the name up to the line's last "]" and without its blanks.
bool SectionNameOf(Span line, Span& name) {
  if (line.size() == 0 || *line.begin != '[') return false;
  const char* close = nullptr;
  for (const char* p = line.begin + 1; p < line.end; p += StepIn(p, line.end))
    if (*p == ']') close = p;
  if (close == nullptr) return false;
  name = Trimmed(line.begin + 1, close);
  return true;
}

// A key line "name=value", split at its first "=", each part without its blanks; a line without "="
// is a name without a value.
void KeyOf(Span line, Span& name, Span& value, bool& hasValue) {
  const char* equals = line.begin;
  while (equals < line.end && *equals != '=') equals += StepIn(equals, line.end);
  hasValue = equals < line.end;
  name = Trimmed(line.begin, equals);
  value = hasValue ? Trimmed(equals + 1, line.end) : Span{line.end, line.end};
}

// Where a section and a key are in the file, as the profile calls look: the first section of the
// name, and the first key of the name in it.
struct IniPlace {
  bool sectionFound = false;
  const char* sectionStart = nullptr;  // the header line
  const char* sectionEnd = nullptr;    // the next section's header line, or the file's end
  IniLine lastLine{};                  // the section's last line that is not blank (the header at least)
  bool keyFound = false;
  IniLine keyLine{};
  Span keyName;
  Span value;
  bool hasValue = false;
};

const char* ContentStart(const FileBytes& file) {
  // A UTF-8 byte-order mark, which the profile calls pass over, is no part of the first line.
  return file.length >= 3 && std::memcmp(file.data(), "\xEF\xBB\xBF", 3) == 0 ? file.data() + 3 : file.data();
}

IniPlace Locate(const FileBytes& file, Span section, Span key) {
  IniPlace place;
  const char* const fileEnd = file.data() + file.length;
  bool inSection = false;
  for (const char* p = ContentStart(file); p < fileEnd;) {
    const IniLine line = LineAt(p, fileEnd);
    p = line.next;
    const Span content = Trimmed(line.start, line.end);
    if (content.size() == 0) continue;
    Span name;
    if (SectionNameOf(content, name)) {
      if (inSection) {
        place.sectionEnd = line.start;
        return place;
      }
      if (!place.sectionFound && SameName(name, section)) {
        place.sectionFound = inSection = true;
        place.sectionStart = line.start;
        place.lastLine = line;
      }
      continue;
    }
    if (!inSection) continue;
    place.lastLine = line;
    Span value;
    bool hasValue = false;
    KeyOf(content, name, value, hasValue);
    if (!place.keyFound && key.size() > 0 && SameName(name, key)) {
      place.keyFound = true;
      place.keyLine = line;
      place.keyName = name;
      place.value = value;
      place.hasValue = hasValue;
    }
  }
  if (inSection) place.sectionEnd = fileEnd;
  return place;
}

// A value without the matching quotes (" or ') at both ends, as the profile reader gives it, and cut
// to what its buffer held, never inside a double-byte character.
Text ValueText(Span value) {
  if (value.size() >= 2 && (*value.begin == '"' || *value.begin == '\'') && value.end[-1] == *value.begin) {
    ++value.begin;
    --value.end;
  }
  const char* cut = value.begin;
  while (cut < value.end) {
    const std::size_t step = StepIn(cut, value.end);
    if (static_cast<std::size_t>(cut + step - value.begin) > kIniValueLimit) break;
    cut += step;
  }
  return Text::Copy(value.begin, static_cast<std::size_t>(cut - value.begin));
}

Span SpanOf(const char* text) {
  return {text, text + std::strlen(text)};
}

// The new content of an INI file, put together from pieces of the old one and new bytes.
class IniBuilder {
 public:
  void Add(const char* begin, const char* end) { bytes_.insert(bytes_.end(), begin, end); }
  void Add(Span span) { Add(span.begin, span.end); }
  void Add(const char* text) { Add(SpanOf(text)); }
  const std::vector<char>& bytes() const { return bytes_; }

 private:
  std::vector<char> bytes_;
};

// The old content with the key set, the key deleted (no value) or the section deleted (no key). The
// names are the given ones, blanks included: a new section's or key's name is written without its
// leading blanks, as the profile writer wrote it.
void EditIni(const FileBytes& file, Span section, const char* key, const char* value, IniBuilder& out) {
  const char* const begin = file.data();
  const char* const fileEnd = begin + file.length;
  const Span sectionName = Trimmed(section.begin, section.end);
  const Span keyName = key != nullptr ? Trimmed(key, key + std::strlen(key)) : Span{};
  const IniPlace place = Locate(file, sectionName, keyName);
  Span newValue;
  if (value != nullptr) newValue = SpanOf(value);
  while (newValue.begin < newValue.end && IsIniBlank(*newValue.begin)) ++newValue.begin;
  const auto keyLine = [&] {
    out.Add(Trimmed(key, key + std::strlen(key)).begin, key + std::strlen(key));
    out.Add("=");
    out.Add(newValue);
    out.Add("\r\n");
  };

  if (key == nullptr) {  // the section goes: its header and every line up to the next section
    if (!place.sectionFound) return out.Add(begin, fileEnd);
    out.Add(begin, place.sectionStart);
    return out.Add(place.sectionEnd, fileEnd);
  }
  if (value == nullptr) {  // the key's line goes
    if (!place.keyFound) return out.Add(begin, fileEnd);
    out.Add(begin, place.keyLine.start);
    return out.Add(place.keyLine.next, fileEnd);
  }
  if (place.keyFound) {  // the value replaced in place; a key without "=" gets one
    if (place.hasValue) {
      out.Add(begin, place.value.begin);
    } else {
      out.Add(begin, place.keyName.end);
      out.Add("=");
    }
    out.Add(newValue);
    return out.Add(place.hasValue ? place.value.end : place.keyName.end, fileEnd);
  }
  if (place.sectionFound) {  // a new key after the section's last line
    const IniLine& last = place.lastLine;
    out.Add(begin, last.next);
    if (!last.ended()) out.Add("\r\n");
    keyLine();
    return out.Add(last.next, fileEnd);
  }
  // A new section at the end.
  out.Add(begin, fileEnd);
  if (file.length > 0 && fileEnd[-1] != '\r' && fileEnd[-1] != '\n') out.Add("\r\n");
  out.Add("[");
  out.Add(sectionName.begin, section.end);
  out.Add("]\r\n");
  keyLine();
}

// Reads the INI file's current content through a handle that follows no link. A link in the file's
// place (a symbolic link, or a second name that a backup or sync tool made), or a file whose identity
// cannot be read, is refused: writing through it would change a file elsewhere, and replacing it
// would drop every other setting. A missing file reads as empty. `existed` says whether there was one.
bool ReadOwnIni(const wchar_t* file, FileBytes& content, bool& existed) {
  existed = false;
  content = FileBytes{};
  UniqueFile current(files::Open(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT));
  if (!current) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND;  // a missing folder, or no access: nothing is written
  }
  if (IsLink(current.get(), file)) {
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return false;
  }
  existed = true;
  return ReadAllOf(current.get(), content);
}

}  // namespace

Text ReadIniValue(TextArg file, TextArg section, TextArg key, OptionalArgument<TextArg> defaultValue) {
  const char* trimmedFile = SkipLeadingBlanks(file.c_str());
  const char* trimmedSection = SkipLeadingBlanks(section.c_str());
  const char* trimmedKey = SkipLeadingBlanks(key.c_str());
  if (*trimmedFile == '\0' || *trimmedSection == '\0' || *trimmedKey == '\0') return Text();

  // Read as the profile reader read it: through a link in the file's place, sharing with everybody.
  FileBytes content;
  UniqueFile opened(files::Open(ToWide(trimmedFile).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
  if (opened && ReadAllOf(opened.get(), content)) {
    const IniPlace place =
        Locate(content, Trimmed(trimmedSection, trimmedSection + std::strlen(trimmedSection)),
               Trimmed(trimmedKey, trimmedKey + std::strlen(trimmedKey)));
    if (place.keyFound && place.hasValue) return ValueText(place.value);
  }
  // The default as the profile reader gave it: without its trailing spaces (the first byte stays),
  // then like a value.
  Span fallback = defaultValue.IsGiven() ? SpanOf(defaultValue.value.c_str()) : SpanOf("");
  while (fallback.size() > 1 && fallback.end[-1] == ' ') --fallback.end;
  return ValueText(fallback);
}

bool WriteIniValue(TextArg file, TextArg section, OptionalArgument<TextArg> key,
                   OptionalArgument<TextArg> value) {
  const char* keyText = key.IsGiven() ? key.value.c_str() : nullptr;
  const char* valueText = value.IsGiven() ? value.value.c_str() : nullptr;
  if (StartsANewLine(section.c_str()) || StartsANewLine(keyText) || StartsANewLine(valueText)) return false;
  const Span sectionText = SpanOf(section.c_str());
  if (Trimmed(sectionText.begin, sectionText.end).size() == 0 ||
      (keyText != nullptr && Trimmed(keyText, keyText + std::strlen(keyText)).size() == 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const std::size_t growth = section.length() + (keyText ? std::strlen(keyText) : 0) +
                             (valueText ? std::strlen(valueText) : 0) + kIniLineSyntax;
  const WideText path = ToWide(file);
  wchar_t directory[MAX_PATH];
  if (!DirectoryOf(path.c_str(), directory, MAX_PATH)) return false;
  RemoveLeftScratchFilesIn(directory);

  // The new content goes to a copy, made new under a name nobody can predict and held open without
  // sharing, which then takes the file's place once it is on disk, and is put on disk there: a write
  // that fails leaves the old file whole. A link in the file's place is neither written through nor
  // replaced.
  ScratchFile copy;
  FileBytes old;
  bool existed = false;
  if (!copy.Create(directory) || !ReadOwnIni(path.c_str(), old, existed)) return false;
  IniBuilder edited;
  EditIni(old, sectionText, keyText, valueText, edited);
  // A deletion in a file that was not there leaves none.
  if (!existed && edited.bytes().empty()) return true;
  {
    ScratchFile reserve;
    if (!ReserveSpace(directory, old.length + growth, reserve)) return false;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(edited.bytes().data());
  return WriteAll(copy.handle(), bytes, static_cast<std::uint32_t>(edited.bytes().size())) && copy.Flush() &&
         copy.MoveOver(path.c_str()) && copy.Settle(directory);
}

}  // namespace zv
