// Safe replacement (SafeReplacement.h): scratch files, the check for links, the tidying of leftovers,
// and the suite's files replaced as one (WriteFilesTogether).
#include "runtime/SafeReplacement.h"

#include <cstring>
#include <vector>

#include "runtime/FileOperations.h"
#include "runtime/WideText.h"

// The system's random generator (RtlGenRandom), exported by advapi32 under this name.
extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

namespace zv::replacement {
namespace {

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/' || c == L':';
}

// Scratch files are named with this prefix, hex digits and ".tmp": sixteen random digits now, one to
// four in files that earlier versions (which used GetTempFileNameA) may have left.
constexpr wchar_t kScratchPrefix[] = L"zvw";
constexpr int kScratchDigits = 16;

bool IsHexDigit(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// The part after the prefix and the random digits of a scratch name, or null where `name` is none.
// `digits` tells how many there were.
const wchar_t* AfterScratchDigits(const wchar_t* name, int& digits) {
  if (std::wcslen(name) < 3 ||
      CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, name, 3, kScratchPrefix, 3) != CSTR_EQUAL)
    return nullptr;
  const wchar_t* p = name + 3;
  digits = 0;
  for (; digits < kScratchDigits && IsHexDigit(*p); ++p) ++digits;
  return digits > 0 ? p : nullptr;
}

bool IsScratchName(const wchar_t* name) {
  int digits = 0;
  const wchar_t* rest = AfterScratchDigits(name, digits);
  return rest != nullptr && lstrcmpiW(rest, L".tmp") == 0;
}

// The name of the file that an old file kept aside was, from its name "zvw<16 digits>.<name>.old"
// (written into `kept`), or false where `name` is no such name.
bool KeptName(const wchar_t* name, wchar_t* kept, std::size_t capacity) {
  int digits = 0;
  const wchar_t* rest = AfterScratchDigits(name, digits);
  if (rest == nullptr || digits != kScratchDigits || *rest != L'.') return false;
  const std::size_t length = std::wcslen(++rest);
  if (length <= 4 || length - 4 >= capacity || lstrcmpiW(rest + length - 4, L".old") != 0) return false;
  std::wmemcpy(kept, rest, length - 4);
  kept[length - 4] = L'\0';
  return true;
}

// An old file that a killed writer left kept aside: put back under its own name where that name is
// missing (as itself, never a link), deleted where the name is there.
void PutBackOrRemove(const wchar_t* path, const wchar_t* directory, const wchar_t* kept) {
  wchar_t original[MAX_PATH];
  if (std::wcslen(directory) + 1 + std::wcslen(kept) >= MAX_PATH) return;
  wsprintfW(original, EndsWithSeparator(directory) ? L"%s%s" : L"%s\\%s", directory, kept);
  UniqueFile file(files::Open(path, DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT));
  if (!file) return;  // held by somebody: left for a later run
  const LinkState state = LinkStateOf(file.get(), path);
  if (state == LinkState::kNotALink && files::Rename(file.get(), original, false)) return;
  // Where it cannot be told what the kept file is, it stays for a later run.
  if (state != LinkState::kUnknown && files::Attributes(original) != INVALID_FILE_ATTRIBUTES)
    DeleteOnClose(file.get());
}

// The final path of what `handle` opened: where the system really found it.
bool FinalPathOf(HANDLE handle, wchar_t* out, DWORD capacity) {
  const DWORD length =
      GetFinalPathNameByHandleW(handle, out, capacity, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  return length > 0 && length < capacity;
}

// Whether the opened file is not the name `path` in its folder: what was opened was found somewhere
// else, as through a link that the system followed although asked for the link itself (Wine does,
// for a Linux symbolic link to a file). Compared with the folder as the system resolves it, so that
// short names and drive mappings do not count. kUnknown where either cannot be told.
LinkState FoundElsewhere(HANDLE file, const wchar_t* path) {
  wchar_t directory[MAX_PATH];
  wchar_t folderPath[MAX_PATH];
  wchar_t filePath[MAX_PATH];
  if (!DirectoryOf(path, directory, MAX_PATH) || !FinalPathOf(file, filePath, MAX_PATH))
    return LinkState::kUnknown;
  UniqueFile folder(files::Open(directory, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
  if (!folder || !FinalPathOf(folder.get(), folderPath, MAX_PATH)) return LinkState::kUnknown;
  const std::size_t folderLength = std::wcslen(folderPath);
  if (std::wcslen(filePath) < folderLength) return LinkState::kLink;
  const bool elsewhere =
      CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, filePath, static_cast<int>(folderLength), folderPath,
                     static_cast<int>(folderLength)) != CSTR_EQUAL ||
      (filePath[folderLength] != L'\\' && !EndsWithSeparator(folderPath)) ||
      lstrcmpiW(filePath + folderLength + (filePath[folderLength] == L'\\' ? 1 : 0), NameOf(path)) != 0;
  return elsewhere ? LinkState::kLink : LinkState::kNotALink;
}

}  // namespace

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

// A process killed in the middle of a write leaves its scratch file behind. Such leftovers in
// `directory` are removed here; a scratch file that a running writer still holds open refuses to be
// deleted (it is held without sharing), so only files that nobody uses go.
void RemoveLeftScratchFilesIn(const wchar_t* directory) {
  struct Listing {
    const wchar_t* directory;
    wchar_t path[MAX_PATH];
    std::size_t folderLength;
  } listing{directory, {}, std::wcslen(directory)};
  if (listing.folderLength + 1 + 3 + 6 >= MAX_PATH) return;
  std::wmemcpy(listing.path, directory, listing.folderLength);
  if (!EndsWithSeparator(directory)) listing.path[listing.folderLength++] = L'\\';
  files::ForEachEntry(
      directory,
      [](const wchar_t* name, DWORD attributes, void* context) {
        auto& list = *static_cast<Listing*>(context);
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || list.folderLength + std::wcslen(name) >= MAX_PATH)
          return true;
        std::wcscpy(list.path + list.folderLength, name);
        wchar_t kept[MAX_PATH];
        if (KeptName(name, kept, MAX_PATH)) {
          PutBackOrRemove(list.path, list.directory, kept);
        } else if (IsScratchName(name)) {
          RemoveFile(list.path);
        }
        return true;
      },
      &listing);
}

void FlushFolder(const wchar_t* directory) {
  UniqueFile folder(files::Open(directory, GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
  if (folder) FlushFileBuffers(folder.get());
}

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

// A link in a file's place: a symbolic link or junction, or a name that shares its file with
// another name (a hard link), through which a write would change a file elsewhere.
LinkState LinkStateOf(HANDLE file, const wchar_t* path) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(file, &information)) return LinkState::kUnknown;
  const DWORD attributes = files::Attributes(path);
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || information.nNumberOfLinks > 1 ||
      (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0))
    return LinkState::kLink;
  return FoundElsewhere(file, path);
}

