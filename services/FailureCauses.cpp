#include "services/FailureCauses.h"

#include <windows.h>

#include "runtime/Handles.h"

namespace zv {
namespace {

// Codes of a replacement that could not remove or move a file (ReplaceFile).
constexpr DWORD kUnableToRemoveReplaced = 1175;
constexpr DWORD kUnableToMoveReplacement = 1176;
constexpr DWORD kUnableToMoveReplacement2 = 1177;

}  // namespace

void ForgetLastError() { SetLastError(ERROR_SUCCESS); }

FailureCause CauseOfFailureAt(TextArg path) {
  // Opening for writing while letting everyone else share the file fails only for the sharing that
  // someone else refuses, or for the access that this user does not have. Nothing is changed, and the
  // thread's last error is left as it was.
  const DWORD before = GetLastError();
  UniqueFile probe(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  const DWORD error = probe ? ERROR_SUCCESS : GetLastError();
  probe.reset();
  SetLastError(before);
  switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return FailureCause::kInUse;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return FailureCause::kAccessDenied;
    default:
      return FailureCause::kUnknown;
  }
}

FailureCause CauseOfLastFailure(TextArg path) {
  const DWORD error = GetLastError();
  switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return FailureCause::kInUse;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return FailureCause::kDiskFull;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: {
      // A file that another process runs refuses deleting as "access denied"; it is in use rather than
      // closed to this user.
      const FailureCause cause = CauseOfFailureAt(path);
      return cause == FailureCause::kInUse ? cause : FailureCause::kAccessDenied;
    }
    case kUnableToRemoveReplaced:
    case kUnableToMoveReplacement:
    case kUnableToMoveReplacement2:
      return CauseOfFailureAt(path);  // the replacement says which file, not why
    default:
      return FailureCause::kUnknown;
  }
}

}  // namespace zv
