// File and INI operations on the wide Win32 calls. Every GBK path is converted once, where it comes
// in (ToWide, code page 936 named), and all path work is done in UTF-16. WriteBytesToFile never leaves
// a cut-short file and never damages the file it replaces: a file that did not exist is written in
// place and deleted again if a write fails; an existing file is replaced by a new file written beside
// it, which is flushed to disk and then moved over the target, so the old content stays until the new
// content is complete. The new file takes the folder's access list, as every new file there does, and
// the archive flag, as an overwrite would leave it; a hidden or system file is refused, as opening it
// with CREATE_ALWAYS and FILE_ATTRIBUTE_NORMAL would be. A replacement that the system refuses for want
// of rights, or that meets a target kept busy, falls back to that overwrite; one that fails for any
// other cause (a full disk) leaves the old file. No file is reached through a link: every file is
// opened as itself, scratch files are made new under names nobody can predict and are moved, given
// attributes and deleted through their own handles. Scratch files that a killed process left behind
// are removed by the next write beside them. INI files are read and edited as bytes here (see
// FileOperations.h): the system's profile calls convert through the ANSI code page, which is GBK only
// on a Chinese system, and rewrite the whole file.
#include "runtime/FileOperations.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <vector>

#include "runtime/Handles.h"
#include "runtime/TextOperations.h"
#include "runtime/WideText.h"

namespace zv {
namespace {

// Leading bytes 1..32 (control characters and the space) are not part of a file, section or key.
const char* SkipLeadingBlanks(const char* s) {
  while (static_cast<unsigned char>(*s) >= 1 && static_cast<unsigned char>(*s) <= 32) ++s;
  return s;
}

// Writes all of `length` bytes, in as many WriteFile calls as the system needs.
bool WriteAll(HANDLE file, const unsigned char* bytes, std::uint32_t length) {
  while (length > 0) {
    DWORD written = 0;
    if (!WriteFile(file, bytes, length, &written, nullptr) || written == 0) return false;
    bytes += written;
    length -= written;
  }
  return true;
}

// Writes every array's bytes in order; arrays of length 0 or less are skipped.
bool WriteArrays(HANDLE file, const ByteArray* const* data, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const ByteArray* array = data[i];
    if (array == nullptr || array->length <= 0) continue;
    if (!WriteAll(file, array->bytes(), static_cast<std::uint32_t>(array->length))) return false;
  }
  return true;
}

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/' || c == L':';
}

// The directory part of `path` (up to its last separator), or "." when it has none, so that the
// new file is created beside the target and the final move stays on one volume.
bool DirectoryOf(const wchar_t* path, wchar_t* out, std::size_t capacity) {
  std::size_t cut = 0;
  bool found = false;
  for (std::size_t i = 0; path[i] != L'\0'; ++i) {
    if (!IsSeparator(path[i])) continue;
    // Keep the separator where it names a root ("C:\\", "\\"), or the drive's own folder ("C:").
    const bool root = path[i] == L':' || i == 0 || path[i - 1] == L':';
    cut = root ? i + 1 : i;
    found = true;
  }
  if (!found) {
    if (capacity < 2) return false;
    out[0] = L'.';
    out[1] = L'\0';
    return true;
  }
  if (cut + 1 > capacity) return false;
  std::wmemcpy(out, path, cut);
  out[cut] = L'\0';
  return true;
}

// The path ends with a separator ("\\", "/", or a drive's ":"), or is empty.
bool EndsWithSeparator(const wchar_t* path) {
  const std::size_t length = std::wcslen(path);
  return length == 0 || IsSeparator(path[length - 1]);
}

// The last component of `path`.
const wchar_t* NameOf(const wchar_t* path) {
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p != L'\0'; ++p)
    if (IsSeparator(*p)) name = p + 1;
  return name;
}