bool IsLink(HANDLE file, const wchar_t* path) {
  return LinkStateOf(file, path) != LinkState::kNotALink;
}

// A name in `directory` that nobody can predict: the scratch prefix, 16 random hex digits, ".tmp".
bool RandomScratchName(const wchar_t* directory, wchar_t* name, const wchar_t* keeps) {
  const std::size_t ending = keeps != nullptr ? 1 + std::wcslen(keeps) + 4 : 4;
  if (std::wcslen(directory) + 1 + 3 + kScratchDigits + ending >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  std::uint32_t random[2];
  if (!SystemFunction036(random, sizeof random)) return false;
  wsprintfW(name, EndsWithSeparator(directory) ? L"%s%s%08lX%08lX" : L"%s\\%s%08lX%08lX", directory,
            kScratchPrefix, static_cast<unsigned long>(random[0]), static_cast<unsigned long>(random[1]));
  if (keeps != nullptr) {
    std::wcscat(name, L".");
    std::wcscat(name, keeps);
    std::wcscat(name, L".old");
  } else {
    std::wcscat(name, L".tmp");
  }
  return true;
}

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

}  // namespace zv::replacement

namespace zv {
namespace {

using namespace replacement;

// One file of a set written together: its new content, staged beside it, and its old file, kept
// aside under a name that carries its own (`aside`) until the whole set is in place and on disk.
struct StagedFile {
  ScratchFile fresh;
  ScratchFile old;
  bool hadOld = false;  // an old file (not a link) stood in the target's place
  bool linked = false;  // it got its second name `aside` beforehand (a hard link)
  UniqueFile target;    // where it could not: the old file, held to be moved aside
  BY_HANDLE_FILE_INFORMATION identity{};
  wchar_t aside[MAX_PATH] = {};
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
  UniqueFile target(files::Open(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT));
  if (target ? !MayReplace(target.get()) : GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  target.reset();
  const ByteArray* const arrays[] = {data};
  return fresh.Create(directory) && WriteArrays(fresh.handle(), arrays, 1) && fresh.Flush() &&
         SetAttributesOf(fresh.handle(), FILE_ATTRIBUTE_ARCHIVE);
}

// Everything that putting the staged file in place needs, done before the first move: the old file
// (never a link, which is simply replaced) is looked at and gets its second name, "zvw<random>.<its
// name>.old", so that the new file then replaces its name in one rename and the name never stands
// empty; where the file system has no second names, the old file is held open instead, to be moved
// to that name in the window. A target that somebody holds open fails here.
bool Prepare(const wchar_t* path, StagedFile& file) {
  wchar_t directory[MAX_PATH];
  if (!DirectoryOf(path, directory, MAX_PATH)) return false;
  // The old file as itself, without sharing: a file that somebody holds open is not moved.
  const auto openTarget = [path] {
    return UniqueFile(files::Open(path, DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT));
  };
  UniqueFile target = openTarget();
  if (!target) return GetLastError() == ERROR_FILE_NOT_FOUND;
  // A link is simply replaced. A file that cannot be told from one is refused: replaced without being
  // kept aside, a program there could not be put back.
  switch (LinkStateOf(target.get(), path)) {
    case LinkState::kLink:
      return true;
    case LinkState::kUnknown:
      SetLastError(ERROR_CANT_ACCESS_FILE);
      return false;
    case LinkState::kNotALink:
      break;
  }
  if (!GetFileInformationByHandle(target.get(), &file.identity)) return false;
  file.hadOld = true;
  if (!RandomScratchName(directory, file.aside, NameOf(path))) return false;
  // The second name is given through the handle that was checked. (Nothing holds the old file while
  // the new one replaces its name: the system refuses to replace a file that is open.)
  file.linked = files::AddName(target.get(), file.aside);
  target.reset();
  if (!file.linked) file.target = openTarget();
  return file.linked || static_cast<bool>(file.target);
}

// Puts the prepared file in its target's place: renames only. Where the new file cannot take the
// name, the old one keeps it or gets it back; false, with the system's reason.
bool PutInPlace(const wchar_t* path, StagedFile& file) {
  if (file.hadOld && !file.linked && !file.old.TakeAsideAs(file.target, file.aside)) return false;
  if (file.fresh.MoveOver(path)) return true;
  const DWORD error = GetLastError();
  if (file.linked) {
    RemoveFile(file.aside);  // only the second name: the old file keeps its own
  } else if (file.old.held() && !file.old.MoveOver(path)) {
    file.old.Keep();  // under its name, put back by the next writer's tidying
  }
  SetLastError(error);
  return false;
}

// Undoes PutInPlace: the old file back in its place, or the new one gone where there was none. An
// old file that cannot be had or put back stays under its second name, and the new file stays in
// place: no name that was there goes missing. 0, or the system's reason for what could not be undone.
DWORD PutBack(const wchar_t* path, StagedFile& file) {
  file.fresh.Discard();  // closed: the system does not replace a file that is open
  if (!file.hadOld) return RemoveFile(path) ? 0 : GetLastError();
  if (file.linked && !file.old.Adopt(file.aside, file.identity)) return GetLastError();
  if (file.old.MoveOver(path)) return 0;
  const DWORD error = GetLastError();
  file.old.Keep();
  return error;
}

// The thread's last error, or a general one where the system gave none.
DWORD LastFailure() {
  return GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WRITE_FAULT;
}

// Undoes the first `placed` files, reporting each that could not be undone.
void PutAllBack(std::span<const WideText> paths, std::vector<StagedFile>& staged, std::size_t placed,
                std::span<std::uint32_t> errors) {
  while (placed > 0) {
    --placed;
    if (const DWORD error = PutBack(paths[placed].c_str(), staged[placed]); error != 0)
      errors[placed] = error;
  }
}

}  // namespace

void RemoveLeftScratchFiles(TextArg directory) {
  RemoveLeftScratchFilesIn(ToWide(directory).c_str());
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
  // Everything the moves need (each old file looked at and given its second name) before the first
  // of them, so that between the first rename and the last nothing runs but the renames.
  for (std::size_t i = 0; complete && i < files.size(); ++i) {
    if (Prepare(paths[i].c_str(), staged[i])) continue;
    errors[i] = LastFailure();
    complete = false;
  }
  if (!complete) {
    for (StagedFile& file : staged)
      if (file.linked) RemoveFile(file.aside);
    return false;
  }
  // Then the moves, one right after the other; the old files stay aside until every new one is in
  // place and on disk, so that a failed move can be undone.
  for (std::size_t placed = 0; placed < files.size(); ++placed) {
    if (PutInPlace(paths[placed].c_str(), staged[placed])) continue;
    errors[placed] = LastFailure();
    for (std::size_t i = placed + 1; i < files.size(); ++i)
      if (staged[i].linked) RemoveFile(staged[i].aside);
    PutAllBack(paths, staged, placed, errors);
    return false;
  }
  // The new files and their names on disk before any old file goes: a power cut after this must
  // not bring back a mixed suite whose old half was deleted.
  // Each file through its own handle, then its folder (once for files side by side).
  bool settled = true;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (staged[i].fresh.Settle(nullptr)) continue;
    errors[i] = LastFailure();
    settled = false;
  }
  wchar_t flushed[MAX_PATH] = {};
  for (const WideText& path : paths) {
    wchar_t directory[MAX_PATH];
    if (!DirectoryOf(path.c_str(), directory, MAX_PATH) || lstrcmpiW(directory, flushed) == 0) continue;
    FlushFolder(directory);
    std::wcscpy(flushed, directory);
  }
  if (!settled) {
    PutAllBack(paths, staged, files.size(), errors);
    return false;
  }
  // Only now the old files go, each if it is still the file that was kept aside.
  for (StagedFile& file : staged)
    if (file.linked && file.old.Adopt(file.aside, file.identity)) file.old.Discard();
  return true;  // an old file moved aside goes with `staged`
}

}  // namespace zv
