// The cause of a failed write or deletion, from the error that the system left for the calling thread,
// and from the file itself, asked through the wide calls (a GBK path is converted with code page 936).
// The caller forgets the error before the operation, so that an operation that fails without a system
// error (a value refused before any call) is not given the cause of an older failure.
#pragma once

#include "runtime/Text.h"
#include "services/FailedFiles.h"

namespace zv {

// Clears the thread's last system error.
void ForgetLastError();
// The cause of the failure that just happened to `path`, from the thread's last error. A refused
// access is looked at once more: a file that another process holds or runs refuses some operations as
// "access denied" (deleting a running program, for one), and it is in use rather than closed to this
// user. A refusal counts as one of rights (kAccessDenied) only where the program runs without
// administrator rights and the file is neither read-only (kReadOnly), hidden, system nor a folder.
FailureCause CauseOfLastFailure(TextArg path);
// The cause as the file itself shows it now, for an operation whose own error is not known (one that
// went through an object of the shell): in use when it cannot be opened for writing because of
// another process, refused when this user may not write it, unknown otherwise (also when it is missing,
// or a folder stands in its place).
FailureCause CauseOfFailureAt(TextArg path);
// The same two for a path built in UTF-16 (the desktop shortcut's, which GBK may not hold); null is
// no path.
FailureCause CauseOfLastFailure(const wchar_t* path);
FailureCause CauseOfFailureAt(const wchar_t* path);

}  // namespace zv
