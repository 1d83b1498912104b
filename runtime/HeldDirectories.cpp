// Held directories and the file operations relative to them (HeldDirectories.h). A name inside a held
// directory is opened by the system's own call that takes a directory handle as the start of the
// name (NtCreateFile with a root directory); renames and second names name their target the same way
// (the root directory of the rename and link records). Everything else is the wide Win32 call.
#include "runtime/HeldDirectories.h"

#include <winternl.h>

#include <cstring>
#include <cwchar>

#include "runtime/Handles.h"
#include "runtime/SafeReplacement.h"

namespace zv {
namespace {

constexpr NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035L);  // STATUS_OBJECT_NAME_COLLISION
constexpr ULONG kOpenForBackup = 0x00004000;                             // FILE_OPEN_FOR_BACKUP_INTENT
constexpr ULONG kWriteThrough = 0x00000002;                              // FILE_WRITE_THROUGH
constexpr ULONG kOverwritten = 3;                                        // FILE_OVERWRITTEN
constexpr int kRenameInformation = 10;                                   // FileRenameInformation
constexpr int kLinkInformation = 11;                                     // FileLinkInformation
constexpr DWORD kValidAttributes = 0x7fb7;                               // what CreateFileW passes on

struct HeldDirectory {
  HANDLE handle = nullptr;
  DWORD volume = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
  bool reachedByLink = false;  // its name was a link (one that the holder follows) when it was held
  wchar_t path[MAX_PATH] = {};
};

// The install folders are two; a link followed adds none (only the folder itself is held here).
constexpr int kMaxHeld = 8;
HeldDirectory g_held[kMaxHeld];

bool SameText(const wchar_t* a, std::size_t aLength, const wchar_t* b) {
  const std::size_t bLength = std::wcslen(b);
  return aLength == bLength &&
         CompareStringOrdinal(a, static_cast<int>(aLength), b, static_cast<int>(bLength), TRUE) == CSTR_EQUAL;
}

// The held directory that `path` names directly, if any.
HeldDirectory* HeldNamed(const wchar_t* path, std::size_t length) {
  for (HeldDirectory& held : g_held)
    if (held.handle != nullptr && SameText(path, length, held.path)) return &held;
  return nullptr;
}

// The held directory that `path` names an entry of, with the entry's name; null (and `name` the
// whole path) where the path is not directly inside a held directory.
HANDLE RootOf(const wchar_t* path, const wchar_t*& name) {
  name = path;
  const wchar_t* last = replacement::NameOf(path);
  if (last == path || *last == L'\0') return nullptr;
  std::size_t directoryLength = static_cast<std::size_t>(last - path) - 1;
  if (path[directoryLength] == L':') ++directoryLength;  // "C:name": the drive's own folder is not held
  HeldDirectory* held = HeldNamed(path, directoryLength);
  if (held == nullptr) return nullptr;
  name = last;
  return held->handle;
}

struct NameString {
  explicit NameString(const wchar_t* name) {
    const std::size_t bytes = std::wcslen(name) * sizeof(wchar_t);
    text.Length = text.MaximumLength = static_cast<USHORT>(bytes > 0xFFFE ? 0xFFFE : bytes);
    text.Buffer = const_cast<PWSTR>(name);
  }
  UNICODE_STRING text;
};

void SetErrorOf(NTSTATUS status) {
  SetLastError(status == kNameCollision ? ERROR_FILE_EXISTS : RtlNtStatusToDosError(status));
}

ULONG DispositionOf(DWORD disposition) {
  switch (disposition) {
    case CREATE_NEW:
      return FILE_CREATE;
    case CREATE_ALWAYS:
      return FILE_OVERWRITE_IF;
    case OPEN_ALWAYS:
      return FILE_OPEN_IF;
    case TRUNCATE_EXISTING:
      return FILE_OVERWRITE;
    default:
      return FILE_OPEN;
  }
}

// The name as a rename or link record wants it: relative to its held directory, or the full path in
// the system's own form ("\??\C:\...", "\??\UNC\server\share\...").
template <class Record>
bool FillRecord(Record* record, std::size_t capacity, const wchar_t* target) {
  const wchar_t* name = nullptr;
  record->RootDirectory = RootOf(target, name);
  wchar_t full[MAX_PATH];
  const wchar_t* prefix = L"";
  const wchar_t* rest = name;
  if (record->RootDirectory == nullptr) {
    const DWORD length = GetFullPathNameW(target, MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) return false;
    rest = full;
    prefix = L"\\??\\";
    if (std::wcsncmp(full, L"\\\\?\\", 4) == 0 || std::wcsncmp(full, L"\\\\.\\", 4) == 0) {
      rest = full + 4;
    } else if (full[0] == L'\\' && full[1] == L'\\') {
      rest = full + 2;
      prefix = L"\\??\\UNC\\";
    }
  }
  const std::size_t prefixLength = std::wcslen(prefix);
  const std::size_t restLength = std::wcslen(rest);
  if (prefixLength + restLength >= capacity) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  std::wmemcpy(record->FileName, prefix, prefixLength);
  std::wmemcpy(record->FileName + prefixLength, rest, restLength);
  record->FileNameLength = static_cast<DWORD>((prefixLength + restLength) * sizeof(wchar_t));
  return true;
}

bool Succeeded(NTSTATUS result) {
  if (NT_SUCCESS(result)) return true;
  SetErrorOf(result);
  return false;
}

NTSTATUS SetInformation(HANDLE handle, void* record, ULONG size, int kind) {
  IO_STATUS_BLOCK status{};
  return NtSetInformationFile(handle, &status, record, size, static_cast<FILE_INFORMATION_CLASS>(kind));
}

// Opens or makes `name` relative to the directory handle `root`, synchronously: the system's call
// behind CreateFileW, given where the name starts. `information` tells what was done (opened,
// overwritten, made).
struct Relative {
  ULONG disposition = FILE_OPEN;
  ULONG options = 0;
  ULONG fileAttributes = 0;
  const SECURITY_ATTRIBUTES* security = nullptr;
  SECURITY_QUALITY_OF_SERVICE* quality = nullptr;
};
NTSTATUS CreateRelative(HANDLE root, const wchar_t* name, ACCESS_MASK access, ULONG share,
                        const Relative& how, HANDLE& handle, ULONG_PTR* information = nullptr) {
  NameString objectName(name);
  OBJECT_ATTRIBUTES attributes;
  const bool inherit = how.security != nullptr && how.security->bInheritHandle;
  InitializeObjectAttributes(&attributes, &objectName.text,
                             OBJ_CASE_INSENSITIVE | (inherit ? OBJ_INHERIT : 0), root,
                             how.security != nullptr ? how.security->lpSecurityDescriptor : nullptr);
  attributes.SecurityQualityOfService = how.quality;
  IO_STATUS_BLOCK status{};
  handle = nullptr;
  const NTSTATUS result = NtCreateFile(&handle, access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes,
                                       &status, nullptr, how.fileAttributes, share, how.disposition,
                                       how.options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (information != nullptr) *information = status.Information;
  return result;
}

// The held directory opened once more, relative to its handle (an empty name opens the directory
// itself), for a listing of its own: a listing's position belongs to its handle.
UniqueFile OpenForListing(HANDLE held) {
  HANDLE handle = nullptr;
  const NTSTATUS result =
      CreateRelative(held, L"", FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     {.options = FILE_DIRECTORY_FILE | kOpenForBackup}, handle);
  if (!Succeeded(result)) return UniqueFile();
  return UniqueFile(handle);
}

// Calls `visit` for each entry that the listing handle gives, until it answers false. False when the
// listing failed before its end.
template <class Visit>
bool ListEntries(HANDLE listed, Visit visit) {
  alignas(FILE_ID_BOTH_DIR_INFO) unsigned char buffer[16384];
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(listed, kind, buffer, sizeof buffer)) {
    kind = FileIdBothDirectoryInfo;
    for (auto* entry = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(buffer);;
         entry = reinterpret_cast<FILE_ID_BOTH_DIR_INFO*>(reinterpret_cast<unsigned char*>(entry) +
                                                          entry->NextEntryOffset)) {
      if (!visit(*entry)) return true;
      if (entry->NextEntryOffset == 0) break;
    }
  }
  return GetLastError() == ERROR_NO_MORE_FILES;
}

bool SameIdentity(HANDLE handle, const HeldDirectory& held) {
  BY_HANDLE_FILE_INFORMATION now;
  return GetFileInformationByHandle(handle, &now) && now.dwVolumeSerialNumber == held.volume &&
         now.nFileIndexHigh == held.indexHigh && now.nFileIndexLow == held.indexLow;
}

}  // namespace

