// File and INI operations on the ANSI Win32 calls. WriteBytesToFile never leaves a cut-short file and
// never damages the file it replaces: a file that did not exist is written in place and deleted again
// if a write fails; an existing file is replaced by a new file written beside it, which is flushed to
// disk and then moved over the target, so the old content stays until the new content is complete.
// The new file takes over what belongs to the old one (its access list, and its owner and group where
// they can be carried) and leaves what an overwrite leaves (the archive flag); a hidden or system file
// is refused, as opening it with CREATE_ALWAYS and FILE_ATTRIBUTE_NORMAL would be. A replacement that
// the system refuses falls back to that overwrite. Scratch files that a killed process left behind
// are removed by the next write beside them.
#include "runtime/FileOperations.h"

#include <windows.h>
#include <aclapi.h>

#include <cctype>
#include <cstdint>
#include <cstring>

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

// Scratch files are named by GetTempFileNameA: this prefix, one to four hex digits, ".tmp".
constexpr char kScratchPrefix[] = "zvw";

bool IsScratchName(const char* name) {
  if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name, 3, kScratchPrefix, 3) != CSTR_EQUAL)
    return false;
  const char* p = name + 3;
  int digits = 0;
  for (; digits < 4 && std::isxdigit(static_cast<unsigned char>(*p)) != 0; ++p) ++digits;
  return digits > 0 && lstrcmpiA(p, ".tmp") == 0;
}

// A process killed in the middle of a write leaves its scratch file behind. Such leftovers in
// `directory` are removed here; a scratch file that a running writer still holds open refuses to be
// deleted (it is opened without sharing), so only files that nobody uses go. (A writer that has
// closed its finished scratch file and is about to move it loses it here only if another write to
// the same folder starts in that instant; its write then fails and leaves its target as it was.)
void RemoveStaleScratchFiles(const char* directory) {
  char pattern[MAX_PATH];
  const std::size_t length = std::strlen(directory);
  if (length + 1 + std::strlen(kScratchPrefix) + 6 >= MAX_PATH) return;
  std::memcpy(pattern, directory, length);
  std::size_t end = length;
  if (!EndsWithSeparator(directory)) pattern[end++] = '\\';
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
    DeleteFileA(path);
  } while (FindNextFileA(find.get(), &found));
}

// A new file in `directory` that is deleted again unless Keep() is called.
class ScratchFile {
 public:
  ScratchFile() = default;
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile() { Discard(); }