// Scratch files are named with this prefix, hex digits and ".tmp": sixteen random digits now, one to
// four in files that earlier versions (which used GetTempFileNameA) may have left.
constexpr wchar_t kScratchPrefix[] = L"zvw";
constexpr int kScratchDigits = 16;

bool IsHexDigit(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

bool IsScratchName(const wchar_t* name) {
  if (std::wcslen(name) < 3 ||
      CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, name, 3, kScratchPrefix, 3) != CSTR_EQUAL)
    return false;
  const wchar_t* p = name + 3;
  int digits = 0;
  for (; digits < kScratchDigits && IsHexDigit(*p); ++p) ++digits;
  return digits > 0 && lstrcmpiW(p, L".tmp") == 0;
}

// A process killed in the middle of a write leaves its scratch file behind. Such leftovers in
// `directory` are removed here; a scratch file that a running writer still holds open refuses to be
// deleted (it is held without sharing), so only files that nobody uses go.
void RemoveLeftScratchFilesIn(const wchar_t* directory) {
  wchar_t pattern[MAX_PATH];
  const std::size_t length = std::wcslen(directory);
  if (length + 1 + 3 + 6 >= MAX_PATH) return;
  std::wmemcpy(pattern, directory, length);
  std::size_t end = length;
  if (!EndsWithSeparator(directory)) pattern[end++] = L'\\';
  const std::size_t folderLength = end;
  std::wcscpy(pattern + end, L"zvw*.tmp");
  WIN32_FIND_DATAW found;
  UniqueFind find(FindFirstFileW(pattern, &found));
  if (!find) return;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !IsScratchName(found.cFileName)) continue;
    if (folderLength + std::wcslen(found.cFileName) >= MAX_PATH) continue;
    wchar_t path[MAX_PATH];
    std::wmemcpy(path, pattern, folderLength);
    std::wcscpy(path + folderLength, found.cFileName);
    RemoveFile(path);
  } while (FindNextFileW(find.get(), &found));
}

}  // namespace

void RemoveLeftScratchFiles(TextArg directory) {
  RemoveLeftScratchFilesIn(ToWide(directory).c_str());
}

// The system's random generator (RtlGenRandom), exported by advapi32 under this name.
extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

namespace {

// Asks the system to delete the file behind `handle` when it is closed; the thread's last error is
// kept, so that the caller can still report why the write failed.
void DeleteOnClose(HANDLE handle) {
  const DWORD error = GetLastError();
  FILE_DISPOSITION_INFO disposition{TRUE};
  SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
  SetLastError(error);
}

bool SetAttributesOf(HANDLE handle, DWORD attributes) {
  FILE_BASIC_INFO basic{};  // times left at 0: unchanged
  basic.FileAttributes = attributes;
  return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) != 0;
}

// The final path of what `handle` opened: where the system really found it.
bool FinalPathOf(HANDLE handle, wchar_t* out, DWORD capacity) {
  const DWORD length =
      GetFinalPathNameByHandleW(handle, out, capacity, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  return length > 0 && length < capacity;
}

// The opened file is not the name `path` in its folder: what was opened was found somewhere else, as
// through a link that the system followed although asked for the link itself (Wine does, for a
// Linux symbolic link to a file). Compared with the folder as the system resolves it, so that short
// names and drive mappings do not count; when either cannot be told, nothing is concluded.
bool FoundElsewhere(HANDLE file, const wchar_t* path) {
  wchar_t directory[MAX_PATH];
  wchar_t folderPath[MAX_PATH];
  wchar_t filePath[MAX_PATH];
  if (!DirectoryOf(path, directory, MAX_PATH) || !FinalPathOf(file, filePath, MAX_PATH)) return false;
  UniqueFile folder(CreateFileW(directory, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder || !FinalPathOf(folder.get(), folderPath, MAX_PATH)) return false;
  const std::size_t folderLength = std::wcslen(folderPath);
  if (std::wcslen(filePath) < folderLength) return true;
  return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, filePath, static_cast<int>(folderLength),
                        folderPath, static_cast<int>(folderLength)) != CSTR_EQUAL ||
         (filePath[folderLength] != L'\\' && !EndsWithSeparator(folderPath)) ||
         lstrcmpiW(filePath + folderLength + (filePath[folderLength] == L'\\' ? 1 : 0), NameOf(path)) != 0;
}

// A link in a file's place: a symbolic link or junction, or a name that shares its file with
// another name (a hard link), through which a write would change a file elsewhere.
bool IsLink(HANDLE file, const wchar_t* path) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(file, &information)) return true;
  const DWORD attributes = GetFileAttributesW(path);
  return (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
         information.nNumberOfLinks > 1 ||
         (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) ||
         FoundElsewhere(file, path);
}

