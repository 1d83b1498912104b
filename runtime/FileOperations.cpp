// File and INI operations on the ANSI Win32 calls. WriteBytesToFile never leaves a cut-short file and
// never damages the file it replaces: a file that did not exist is written in place and deleted again
// if a write fails; an existing file is replaced by a new file written beside it, which is flushed to
// disk and then moved over the target, so the old content stays until the new content is complete.
// The new file takes the folder's access list, as every new file there does, and the archive flag,
// as an overwrite would leave it; a hidden or system file is refused, as opening it with
// CREATE_ALWAYS and FILE_ATTRIBUTE_NORMAL would be. A replacement that the system refuses for want
// of rights, or that meets a target kept busy, falls back to that overwrite; one that fails for any
// other cause (a full disk) leaves the old file. No file is reached through a link: every file is
// opened as itself, scratch files are made new under names nobody can predict and are moved, given
// attributes and deleted through their own handles. Scratch files that a killed process left behind
// are removed by the next write beside them.
#include "runtime/FileOperations.h"

#include <windows.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/Handles.h"
#include "runtime/TextOperations.h"

namespace zv {
namespace {

constexpr DWORD kIniBufferSize = 10240;

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

// The directory part of `path` (up to its last separator), or "." when it has none, so that the
// new file is created beside the target and the final move stays on one volume.
bool DirectoryOf(const char* path, char* out, std::size_t capacity) {
  std::size_t length = 0;
  std::size_t cut = 0;
  bool found = false;
  for (const char* p = path; *p != '\0'; ++p, ++length) {
    if (static_cast<unsigned char>(*p) >= 0x80 && p[1] != '\0') {  // never cut inside a GBK character
      ++p;
      ++length;
      continue;
    }
    if (*p == '\\' || *p == '/' || *p == ':') {
      // Keep the separator where it names a root ("C:\", "\"), or the drive's own folder ("C:").
      const bool root = *p == ':' || length == 0 || path[length - 1] == ':';
      cut = root ? length + 1 : length;
      found = true;
    }
  }
  if (!found) {
    if (capacity < 2) return false;
    out[0] = '.';
    out[1] = '\0';
    return true;
  }
  if (cut + 1 > capacity) return false;
  for (std::size_t i = 0; i < cut; ++i) out[i] = path[i];
  out[cut] = '\0';
  return true;
}

// The path ends with a separator ("\\", "/", or a drive's ":"), or is empty. A "\\" that is the second
// byte of a double-byte character (GBK "誠" is D5 5C) is no separator.
bool EndsWithSeparator(const char* path) {
  const char* last = nullptr;
  for (const char* p = path; *p != '\0'; p += CharacterLength(p)) last = p;
  if (last == nullptr) return true;
  return CharacterLength(last) == 1 && (*last == '\\' || *last == '/' || *last == ':');
}

// Scratch files are named with this prefix, hex digits and ".tmp": sixteen random digits now, one to
// four in files that earlier versions (which used GetTempFileNameA) may have left.
constexpr char kScratchPrefix[] = "zvw";
constexpr int kScratchDigits = 16;

bool IsScratchName(const char* name) {
  if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name, 3, kScratchPrefix, 3) != CSTR_EQUAL)
    return false;
  const char* p = name + 3;
  int digits = 0;
  for (; digits < kScratchDigits && std::isxdigit(static_cast<unsigned char>(*p)) != 0; ++p) ++digits;
  return digits > 0 && lstrcmpiA(p, ".tmp") == 0;
}

}  // namespace