  // Creates the file without sharing: nobody else can read a half-written file or write into it.
  bool Create(const char* directory) {
    if (GetTempFileNameA(directory, kScratchPrefix, 0, name_) == 0) return false;
    created_ = true;
    handle_.reset(
        CreateFileA(name_, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(handle_);
  }
  HANDLE handle() const { return handle_.get(); }
  const char* name() const { return name_; }
  // Flushes and closes the file; false when the system could not put it on disk.
  bool Close() {
    const bool flushed = FlushFileBuffers(handle_.get()) != 0;
    handle_.reset();
    return flushed;
  }
  void Keep() { created_ = false; }
  // Closes and deletes the file now (nothing when it was never made).
  void Discard() {
    handle_.reset();
    if (created_) DeleteFileA(name_);
    created_ = false;
  }

 private:
  UniqueFile handle_;
  char name_[MAX_PATH] = {};
  bool created_ = false;
};

// What belongs to a file rather than to its content: its owner, group and access list. Read from the
// file that is being replaced and given to the new file before it takes the old one's place, so that
// replacing a file changes what the overwrite changes: its content, and the archive flag.
class FileIdentity {
 public:
  FileIdentity() = default;
  FileIdentity(const FileIdentity&) = delete;
  FileIdentity& operator=(const FileIdentity&) = delete;
  ~FileIdentity() { LocalFree(descriptor_); }

  // `file` is open with READ_CONTROL.
  bool Read(HANDLE file) {
    return GetSecurityInfo(file, SE_FILE_OBJECT, kParts, &owner_, &group_, &dacl_, nullptr, &descriptor_) ==
           ERROR_SUCCESS;
  }

  // Gives the new file (by name: setting a security descriptor needs no access to the data, so the
  // file can stay open without sharing meanwhile) the old one's access list as it stands: the same
  // entries, the same inherited ones among them and the same protection from the folder's. False when
  // the system refuses it: the new file would then be open to others as the old one was not.
  // The owner and group follow where they differ from the new file's and the system lets them: setting
  // another user as owner needs rights that a writer seldom has (ERROR_INVALID_OWNER), and the
  // overwrite, which keeps them, asks for no such rights either.
  bool GiveSecurityTo(const char* name) const {
    if (SetFileSecurityA(name, DACL_SECURITY_INFORMATION, descriptor_) == 0) return false;
    PSID newOwner = nullptr;
    PSID newGroup = nullptr;
    PSECURITY_DESCRIPTOR newDescriptor = nullptr;
    if (GetNamedSecurityInfoA(name, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION,
                              &newOwner, &newGroup, nullptr, nullptr, &newDescriptor) != ERROR_SUCCESS) {
      return true;
    }
    const bool ownerDiffers = owner_ != nullptr && (newOwner == nullptr || !EqualSid(owner_, newOwner));
    const bool groupDiffers = group_ != nullptr && (newGroup == nullptr || !EqualSid(group_, newGroup));
    LocalFree(newDescriptor);
    const DWORD error = GetLastError();
    if (ownerDiffers) SetFileSecurityA(name, OWNER_SECURITY_INFORMATION, descriptor_);
    if (groupDiffers) SetFileSecurityA(name, GROUP_SECURITY_INFORMATION, descriptor_);
    SetLastError(error);
    return true;
  }

 private:
  static constexpr SECURITY_INFORMATION kParts =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

  PSID owner_ = nullptr;  // these three point into descriptor_
  PSID group_ = nullptr;
  PACL dacl_ = nullptr;
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

// How often, and how far apart, a move that meets a sharing violation is tried again: a virus scanner
// that looks at a file just written holds it open for a moment. About a second in all.
constexpr int kMoveTries = 10;
constexpr DWORD kMoveRetryMs = 100;

// Moves the finished new file over the target, trying again for a while where the target is held
// open by somebody for a moment.
bool MoveOver(const char* scratch, const char* target) {
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExA(scratch, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    if (GetLastError() != ERROR_SHARING_VIOLATION || attempt == kMoveTries) return false;
    Sleep(kMoveRetryMs);
  }
}

// The plain overwrite of a target that is held open for writing without sharing: truncated, then
// written, and given the archive flag as opening it with CREATE_ALWAYS would give it. What it leaves
// after a failed write is what such an overwrite leaves.
bool OverwriteHeld(UniqueFile& target, const char* path, const ByteArray* const* data, std::size_t count) {
  bool written = SetFilePointer(target.get(), 0, nullptr, FILE_BEGIN) == 0 && SetEndOfFile(target.get()) &&
                 WriteArrays(target.get(), data, count);
  written = CloseHandle(target.release()) != 0 && written;
  if (written) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE);
  }
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
// new content can need beyond the old (`bytes`, and a margin) is taken by a scratch file beside the
// INI file and given back just before the write; if it cannot be had, nothing is written.
// The reserve is filled with bytes that no compression can shrink: in a compressed folder (or on a
// compressing file system) blocks of zeros are stored for next to nothing and would reserve nothing.
bool SpaceCanBeHadBeside(const char* file, std::size_t bytes) {
  char directory[MAX_PATH];
  ScratchFile reserve;
  if (!DirectoryOf(file, directory, sizeof directory)) return false;
  RemoveStaleScratchFiles(directory);
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
  return true;  // the scratch file goes when `reserve` does, and its space with it
}

}  // namespace

bool MakeDirectory(TextArg path) {
  return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool RemoveFile(TextArg path) {
  return DeleteFileA(path.c_str()) != 0;
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
  RemoveStaleScratchFiles(directory);

  // A link (a symbolic link or junction) in the file's place is never followed: opened as itself, it
  // counts as an existing file, and a replacement puts the new file where the link was. Writing
  // through it would change a file somewhere else, perhaps one the link's maker could not change.
  constexpr DWORD kNoFollow = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;

  // A file that does not exist yet holds nothing to protect: it is written in place, which costs no
  // more than the plain write, and removed again if a write fails. (A scratch file with a flush and a
  // rename made a fresh installation's writes several times slower, the flush being most of it.)
  UniqueFile fresh(CreateFileA(path.c_str(), GENERIC_WRITE, 0, &inheritable, CREATE_NEW, kNoFollow, nullptr));
  if (fresh) {
    bool written = WriteArrays(fresh.get(), data, count);
    written = CloseHandle(fresh.release()) != 0 && written;
    if (!written) DeleteFileA(path.c_str());
    return written;
  }
  const DWORD error = GetLastError();
  if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;  // no folder, no access

  // A hidden or system file is refused, as opening it with CREATE_ALWAYS and FILE_ATTRIBUTE_NORMAL
  // refuses it (access denied): such a file is not one of ours to overwrite.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  const bool link = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;

  // An existing file: open it without sharing first. This fails while another process holds it open
  // (or it is read-only, or a directory), and keeps everyone else out while the new content is written.
  constexpr DWORD kTargetAccess = GENERIC_WRITE | READ_CONTROL | FILE_READ_ATTRIBUTES;
  UniqueFile target(
      CreateFileA(path.c_str(), kTargetAccess, 0, &inheritable, OPEN_ALWAYS, kNoFollow, nullptr));
  if (!target) return false;
  const bool targetIsNew = GetLastError() != ERROR_ALREADY_EXISTS;  // deleted and re-created meanwhile

  // The new content goes to a scratch file beside the target, which takes over the target's access
  // list (and owner and group, where it may) and the archive flag.
  FileIdentity identity;
  ScratchFile scratch;
  bool prepared = identity.Read(target.get()) && scratch.Create(directory);
  if (prepared && !(WriteArrays(scratch.handle(), data, count) && scratch.Close() &&
                    SetFileAttributesA(scratch.name(), FILE_ATTRIBUTE_ARCHIVE))) {
    // The content itself could not be put on disk (a full disk, say): the old file stays as it was.
    if (targetIsNew) {
      target.reset();
      DeleteFileA(path.c_str());
    }
    return false;
  }
  prepared = prepared && identity.GiveSecurityTo(scratch.name());

  // The target must be closed before it can be replaced; the move then fails if anyone opened it in
  // the meantime, which leaves the old content in place.
  if (prepared) {
    target.reset();
    if (MoveOver(scratch.name(), path.c_str())) {
      scratch.Keep();
      return true;
    }
  }
  // Where the replacement is refused (no right to make a file in the folder, to give it the old
  // list, or to delete the old file) or the target stays busy, the target gets the plain overwrite,
  // which needs only the right to write it: the result is never worse than that overwrite's. A link
  // is not overwritten, since that would write through it.
  const DWORD refusal = GetLastError();
  scratch.Discard();
  if (link) {
    SetLastError(refusal);
    return false;
  }
  if (!target) {
    target.reset(CreateFileA(path.c_str(), kTargetAccess, 0, &inheritable, OPEN_EXISTING, kNoFollow, nullptr));
    if (!target) return false;  // the system's own reason stays the thread's last error
  }
  return OverwriteHeld(target, path.c_str(), data, count);
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
  if (!SpaceCanBeHadBeside(file.c_str(), growth)) return false;
  return WritePrivateProfileStringA(section.c_str(), keyText, valueText, file.c_str()) != 0;
}

}  // namespace zv