// How often, and how far apart, a move that meets a sharing violation is tried again: a virus scanner
// that looks at a file just written holds it open for a moment. About a second in all.
constexpr int kMoveTries = 10;
constexpr DWORD kMoveRetryMs = 100;

// A name in `directory` that nobody can predict: the scratch prefix, 16 random hex digits, ".tmp".
bool RandomScratchName(const wchar_t* directory, wchar_t* name) {
  if (std::wcslen(directory) + 1 + 3 + kScratchDigits + 4 >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  std::uint32_t random[2];
  if (!SystemFunction036(random, sizeof random)) return false;
  wsprintfW(name, EndsWithSeparator(directory) ? L"%s%s%08lX%08lX.tmp" : L"%s\\%s%08lX%08lX.tmp", directory,
            kScratchPrefix, static_cast<unsigned long>(random[0]), static_cast<unsigned long>(random[1]));
  return true;
}

// Gives the file behind `handle` the name `target` (a link there is replaced, not followed), where
// `replace` allows replacing an existing file. The rename takes a full path of the system's own
// form: "\??\C:\...", "\??\UNC\server\share\...".
bool RenameTo(HANDLE handle, const wchar_t* target, bool replace) {
  wchar_t full[MAX_PATH];
  const DWORD length = GetFullPathNameW(target, MAX_PATH, full, nullptr);
  if (length == 0 || length >= MAX_PATH) return false;
  const wchar_t* rest = full;
  const wchar_t* prefix = L"\\??\\";
  if (std::wcsncmp(full, L"\\\\?\\", 4) == 0 || std::wcsncmp(full, L"\\\\.\\", 4) == 0) {
    rest = full + 4;
  } else if (full[0] == L'\\' && full[1] == L'\\') {
    rest = full + 2;
    prefix = L"\\??\\UNC\\";
  }
  alignas(FILE_RENAME_INFO) unsigned char buffer[sizeof(FILE_RENAME_INFO) + sizeof(wchar_t) * (MAX_PATH + 16)];
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer);
  std::memset(buffer, 0, sizeof buffer);
  rename->ReplaceIfExists = replace ? TRUE : FALSE;
  const std::size_t prefixLength = std::wcslen(prefix);
  const std::size_t restLength = std::wcslen(rest);  // below MAX_PATH: the whole fits
  std::wmemcpy(rename->FileName, prefix, prefixLength);
  std::wmemcpy(rename->FileName + prefixLength, rest, restLength);
  rename->FileNameLength = static_cast<DWORD>((prefixLength + restLength) * sizeof(wchar_t));
  return SetFileInformationByHandle(handle, FileRenameInfo, rename, sizeof buffer) != 0;
}

// A new file beside a target, under a name that nobody can predict, made new (never an existing file,
// never through a link) and held open without sharing: nobody else can read it half-written, write
// into it or put anything in its place. Its attributes and its move over the target are done through
// its handle. Deleted again unless it has taken the target's place.
class ScratchFile {
  static constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE | DELETE | FILE_WRITE_ATTRIBUTES;
  static constexpr DWORD kAsItself = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;

 public:
  ScratchFile() = default;
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile() { Discard(); }

