// The machinery of safe replacement, shared by the file writes and the configuration's editor: scratch
// files made new beside their targets under names nobody can predict, held open without sharing, and
// moved, given attributes and deleted through their own handles; the check for a link in a file's
// place; the tidying of what a killed writer left. A replacement is flushed before it takes the old
// file's place, and its name is flushed after (FileOperations.h says what each write promises).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cwchar>

#include "runtime/Handles.h"
#include "runtime/HeldDirectories.h"
#include "runtime/Text.h"

namespace zv::replacement {

// Writes all of `length` bytes, in as many WriteFile calls as the system needs.
bool WriteAll(HANDLE file, const unsigned char* bytes, std::uint32_t length);

// Writes every array's bytes in order; arrays of length 0 or less are skipped.
bool WriteArrays(HANDLE file, const ByteArray* const* data, std::size_t count);

// The directory part of `path` (up to its last separator), or "." when it has none, so that the
// new file is created beside the target and the final move stays on one volume.
bool DirectoryOf(const wchar_t* path, wchar_t* out, std::size_t capacity);

// The path ends with a separator ("\\", "/", or a drive's ":"), or is empty.
bool EndsWithSeparator(const wchar_t* path);

// The last component of `path`.
const wchar_t* NameOf(const wchar_t* path);

// A process killed in the middle of a write leaves its scratch file behind, and perhaps an old file
// kept aside under "zvw<random>.<its name>.old". Such leftovers in `directory` are tidied here: an old
// file goes back under its name where that name is missing and is deleted where it is there; other
// scratch files are removed. A scratch file that a running writer still holds open refuses to be
// moved or deleted (it is held without sharing), so only files that nobody uses are touched.
void RemoveLeftScratchFilesIn(const wchar_t* directory);

// Asks the system to delete the file behind `handle` when it is closed; the thread's last error is
// kept, so that the caller can still report why the write failed.
void DeleteOnClose(HANDLE handle);

bool SetAttributesOf(HANDLE handle, DWORD attributes);

// A link in a file's place: a symbolic link or junction, or a name that shares its file with
// another name (a hard link), through which a write would change a file elsewhere. kUnknown where
// the system does not tell (the file's identity or final path unreadable).
enum class LinkState { kNotALink, kLink, kUnknown };
LinkState LinkStateOf(HANDLE file, const wchar_t* path);
// A link, or a file that cannot be told from one: never written through.
bool IsLink(HANDLE file, const wchar_t* path);

// How often, and how far apart, a move that meets a sharing violation is tried again: a virus scanner
// that looks at a file just written holds it open for a moment. About a second in all.
constexpr int kMoveTries = 10;
constexpr DWORD kMoveRetryMs = 100;

// A name in `directory` that nobody can predict: the scratch prefix, 16 random hex digits, ".tmp";
// or, for an old file kept aside, the random part, "." and the name of the file it was (`keeps`), then
// ".old", so that the tidying after a killed writer can put it back where that name is missing.
bool RandomScratchName(const wchar_t* directory, wchar_t* name, const wchar_t* keeps = nullptr);

// Puts what was renamed into `directory` on disk: the folder itself is flushed where the file system
// flushes a folder (NTFS and FAT do, through a handle opened for writing). The moved file's own flush
// (ScratchFile::Settle) is what Windows documents; the folder's adds the name where that alone would
// not, and its failure (a file system without such a step) is not one of the write.
void FlushFolder(const wchar_t* directory);

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
      handle_.reset(files::Open(name_, kAccess, 0, nullptr, CREATE_NEW, kAsItself));
      if (handle_) return GetFileInformationByHandle(handle_.get(), &identity_) != 0 || Fail();
      if (GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
  }
  // Takes over `file` (open with DELETE access), which is moved aside under `name`, a name made for
  // it beforehand (RandomScratchName): a single rename, nothing else.
  bool TakeAsideAs(UniqueFile& file, const wchar_t* name) {
    if (!files::Rename(file.get(), name, false)) return false;
    std::wcscpy(name_, name);
    handle_ = static_cast<UniqueFile&&>(file);
    return true;
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
  bool held() const { return static_cast<bool>(handle_) && !placed_; }

  // Opens the file again by its name: as itself, and only if it is still the file that was made.
  bool Reclaim() {
    handle_.reset(files::Open(name_, kAccess, 0, nullptr, OPEN_EXISTING, kAsItself));
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
  // no longer this scratch file; it stays open here (never deleted) so that the move can be put on
  // disk through the handle that made it (Settle), whatever name it has by then.
  // Without `replace`, an existing target is left as it is and the move fails.
  bool MoveOver(const wchar_t* target, bool replace = true) {
    for (int attempt = 1;; ++attempt) {
      if (files::Rename(handle_.get(), target, replace)) {
        placed_ = true;
        name_[0] = L'\0';
        return true;
      }
      if (GetLastError() != ERROR_SHARING_VIOLATION || attempt == kMoveTries) return false;
      Sleep(kMoveRetryMs);
    }
  }

  // Puts a moved file on disk: its content and its new name, through the handle that moved it (a
  // power cut after a move that only the cache knew of could bring the old file back), then the
  // folder `directory` that names it (null: the caller flushes the folder once for several files).
  // Closes the file. False when the file's flush failed.
  bool Settle(const wchar_t* directory) {
    const bool flushed = Flush();
    const DWORD error = GetLastError();
    if (directory != nullptr) FlushFolder(directory);
    Discard();
    SetLastError(error);
    return flushed;
  }

  // Lets the file go as it is, under its scratch name (an old file that could not be put back: the
  // next writer's tidying puts it back where its name is missing).
  void Keep() {
    handle_.reset();
    name_[0] = L'\0';
  }

  // Deletes the file now (nothing when it is gone or has taken the target's place: then it is only
  // closed).
  void Discard() {
    if (placed_) {
      placed_ = false;
      return Keep();
    }
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
  bool placed_ = false;  // moved over its target: no longer ours to delete
  BY_HANDLE_FILE_INFORMATION identity_{};
  wchar_t name_[MAX_PATH] = {};
};

// A hidden or system file is refused, as opening it with CREATE_ALWAYS and FILE_ATTRIBUTE_NORMAL
// refuses it (access denied): such a file is not one of ours to overwrite. False, with the reason as
// the thread's last error, when the file behind `target` may not be replaced.
bool MayReplace(HANDLE target);

}  // namespace zv::replacement
