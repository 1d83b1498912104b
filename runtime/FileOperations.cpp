// File operations on the wide Win32 calls. Every GBK path is converted once, where it comes in
// (ToWide, code page 936 named), and all path work is done in UTF-16. WriteBytesToFile never leaves
// a cut-short file under the file's name and never damages the file it replaces: the new content is
// written to a file beside the target, flushed to disk and then given the target's name (moved over an
// existing target), so the old content, or no file, stays until the new content is complete. The new file
// takes the folder's access list, as every new file there does, and the archive flag, as an overwrite would
// leave it; a hidden or system file is refused, as opening it with CREATE_ALWAYS and FILE_ATTRIBUTE_NORMAL
// would be. A replacement that the system refuses for want of rights, or that meets a target kept busy, falls
// back to that overwrite; one that fails for any other cause (a full disk) leaves the old file. No file is
// reached through a link (SafeReplacement.h holds the scratch files and the link check). The INI files are
// edited in IniFile.cpp, the suite's programs replaced together in SafeReplacement.cpp.
#include "runtime/FileOperations.h"

#include <windows.h>

#include <cstdint>

#include "runtime/Handles.h"
#include "runtime/HeldDirectories.h"
#include "runtime/SafeReplacement.h"
#include "runtime/WideText.h"

namespace zv {
namespace {

using namespace replacement;

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

  // A file that does not exist yet is written to a scratch file beside it, flushed, and only then
  // given its name (never replacing one that appeared meanwhile), so that a write that fails or is
  // killed leaves no file cut short under the real name.
  if (files::Attributes(path) == INVALID_FILE_ATTRIBUTES) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;  // no folder, no access
    ScratchFile fresh;
    if (!fresh.Create(directory) || !WriteArrays(fresh.handle(), data, count) || !fresh.Flush() ||
        !SetAttributesOf(fresh.handle(), FILE_ATTRIBUTE_ARCHIVE))
      return false;
    if (fresh.MoveOver(path, false)) return fresh.Settle(directory);
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
    // Somebody made the file meanwhile: it is replaced as an existing file.
  }
  // An existing file: open it without sharing first. This fails while another process holds it open
  // (or it is read-only, or a directory), and keeps everyone else out while the new content is written.
  constexpr DWORD kTargetAccess = GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
  UniqueFile target(files::Open(path, kTargetAccess, 0, &inheritable, OPEN_ALWAYS, kNoFollow));
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
    if (scratch.MoveOver(path)) return scratch.Settle(directory);
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
    target.reset(files::Open(path, kTargetAccess, 0, &inheritable, OPEN_EXISTING, kNoFollow));
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
  UniqueFile file(files::Open(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT));
  if (!file) return false;
  FILE_DISPOSITION_INFO disposition{TRUE};
  return SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

bool RemoveFile(TextArg path) {
  return RemoveFile(ToWide(path).c_str());
}

bool FileExists(const wchar_t* path) {
  if (path == nullptr) return false;
  // In a held folder the name is asked of the folder itself (no wildcards there).
  if (files::InHeldDirectory(path)) return files::Attributes(path) != INVALID_FILE_ATTRIBUTES;
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

}  // namespace zv