  bool Create(const wchar_t* directory) {
    for (int attempt = 0; attempt < 4; ++attempt) {
      if (!RandomScratchName(directory, name_)) return false;
      handle_.reset(CreateFileW(name_, kAccess, 0, nullptr, CREATE_NEW, kAsItself, nullptr));
      if (handle_) return GetFileInformationByHandle(handle_.get(), &identity_) != 0 || Fail();
      if (GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
  }
  // Takes over `file` (open with DELETE access), which is moved aside under a scratch name in
  // `directory`: kept whole there until it is moved back or discarded.
  bool TakeAside(UniqueFile file, const wchar_t* directory) {
    for (int attempt = 0; attempt < 4; ++attempt) {
      if (!RandomScratchName(directory, name_)) return false;
      if (RenameTo(file.get(), name_, false)) {
        handle_ = static_cast<UniqueFile&&>(file);
        return GetFileInformationByHandle(handle_.get(), &identity_) != 0;
      }
      if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    name_[0] = L'\0';
    return false;
  }
  // Takes over the file under `name` (the second name of an old file), opened as itself without
  // sharing, if it is still the file `expected` describes.
  bool Adopt(const wchar_t* name, const BY_HANDLE_FILE_INFORMATION& expected) {
    if (std::wcslen(name) >= MAX_PATH) return false;
    std::wcscpy(name_, name);
    identity_ = expected;
    if (Reclaim()) return true;
    name_[0] = L'\0';
    return false;
  }
  HANDLE handle() const { return handle_.get(); }
  // The file is open here (made, taken aside or reclaimed, and not yet moved or discarded).
  bool held() const { return static_cast<bool>(handle_); }

  // Opens the file again by its name: as itself, and only if it is still the file that was made.
  bool Reclaim() {
    handle_.reset(CreateFileW(name_, kAccess, 0, nullptr, OPEN_EXISTING, kAsItself, nullptr));
    BY_HANDLE_FILE_INFORMATION now;
    if (!handle_ || !GetFileInformationByHandle(handle_.get(), &now)) return false;
    if (now.dwVolumeSerialNumber != identity_.dwVolumeSerialNumber ||
        now.nFileIndexHigh != identity_.nFileIndexHigh || now.nFileIndexLow != identity_.nFileIndexLow ||
        IsLink(handle_.get(), name_)) {
      handle_.reset();  // somebody else's file: not ours to move or delete
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
    return true;
  }

  // Flushes the content to disk; false when the system could not put it there.
  bool Flush() { return FlushFileBuffers(handle_.get()) != 0; }

  // Moves the file over `target` (a link there is replaced, not followed), trying again for a while
  // where the target is held open by somebody for a moment. The file is the target afterwards, and
  // no longer this scratch file.
  bool MoveOver(const wchar_t* target) {
    for (int attempt = 1;; ++attempt) {
      if (RenameTo(handle_.get(), target, true)) {
        handle_.reset();
        name_[0] = L'\0';
        return true;
      }
      if (GetLastError() != ERROR_SHARING_VIOLATION || attempt == kMoveTries) return false;
      Sleep(kMoveRetryMs);
    }
  }

  // Deletes the file now (nothing when it is gone or has taken the target's place).
  void Discard() {
    if (!handle_ && name_[0] != L'\0') Reclaim();
    if (handle_) DeleteOnClose(handle_.get());
    handle_.reset();
    name_[0] = L'\0';
  }

 private:
  bool Fail() {
    DeleteOnClose(handle_.get());
    handle_.reset();
    return false;
  }

  UniqueFile handle_;
  BY_HANDLE_FILE_INFORMATION identity_{};
  wchar_t name_[MAX_PATH] = {};
};

// A hidden or system file is refused, as opening it with CREATE_ALWAYS and FILE_ATTRIBUTE_NORMAL
// refuses it (access denied): such a file is not one of ours to overwrite. False, with the reason as
// the thread's last error, when the file behind `target` may not be replaced.
bool MayReplace(HANDLE target) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(target, &information)) return false;
  if ((information.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return true;
}

// The plain overwrite of a target that is held open for writing without sharing: truncated, then
// written, and given the archive flag as opening it with CREATE_ALWAYS would give it. What it leaves
// after a failed write is what such an overwrite leaves.
bool OverwriteHeld(UniqueFile& target, const ByteArray* const* data, std::size_t count) {
  bool written = SetFilePointer(target.get(), 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(target.get()) &&
                 WriteArrays(target.get(), data, count);
  if (written) SetAttributesOf(target.get(), FILE_ATTRIBUTE_ARCHIVE);
  written = CloseHandle(target.release()) != 0 && written;
  return written;
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

// Reads the INI file's current content through a handle that follows no link: a link in the file's
// place gives nothing (what it leads to is not ours to read for writing), nor does a missing file.
// `existed` says whether there was a file of its own.
bool ReadOwnIni(const wchar_t* file, FileBytes& content, bool& existed) {
  existed = false;
  content = FileBytes{};
  UniqueFile current(CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr));
  if (!current) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND;  // a missing folder, or no access: nothing is written
  }
  if (IsLink(current.get(), file)) return true;
  existed = true;
  return ReadAllOf(current.get(), content);
}

// One file of a set written together: its new content, staged beside it, and its old file, kept
// aside while the set is put in place.
struct StagedFile {
  ScratchFile fresh;
  ScratchFile old;
};

// Writes the new content to a scratch file beside its target and flushes it. The target is looked
// at first: one that another program holds open, or that is read-only, hidden, system or a folder, is
// refused now (as the plain overwrite would refuse it), before anything is written.
bool Stage(const wchar_t* path, const ByteArray* data, ScratchFile& fresh) {
  wchar_t directory[MAX_PATH];
  if (!DirectoryOf(path, directory, MAX_PATH)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  UniqueFile target(CreateFileW(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (target ? !MayReplace(target.get()) : GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  target.reset();
  const ByteArray* const arrays[] = {data};
  return fresh.Create(directory) && WriteArrays(fresh.handle(), arrays, 1) && fresh.Flush() &&
         SetAttributesOf(fresh.handle(), FILE_ATTRIBUTE_ARCHIVE);
}

// Puts the staged file in its target's place, keeping the old file (never a link, which is simply
// replaced) under a scratch name until the whole set is in place. Where the file system has second
// names for a file, the old file gets one first and the new file then replaces the name in one step,
// so that the name never stands empty; elsewhere the old file is moved aside first. Where the new
// file cannot take the name, the old one keeps or gets it back.
bool PutInPlace(const wchar_t* path, StagedFile& file) {
  wchar_t directory[MAX_PATH];
  wchar_t aside[MAX_PATH];
  if (!DirectoryOf(path, directory, MAX_PATH)) return false;
  // The old file as itself, without sharing: a file that somebody holds open is not moved.
  const auto openTarget = [path] {
    return UniqueFile(CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  };
  UniqueFile target = openTarget();
  if (!target && GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  BY_HANDLE_FILE_INFORMATION old;
  if (target && !IsLink(target.get(), path) && GetFileInformationByHandle(target.get(), &old)) {
    target.reset();
    if (RandomScratchName(directory, aside) && CreateHardLinkW(aside, path, nullptr)) {
      // (Nothing holds the old file while the new one replaces its name: the system refuses to
      // replace a file that is open.)
      if (!file.fresh.MoveOver(path)) {
        const DWORD error = GetLastError();
        RemoveFile(aside);  // only the second name: the old file keeps its own
        SetLastError(error);
        return false;
      }
      file.old.Adopt(aside, old);  // where it cannot be had, the next write's tidying removes it
      return true;
    }
    target = openTarget();
    if (!target || !file.old.TakeAside(static_cast<UniqueFile&&>(target), directory)) return false;
  }
  target.reset();
  if (file.fresh.MoveOver(path)) return true;
  const DWORD error = GetLastError();
  if (file.old.held()) file.old.MoveOver(path);
  SetLastError(error);
  return false;
}

// Undoes PutInPlace: the old file back in its place, or the new one gone where there was none.
void PutBack(const wchar_t* path, StagedFile& file) {
  if (file.old.held()) {
    file.old.MoveOver(path);
  } else {
    RemoveFile(path);
  }
}

bool WriteBytesTo(const wchar_t* path, const ByteArray* const* data, std::size_t count) {
  if (*path == L'\0') return false;
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  wchar_t directory[MAX_PATH];
  if (!DirectoryOf(path, directory, MAX_PATH)) return false;
  RemoveLeftScratchFilesIn(directory);

  // A link (a symbolic link, junction or second name of another file) in the file's place is never
  // followed: opened as itself, it counts as an existing file, and a replacement puts the new file
  // where the link was. Writing through it would change a file somewhere else, perhaps one the link's
  // maker could not change.
  constexpr DWORD kNoFollow = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;

  // A file that does not exist yet holds nothing to protect: it is written in place, which costs no
  // more than the plain write, and removed again if a write fails. (A scratch file with a flush and a
  // rename made a fresh installation's writes several times slower, the flush being most of it.)
  UniqueFile fresh(
      CreateFileW(path, GENERIC_WRITE | DELETE, 0, &inheritable, CREATE_NEW, kNoFollow, nullptr));
  if (fresh) {
    bool written = WriteArrays(fresh.get(), data, count);
    if (!written) DeleteOnClose(fresh.get());
    written = CloseHandle(fresh.release()) != 0 && written;
    return written;
  }
  const DWORD error = GetLastError();
  if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;  // no folder, no access

  // An existing file: open it without sharing first. This fails while another process holds it open
  // (or it is read-only, or a directory), and keeps everyone else out while the new content is written.
  constexpr DWORD kTargetAccess = GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
  UniqueFile target(CreateFileW(path, kTargetAccess, 0, &inheritable, OPEN_ALWAYS, kNoFollow, nullptr));
  if (!target) return false;
  const bool targetIsNew = GetLastError() != ERROR_ALREADY_EXISTS;  // deleted and re-created meanwhile
  const auto leaveAsItWas = [&] {
    if (targetIsNew) DeleteOnClose(target.get());
    return false;
  };
  if (!MayReplace(target.get())) return leaveAsItWas();
  const bool link = IsLink(target.get(), path);

  // The new content goes to a scratch file beside the target. Made in the target's folder, it takes
  // the folder's access list, as any new file there does (the old file's list, owner and group are
  // not carried: a file planted with entries of its own must not keep them), and the archive flag.
  ScratchFile scratch;
  if (!scratch.Create(directory)) {
    // Refused for want of rights (a second user's reinstallation, say): the plain overwrite below,
    // which needs only the right to write the file. Any other cause (a full disk) fails the write.
    if (GetLastError() != ERROR_ACCESS_DENIED) return leaveAsItWas();
  } else {
    if (!(WriteArrays(scratch.handle(), data, count) && scratch.Flush() &&
          SetAttributesOf(scratch.handle(), FILE_ATTRIBUTE_ARCHIVE))) {
      // The content itself could not be put on disk (a full disk, say): the old file stays as it was.
      return leaveAsItWas();
    }
    // The target must be closed before it can be replaced; the move then fails if anyone opened it
    // in the meantime, which leaves the old content in place.
    target.reset();
    if (scratch.MoveOver(path)) return true;
    // Only a refusal for want of rights (to delete the old file) or a target that stays busy gets
    // the plain overwrite; any other failure leaves the old file as it was.
    const DWORD refusal = GetLastError();
    if (refusal != ERROR_ACCESS_DENIED && refusal != ERROR_SHARING_VIOLATION) return false;
    scratch.Discard();
    SetLastError(refusal);
  }
  // The plain overwrite needs only the right to write the file: the result is never worse than that
  // overwrite's. A link is not overwritten, since that would write through it.
  if (link) return leaveAsItWas();
  if (!target) {
    target.reset(CreateFileW(path, kTargetAccess, 0, &inheritable, OPEN_EXISTING, kNoFollow, nullptr));
    if (!target) return false;  // the system's own reason stays the thread's last error
    if (IsLink(target.get(), path)) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
  }
  return OverwriteHeld(target, data, count);
}

}  // namespace

bool MakeDirectory(TextArg path) {
  return CreateDirectoryW(ToWide(path).c_str(), nullptr) != 0;
}

bool RemoveFile(const wchar_t* path) {
  if (path == nullptr) return false;
  // The name itself is removed, through a handle that follows no link: a link there goes, never the
  // file it leads to.
  UniqueFile file(CreateFileW(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return false;
  FILE_DISPOSITION_INFO disposition{TRUE};
  return SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

bool RemoveFile(TextArg path) {
  return RemoveFile(ToWide(path).c_str());
}

bool FileExists(const wchar_t* path) {
  if (path == nullptr) return false;
  WIN32_FIND_DATAW data;
  UniqueFind find(FindFirstFileW(path, &data));
  return static_cast<bool>(find);
}

bool FileExists(TextArg path) {
  return FileExists(ToWide(path).c_str());
}

bool WriteBytesToFile(TextArg path, const ByteArray* const* data, std::size_t count) {
  return WriteBytesTo(ToWide(path).c_str(), data, count);
}

bool WriteFilesTogether(std::span<const FileContent> files, std::span<std::uint32_t> errors) {
  std::vector<WideText> paths;
  paths.reserve(files.size());
  for (const FileContent& file : files) paths.push_back(ToWide(file.path));
  wchar_t previous[MAX_PATH] = {};
  for (std::size_t i = 0; i < files.size(); ++i) {
    errors[i] = 0;
    wchar_t directory[MAX_PATH];
    if (DirectoryOf(paths[i].c_str(), directory, MAX_PATH) && lstrcmpiW(directory, previous) != 0) {
      RemoveLeftScratchFilesIn(directory);
      std::wcscpy(previous, directory);
    }
  }
  // Every new file whole on disk first; one that cannot be written stops none of the others from
  // being tried, so that the caller learns of each failure, but then none is put in place.
  std::vector<StagedFile> staged(files.size());
  bool complete = true;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (Stage(paths[i].c_str(), files[i].data, staged[i].fresh)) continue;
    errors[i] = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WRITE_FAULT;
    complete = false;
  }
  if (!complete) return false;
  // Then the moves, one right after the other, with nothing else in between; the old files stay
  // aside until every new one is in place, so that a failed move can be undone.
  std::size_t placed = 0;
  for (; placed < files.size(); ++placed) {
    if (PutInPlace(paths[placed].c_str(), staged[placed])) continue;
    errors[placed] = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WRITE_FAULT;
    while (placed > 0) {
      --placed;
      PutBack(paths[placed].c_str(), staged[placed]);
    }
    return false;
  }
  return true;  // the old files go with `staged`
}

Text ReadIniValue(TextArg file, TextArg section, TextArg key, OptionalArgument<TextArg> defaultValue) {
  const char* trimmedFile = SkipLeadingBlanks(file.c_str());
  const char* trimmedSection = SkipLeadingBlanks(section.c_str());
  const char* trimmedKey = SkipLeadingBlanks(key.c_str());
  if (*trimmedFile == '\0' || *trimmedSection == '\0' || *trimmedKey == '\0') return Text();

  // Read as the profile reader read it: through a link in the file's place, sharing with everybody.
  FileBytes content;
  UniqueFile opened(CreateFileW(ToWide(trimmedFile).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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
  // sharing, which then takes the file's place: a link there is replaced, never written through, and
  // a write that fails leaves the old file whole.
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
         copy.MoveOver(path.c_str());
}

}  // namespace zv
