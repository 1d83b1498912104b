#include "services/FailureCauses.h"

#include <windows.h>

#include "runtime/Handles.h"
#include "runtime/HeldDirectories.h"
#include "runtime/WideText.h"
#include "services/InstallFolder.h"

namespace zv {
namespace {

bool IsFolder(const wchar_t* path) {
  const DWORD attributes = files::Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A refused access, looked at in the file: a read-only file says so; a folder in the file's place, or
// a hidden or system file, is not a matter of rights; and a program that already runs with
// administrator rights gains nothing by being run as an administrator.
FailureCause RefusalAt(const wchar_t* path) {
  const DWORD attributes = files::Attributes(path);
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

FailureCause CauseOfFailureAt(const wchar_t* path) {
  if (path == nullptr) path = L"";
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
  UniqueFile probe(files::Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | SECURITY_SQOS_PRESENT |
                                   SECURITY_IDENTIFICATION));
  const DWORD error = probe ? ERROR_SUCCESS : GetLastError();
  probe.reset();
  FailureCause cause = CauseOfSystemError(error);
  if (cause == FailureCause::kAccessDenied) cause = RefusalAt(path);
  SetLastError(before);
  return cause == FailureCause::kDiskFull ? FailureCause::kUnknown : cause;  // opening takes no space
}

FailureCause CauseOfFailureAt(TextArg path) {
  const DWORD error = GetLastError();
  const WideText wide = ToWide(path);  // (the conversion may set the thread's last error)
  SetLastError(error);
  return CauseOfFailureAt(wide.c_str());
}

FailureCause CauseOfLastFailure(const wchar_t* path) {
  if (path == nullptr) path = L"";
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

FailureCause CauseOfLastFailure(TextArg path) {
  const DWORD error = GetLastError();
  const WideText wide = ToWide(path);
  SetLastError(error);
  return CauseOfLastFailure(wide.c_str());
}

// FailedFiles itself is platform-neutral; its wide form needs the GBK conversion, which is Windows'.
void FailedFiles::Add(const wchar_t* path, FailureCause cause) {
  const Text gbk = ToGbk(path);
  Add(TextArg(gbk.c_str()), cause);
}

}  // namespace zv