// A process killed in the middle of a write leaves its scratch file behind. Such leftovers in
// `directory` are removed here; a scratch file that a running writer still holds open refuses to be
// deleted (it is held without sharing), so only files that nobody uses go.
void RemoveLeftScratchFiles(TextArg directory) {
  char pattern[MAX_PATH];
  const std::size_t length = directory.length();
  if (length + 1 + std::strlen(kScratchPrefix) + 6 >= MAX_PATH) return;
  std::memcpy(pattern, directory.c_str(), length);
  std::size_t end = length;
  if (!EndsWithSeparator(directory.c_str())) pattern[end++] = '\\';
  const std::size_t folderLength = end;
  std::strcpy(pattern + end, "zvw*.tmp");
  WIN32_FIND_DATAA found;
  UniqueFind find(FindFirstFileA(pattern, &found));
  if (!find) return;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !IsScratchName(found.cFileName)) continue;
    if (folderLength + std::strlen(found.cFileName) >= MAX_PATH) continue;
    char path[MAX_PATH];
    std::memcpy(path, pattern, folderLength);
    std::strcpy(path + folderLength, found.cFileName);
    RemoveFile(path);
  } while (FindNextFileA(find.get(), &found));
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
bool FinalPathOf(HANDLE handle, char* out, DWORD capacity) {
  const DWORD length =
      GetFinalPathNameByHandleA(handle, out, capacity, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  return length > 0 && length < capacity;
}

// The opened file is not the name `path` in its folder: what was opened was found somewhere else, as
// through a link that the system followed although asked for the link itself (Wine does, for a
// Linux symbolic link to a file). Compared with the folder as the system resolves it, so that short
// names and drive mappings do not count; when either cannot be told, nothing is concluded.
bool FoundElsewhere(HANDLE file, const char* path) {
  char directory[MAX_PATH];
  char folderPath[MAX_PATH];
  char filePath[MAX_PATH];
  if (!DirectoryOf(path, directory, sizeof directory) || !FinalPathOf(file, filePath, sizeof filePath))
    return false;
  UniqueFile folder(CreateFileA(directory, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!folder || !FinalPathOf(folder.get(), folderPath, sizeof folderPath)) return false;
  const char* name = path;
  for (const char* p = path; *p != '\0'; p += CharacterLength(p))
    if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
  const std::size_t folderLength = std::strlen(folderPath);
  return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, filePath, static_cast<int>(folderLength),
                        folderPath, static_cast<int>(folderLength)) != CSTR_EQUAL ||
         (filePath[folderLength] != '\\' && !EndsWithSeparator(folderPath)) ||
         lstrcmpiA(filePath + folderLength + (filePath[folderLength] == '\\' ? 1 : 0), name) != 0;
}

// A link in a file's place: a symbolic link or junction, or a name that shares its file with
// another name (a hard link), through which a write would change a file elsewhere.
bool IsLink(HANDLE file, const char* path) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(file, &information)) return true;
  const DWORD attributes = GetFileAttributesA(path);
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
bool RandomScratchName(const char* directory, char* name) {
  if (std::strlen(directory) + 1 + 3 + kScratchDigits + 4 >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  std::uint32_t random[2];
  if (!SystemFunction036(random, sizeof random)) return false;
  wsprintfA(name, EndsWithSeparator(directory) ? "%s%s%08lX%08lX.tmp" : "%s\\%s%08lX%08lX.tmp", directory,
            kScratchPrefix, static_cast<unsigned long>(random[0]), static_cast<unsigned long>(random[1]));
  return true;
}

// Gives the file behind `handle` the name `target` (a link there is replaced, not followed), where
// `replace` allows replacing an existing file. The rename takes a full path of the system's own
// form: "\??\C:\...", "\??\UNC\server\share\...".
bool RenameTo(HANDLE handle, const char* target, bool replace) {
  char full[MAX_PATH];
  const DWORD length = GetFullPathNameA(target, sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) return false;
  const char* rest = full;
  const char* prefix = "\\??\\";
  if (std::strncmp(full, "\\\\?\\", 4) == 0 || std::strncmp(full, "\\\\.\\", 4) == 0) {
    rest = full + 4;
  } else if (full[0] == '\\' && full[1] == '\\') {
    rest = full + 2;
    prefix = "\\??\\UNC\\";
  }
  char ntPath[MAX_PATH + 16];
  wsprintfA(ntPath, "%s%s", prefix, rest);
  alignas(FILE_RENAME_INFO) unsigned char buffer[sizeof(FILE_RENAME_INFO) + sizeof(wchar_t) * (MAX_PATH + 16)];
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer);
  std::memset(buffer, 0, sizeof buffer);
  rename->ReplaceIfExists = replace ? TRUE : FALSE;
  const int characters = MultiByteToWideChar(CP_ACP, 0, ntPath, -1, rename->FileName, MAX_PATH + 16);
  if (characters <= 1) return false;
  rename->FileNameLength = static_cast<DWORD>((characters - 1) * sizeof(wchar_t));
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

  bool Create(const char* directory) {
    for (int attempt = 0; attempt < 4; ++attempt) {
      if (!RandomScratchName(directory, name_)) return false;
      handle_.reset(CreateFileA(name_, kAccess, 0, nullptr, CREATE_NEW, kAsItself, nullptr));
      if (handle_) return GetFileInformationByHandle(handle_.get(), &identity_) != 0 || Fail();
      if (GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
  }
  // Takes over `file` (open with DELETE access), which is moved aside under a scratch name in
  // `directory`: kept whole there until it is moved back or discarded.
  bool TakeAside(UniqueFile file, const char* directory) {
    for (int attempt = 0; attempt < 4; ++attempt) {
      if (!RandomScratchName(directory, name_)) return false;
      if (RenameTo(file.get(), name_, false)) {
        handle_ = static_cast<UniqueFile&&>(file);
        return GetFileInformationByHandle(handle_.get(), &identity_) != 0;
      }
      if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    name_[0] = '\0';
    return false;
  }
  // Takes over the file under `name` (the second name of an old file), opened as itself without
  // sharing, if it is still the file `expected` describes.
  bool Adopt(const char* name, const BY_HANDLE_FILE_INFORMATION& expected) {
    lstrcpyA(name_, name);
    identity_ = expected;
    if (Reclaim()) return true;
    name_[0] = '\0';
    return false;
  }
  HANDLE handle() const { return handle_.get(); }
  // The file is open here (made, taken aside or reclaimed, and not yet moved or discarded).
  bool held() const { return static_cast<bool>(handle_); }
  const char* name() const { return name_; }

  // Closes the file for somebody else to write it by name (the profile writer), and opens it again
  // afterwards: as itself, and only if it is still the file that was made.
  void Lend() { handle_.reset(); }
  bool Reclaim() {
    handle_.reset(CreateFileA(name_, kAccess, 0, nullptr, OPEN_EXISTING, kAsItself, nullptr));
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
  bool MoveOver(const char* target) {
    for (int attempt = 1;; ++attempt) {
      if (RenameTo(handle_.get(), target, true)) {
        handle_.reset();
        name_[0] = '\0';
        return true;
      }
      if (GetLastError() != ERROR_SHARING_VIOLATION || attempt == kMoveTries) return false;
      Sleep(kMoveRetryMs);
    }
  }

  // Deletes the file now (nothing when it is gone or has taken the target's place).
  void Discard() {
    if (!handle_ && name_[0] != '\0') Reclaim();
    if (handle_) DeleteOnClose(handle_.get());
    handle_.reset();
    name_[0] = '\0';
  }

 private:
  bool Fail() {
    DeleteOnClose(handle_.get());
    handle_.reset();
    return false;
  }

  UniqueFile handle_;
  BY_HANDLE_FILE_INFORMATION identity_{};
  char name_[MAX_PATH] = {};
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

// A section, key or value holding a CR or LF byte would start a new line in the file: the profile
// writer stores texts as they are, so such a text could add keys or sections (a nickname typed or
// pasted as "a\r\n[x]" would). Writes of such texts are refused. (CR and LF are never the second byte
// of a GBK character.)
bool StartsANewLine(const char* text) {
  return text != nullptr && std::strpbrk(text, "\r\n") != nullptr;
}

// What a written section, key and value can add to the file around their bytes: brackets, "=", two
// line ends.
constexpr std::size_t kIniLineSyntax = 8;
// The file system hands out space in pages or clusters (4 KB here and on NTFS): two more cover the
// rounding of the old and the new size.
constexpr std::size_t kAllocationMargin = 8 * 1024;

// The profile writer rewrites the whole file, and on a full disk it leaves the file cut short (the
// settings after the cut are lost) and still reports success. So before it runs, the space that the
// new content can need beyond the old (`bytes`, and a margin) is taken by a scratch file in the INI
// file's folder and given back just before the write (when `reserve` goes); if it cannot be had,
// nothing is written. The reserve is filled with bytes that no compression can shrink: in a
// compressed folder (or on a compressing file system) blocks of zeros are stored for next to nothing
// and would reserve nothing.
bool ReserveSpace(const char* directory, std::size_t bytes, ScratchFile& reserve) {
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

// Copies the INI file's current content into `copy`, read through a handle that follows no link: a
// link in the file's place gives nothing (what it leads to is not ours to read for writing), nor
// does a missing file. `existed` says whether there was a file of its own.
bool CopyIniInto(const char* file, HANDLE copy, bool& existed) {
  existed = false;
  UniqueFile current(CreateFileA(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr));
  if (!current) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND;  // a missing folder, or no access: nothing is written
  }
  if (IsLink(current.get(), file)) return true;
  existed = true;
  unsigned char block[4096];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(current.get(), block, sizeof block, &read, nullptr)) return false;
    if (read == 0) return true;
    if (!WriteAll(copy, block, read)) return false;
  }
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
bool Stage(const FileContent& file, ScratchFile& fresh) {
  char directory[MAX_PATH];
  if (!DirectoryOf(file.path, directory, sizeof directory)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  UniqueFile target(CreateFileA(file.path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (target ? !MayReplace(target.get()) : GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  target.reset();
  const ByteArray* const data[] = {file.data};
  return fresh.Create(directory) && WriteArrays(fresh.handle(), data, 1) && fresh.Flush() &&
         SetAttributesOf(fresh.handle(), FILE_ATTRIBUTE_ARCHIVE);
}

// Puts the staged file in its target's place, keeping the old file (never a link, which is simply
// replaced) under a scratch name until the whole set is in place. Where the file system has second
// names for a file, the old file gets one first and the new file then replaces the name in one step,
// so that the name never stands empty; elsewhere the old file is moved aside first. Where the new
// file cannot take the name, the old one keeps or gets it back.
bool PutInPlace(const char* path, StagedFile& file) {
  char directory[MAX_PATH];
  char aside[MAX_PATH];
  if (!DirectoryOf(path, directory, sizeof directory)) return false;
  // The old file as itself, without sharing: a file that somebody holds open is not moved.
  const auto openTarget = [path] {
    return UniqueFile(CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  };
  UniqueFile target = openTarget();
  if (!target && GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  BY_HANDLE_FILE_INFORMATION old;
  if (target && !IsLink(target.get(), path) && GetFileInformationByHandle(target.get(), &old)) {
    target.reset();
    if (RandomScratchName(directory, aside) && CreateHardLinkA(aside, path, nullptr)) {
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
void PutBack(const char* path, StagedFile& file) {
  if (file.old.held()) {
    file.old.MoveOver(path);
  } else {
    RemoveFile(path);
  }
}

}  // namespace

bool MakeDirectory(TextArg path) {
  return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool RemoveFile(TextArg path) {
  // The name itself is removed, through a handle that follows no link: a link there goes, never the
  // file it leads to.
  UniqueFile file(CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return false;
  FILE_DISPOSITION_INFO disposition{TRUE};
  return SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

bool FileExists(TextArg path) {
  WIN32_FIND_DATAA data;
  UniqueFind find(FindFirstFileA(path.c_str(), &data));
  return static_cast<bool>(find);
}

bool WriteBytesToFile(TextArg path, const ByteArray* const* data, std::size_t count) {
  if (path.empty()) return false;
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  char directory[MAX_PATH];
  if (!DirectoryOf(path.c_str(), directory, sizeof directory)) return false;
  RemoveLeftScratchFiles(directory);

  // A link (a symbolic link, junction or second name of another file) in the file's place is never
  // followed: opened as itself, it counts as an existing file, and a replacement puts the new file
  // where the link was. Writing through it would change a file somewhere else, perhaps one the link's
  // maker could not change.
  constexpr DWORD kNoFollow = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;

  // A file that does not exist yet holds nothing to protect: it is written in place, which costs no
  // more than the plain write, and removed again if a write fails. (A scratch file with a flush and a
  // rename made a fresh installation's writes several times slower, the flush being most of it.)
  UniqueFile fresh(
      CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, 0, &inheritable, CREATE_NEW, kNoFollow, nullptr));
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
  UniqueFile target(
      CreateFileA(path.c_str(), kTargetAccess, 0, &inheritable, OPEN_ALWAYS, kNoFollow, nullptr));
  if (!target) return false;
  const bool targetIsNew = GetLastError() != ERROR_ALREADY_EXISTS;  // deleted and re-created meanwhile
  const auto leaveAsItWas = [&] {
    if (targetIsNew) DeleteOnClose(target.get());
    return false;
  };
  if (!MayReplace(target.get())) return leaveAsItWas();
  const bool link = IsLink(target.get(), path.c_str());

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
    if (scratch.MoveOver(path.c_str())) return true;
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
    target.reset(
        CreateFileA(path.c_str(), kTargetAccess, 0, &inheritable, OPEN_EXISTING, kNoFollow, nullptr));
    if (!target) return false;  // the system's own reason stays the thread's last error
    if (IsLink(target.get(), path.c_str())) {
      SetLastError(ERROR_ACCESS_DENIED);
      return false;
    }
  }
  return OverwriteHeld(target, data, count);
}

bool WriteFilesTogether(std::span<const FileContent> files, std::span<std::uint32_t> errors) {
  char previous[MAX_PATH] = {};
  for (std::size_t i = 0; i < files.size(); ++i) {
    errors[i] = 0;
    char directory[MAX_PATH];
    if (DirectoryOf(files[i].path, directory, sizeof directory) && lstrcmpiA(directory, previous) != 0) {
      RemoveLeftScratchFiles(directory);
      lstrcpyA(previous, directory);
    }
  }
  // Every new file whole on disk first; one that cannot be written stops none of the others from
  // being tried, so that the caller learns of each failure, but then none is put in place.
  std::vector<StagedFile> staged(files.size());
  bool complete = true;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (Stage(files[i], staged[i].fresh)) continue;
    errors[i] = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WRITE_FAULT;
    complete = false;
  }
  if (!complete) return false;
  // Then the moves, one right after the other, with nothing else in between; the old files stay
  // aside until every new one is in place, so that a failed move can be undone.
  std::size_t placed = 0;
  for (; placed < files.size(); ++placed) {
    if (PutInPlace(files[placed].path, staged[placed])) continue;
    errors[placed] = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WRITE_FAULT;
    while (placed > 0) {
      --placed;
      PutBack(files[placed].path, staged[placed]);
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

  const char* fallback = defaultValue.IsGiven() ? defaultValue.value.c_str() : "";
  Text buffer = Text::Allocate(kIniBufferSize - 1);
  buffer.get()[0] = '\0';
  GetPrivateProfileStringA(trimmedSection, trimmedKey, *fallback == '\0' ? nullptr : fallback, buffer.get(),
                           kIniBufferSize, trimmedFile);
  return Text::Copy(buffer.c_str());
}

bool WriteIniValue(TextArg file, TextArg section, OptionalArgument<TextArg> key,
                   OptionalArgument<TextArg> value) {
  const char* keyText = key.IsGiven() ? key.value.c_str() : nullptr;
  const char* valueText = value.IsGiven() ? value.value.c_str() : nullptr;
  if (StartsANewLine(section.c_str()) || StartsANewLine(keyText) || StartsANewLine(valueText)) return false;
  const std::size_t growth = section.length() + (keyText ? std::strlen(keyText) : 0) +
                             (valueText ? std::strlen(valueText) : 0) + kIniLineSyntax;
  char directory[MAX_PATH];
  if (!DirectoryOf(file.c_str(), directory, sizeof directory)) return false;
  RemoveLeftScratchFiles(directory);

  // The profile writer follows a link in the file's place and rewrites what it leads to. So it works
  // on a copy, made new under a name nobody can predict and read back only if it is still that file,
  // which then takes the file's place: a link there is replaced, never written through, and a write
  // that fails leaves the old file whole.
  ScratchFile copy;
  bool existed = false;
  if (!copy.Create(directory) || !CopyIniInto(file.c_str(), copy.handle(), existed)) return false;
  {
    ScratchFile reserve;
    if (!ReserveSpace(directory, growth, reserve)) return false;
    copy.Lend();
  }
  if (!WritePrivateProfileStringA(section.c_str(), keyText, valueText, copy.name())) return false;
  if (!copy.Reclaim()) return false;
  // A deletion in a file that was not there leaves none.
  LARGE_INTEGER size{};
  if (!existed && GetFileSizeEx(copy.handle(), &size) && size.QuadPart == 0) return true;
  return copy.Flush() && copy.MoveOver(file.c_str());
}

}  // namespace zv