bool HoldDirectory(const wchar_t* path, HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION identity;
  if (std::wcslen(path) >= MAX_PATH || !GetFileInformationByHandle(handle, &identity)) return false;
  HeldDirectory* free = nullptr;
  for (HeldDirectory& held : g_held) {
    if (held.handle == nullptr && free == nullptr) free = &held;
    // The same folder held again (a second holder) takes the place of the first.
    if (held.handle != nullptr && SameText(path, std::wcslen(path), held.path)) free = &held;
  }
  if (free == nullptr) return false;
  const DWORD byName = files::Attributes(path);
  free->reachedByLink = byName != INVALID_FILE_ATTRIBUTES && (byName & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  free->handle = handle;
  free->volume = identity.dwVolumeSerialNumber;
  free->indexHigh = identity.nFileIndexHigh;
  free->indexLow = identity.nFileIndexLow;
  std::wcscpy(free->path, path);
  return true;
}

void LetGoOfDirectory(HANDLE handle) {
  for (HeldDirectory& held : g_held)
    if (held.handle == handle) held = HeldDirectory{};
}

bool HeldDirectoriesInPlace(const wchar_t** which) {
  for (const HeldDirectory& held : g_held) {
    if (held.handle == nullptr) continue;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    // The folder as reached by its path now (through a trusted link where it was reached through one).
    UniqueFile byPath(CreateFileW(held.path, FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    // (The name is asked in its parent as well: a system that opens what a link leads to even when
    // asked for the link itself still lists the link's own attributes under its name.)
    const DWORD byName = files::Attributes(held.path);
    const bool nameIsLink = byName != INVALID_FILE_ATTRIBUTES && (byName & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!GetFileInformationByHandleEx(held.handle, FileAttributeTagInfo, &tag, sizeof tag) ||
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || (nameIsLink && !held.reachedByLink) ||
        !SameIdentity(held.handle, held) || !byPath || !SameIdentity(byPath.get(), held)) {
      if (which != nullptr) *which = held.path;
      SetLastError(ERROR_CANT_ACCESS_FILE);
      return false;
    }
  }
  return true;
}

namespace files {

bool InHeldDirectory(const wchar_t* path) {
  const wchar_t* name = nullptr;
  return RootOf(path, name) != nullptr;
}

HANDLE Open(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security, DWORD disposition,
            DWORD flagsAndAttributes) {
  const wchar_t* name = nullptr;
  const HANDLE root = RootOf(path, name);
  if (root == nullptr)
    return CreateFileW(path, access, share, security, disposition, flagsAndAttributes, nullptr);
  // What the system would ask for a pipe's server in the name's place: identification only.
  SECURITY_QUALITY_OF_SERVICE quality{sizeof quality, SecurityIdentification, SECURITY_STATIC_TRACKING,
                                      FALSE};
  Relative how{DispositionOf(disposition), 0, flagsAndAttributes & kValidAttributes, security, nullptr};
  if ((flagsAndAttributes & SECURITY_SQOS_PRESENT) != 0) {
    quality.ImpersonationLevel = static_cast<SECURITY_IMPERSONATION_LEVEL>((flagsAndAttributes >> 16) & 3);
    how.quality = &quality;
  }
  how.options =
      (flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) != 0 ? kOpenForBackup : FILE_NON_DIRECTORY_FILE;
  if ((flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0) how.options |= FILE_OPEN_REPARSE_POINT;
  if ((flagsAndAttributes & FILE_FLAG_WRITE_THROUGH) != 0) how.options |= kWriteThrough;
  if ((flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0) {
    how.options |= FILE_DELETE_ON_CLOSE;
    access |= DELETE;
  }
  HANDLE handle = nullptr;
  ULONG_PTR done = 0;
  if (!Succeeded(CreateRelative(root, name, access, share, how, handle, &done))) return INVALID_HANDLE_VALUE;
  const bool found = (disposition == OPEN_ALWAYS && done == FILE_OPENED) ||
                     (disposition == CREATE_ALWAYS && done == kOverwritten);
  SetLastError(found ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

HANDLE MakeDirectory(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security) {
  constexpr DWORD kAsItself = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
  const wchar_t* name = nullptr;
  const HANDLE root = RootOf(path, name);
  if (root == nullptr) {
    if (!CreateDirectoryW(path, security)) return INVALID_HANDLE_VALUE;
    return CreateFileW(path, access, share, nullptr, OPEN_EXISTING, kAsItself, nullptr);
  }
  // Inside a held folder the directory is made and opened in one step, relative to the held handle.
  HANDLE handle = nullptr;
  const NTSTATUS result =
      CreateRelative(root, name, access, share,
                     {FILE_CREATE, FILE_DIRECTORY_FILE | kOpenForBackup | FILE_OPEN_REPARSE_POINT,
                      FILE_ATTRIBUTE_NORMAL, security, nullptr},
                     handle);
  if (!NT_SUCCESS(result)) {
    SetLastError(result == kNameCollision ? ERROR_ALREADY_EXISTS : RtlNtStatusToDosError(result));
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

DWORD Attributes(const wchar_t* path) {
  const wchar_t* name = nullptr;
  const HANDLE root = RootOf(path, name);
  if (root == nullptr) return GetFileAttributesW(path);
  // The name's entry in the held directory's listing: the attributes of the name itself, a link's
  // own included (the system's query by name does not start from a directory handle everywhere).
  UniqueFile listing = OpenForListing(root);
  if (!listing) return INVALID_FILE_ATTRIBUTES;
  const std::size_t length = std::wcslen(name);
  DWORD found = INVALID_FILE_ATTRIBUTES;
  const auto named = [&](const wchar_t* text, std::size_t bytes) {
    return bytes / sizeof(wchar_t) == length &&
           CompareStringOrdinal(text, static_cast<int>(length), name, static_cast<int>(length), TRUE) ==
               CSTR_EQUAL;
  };
  if (!ListEntries(listing.get(), [&](const FILE_ID_BOTH_DIR_INFO& entry) {
        if (!named(entry.FileName, entry.FileNameLength) && !named(entry.ShortName, entry.ShortNameLength))
          return true;
        found = entry.FileAttributes;
        return false;
      }))
    return INVALID_FILE_ATTRIBUTES;
  if (found == INVALID_FILE_ATTRIBUTES) SetLastError(ERROR_FILE_NOT_FOUND);
  return found;
}

bool Rename(HANDLE handle, const wchar_t* target, bool replace) {
  alignas(
      FILE_RENAME_INFO) unsigned char buffer[sizeof(FILE_RENAME_INFO) + sizeof(wchar_t) * (MAX_PATH + 16)];
  std::memset(buffer, 0, sizeof buffer);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer);
  rename->ReplaceIfExists = replace ? TRUE : FALSE;
  if (!FillRecord(rename, MAX_PATH + 16, target)) return false;
  if (rename->RootDirectory == nullptr)
    return SetFileInformationByHandle(handle, FileRenameInfo, rename, sizeof buffer) != 0;
  // A name relative to a directory goes to the system's own call: the kernel32 one may take the name
  // for a path from the current folder (Wine's does).
  return Succeeded(SetInformation(handle, rename, sizeof buffer, kRenameInformation));
}

bool AddName(HANDLE handle, const wchar_t* name) {
  // The link record: whether to replace, the directory the name is relative to, the name.
  struct LinkRecord {
    BOOLEAN ReplaceIfExists;
    HANDLE RootDirectory;
    ULONG FileNameLength;
    WCHAR FileName[1];
  };
  alignas(LinkRecord) unsigned char buffer[sizeof(LinkRecord) + sizeof(wchar_t) * (MAX_PATH + 16)];
  std::memset(buffer, 0, sizeof buffer);
  auto* link = reinterpret_cast<LinkRecord*>(buffer);
  if (!FillRecord(link, MAX_PATH + 16, name)) return false;
  return Succeeded(SetInformation(handle, link, sizeof buffer, kLinkInformation));
}

bool ForEachEntry(const wchar_t* directory, EntryVisitor visit, void* context) {
  HeldDirectory* held = HeldNamed(directory, std::wcslen(directory));
  UniqueFile listing =
      held != nullptr ? OpenForListing(held->handle)
                      : UniqueFile(CreateFileW(directory, FILE_LIST_DIRECTORY,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!listing) return false;
  return ListEntries(listing.get(), [&](const FILE_ID_BOTH_DIR_INFO& entry) {
    const std::size_t length = entry.FileNameLength / sizeof(wchar_t);
    const bool dots = (length == 1 && entry.FileName[0] == L'.') ||
                      (length == 2 && entry.FileName[0] == L'.' && entry.FileName[1] == L'.');
    if (dots || length >= MAX_PATH) return true;
    wchar_t name[MAX_PATH];
    std::wmemcpy(name, entry.FileName, length);
    name[length] = L'\0';
    return visit(name, entry.FileAttributes, context);
  });
}

}  // namespace files
}  // namespace zv
