#include "services/FailureCauses.h"

#include <windows.h>

#include "runtime/Handles.h"
#include "services/InstallFolder.h"

namespace zv {
namespace {

bool IsFolder(TextArg path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A refused access, looked at in the file: a read-only file says so; a folder in the file's place, or
// a hidden or system file, is not a matter of rights; and a program that already runs with
// administrator rights gains nothing by being run as an administrator.
FailureCause RefusalAt(TextArg path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return FailureCause::kUnknown;
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return FailureCause::kReadOnly;
    if ((attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0) return FailureCause::kUnknown;
  }
  return RunsWithAdministratorRights() ? FailureCause::kUnknown : FailureCause::kAccessDenied;
}

}  // namespace

void ForgetLastError() {
  SetLastError(ERROR_SUCCESS);
}

FailureCause CauseOfFailureAt(TextArg path) {
  // Opening for writing while letting everyone else share the file fails only for the sharing that
  // someone else refuses, or for the access that this user does not have. Nothing is changed, and the
  // thread's last error is left as it was.
  const DWORD before = GetLastError();
  // A folder where the file belongs refuses opening as "access denied" too, but neither closing
  // programs nor more rights would help with it.
  if (IsFolder(path)) {
    SetLastError(before);
    return FailureCause::kUnknown;
  }
  // Opened as itself (a link there is not followed), and with identification only: a pipe's server
  // in the file's place could otherwise act with this program's rights.
  UniqueFile probe(CreateFileA(
      path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
      nullptr));
  const DWORD error = probe ? ERROR_SUCCESS : GetLastError();
  probe.reset();
  FailureCause cause = CauseOfSystemError(error);
  if (cause == FailureCause::kAccessDenied) cause = RefusalAt(path);
  SetLastError(before);
  return cause == FailureCause::kDiskFull ? FailureCause::kUnknown : cause;  // opening takes no space
}

FailureCause CauseOfLastFailure(TextArg path) {
  const FailureCause cause = CauseOfSystemError(GetLastError());
  // A file that another process runs refuses deleting as "access denied"; it is in use rather than
  // closed to this user. A folder in the file's place refuses the same way, and is no question of rights.
  if (cause == FailureCause::kAccessDenied) {
    if (IsFolder(path)) return FailureCause::kUnknown;
    if (CauseOfFailureAt(path) == FailureCause::kInUse) return FailureCause::kInUse;
    return RefusalAt(path);
  }
  return cause;
}

}  // namespace zv
