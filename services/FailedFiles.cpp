#include "services/FailedFiles.h"

#include <cstring>

#include "runtime/TextOperations.h"
#include "services/TextHelpers.h"

namespace zv {

namespace {
// The Win32 error codes that name a cause.
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorWriteProtect = 19;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorLockViolation = 33;
constexpr std::uint32_t kErrorHandleDiskFull = 39;
constexpr std::uint32_t kErrorDiskFull = 112;
constexpr std::uint32_t kErrorUserMappedFile = 1224;
}  // namespace

FailureCause CauseOfSystemError(std::uint32_t error) {
  switch (error) {
    case kErrorSharingViolation:
    case kErrorLockViolation:
    case kErrorUserMappedFile:
      return FailureCause::kInUse;
    case kErrorDiskFull:
    case kErrorHandleDiskFull:
      return FailureCause::kDiskFull;
    case kErrorAccessDenied:
      return FailureCause::kAccessDenied;
    case kErrorWriteProtect:  // a write-protected medium: no rights would help
    default:
      return FailureCause::kUnknown;
  }
}

void FailedFiles::Add(TextArg path, FailureCause cause) {
  causes_ |= static_cast<std::uint32_t>(cause);
  const Text line = JoinTexts({path.c_str(), "\r\n"});
  // Already listed: the line, at the start or right after an earlier line's end.
  const Text marked = JoinTexts({"\n", line.c_str()});
  if (std::strncmp(lines_.c_str(), line.c_str(), line.length()) == 0 || FindText(lines_, marked) != -1) return;
  lines_ = JoinTexts({lines_.c_str(), line.c_str()});
  ++count_;
}

}  // namespace zv
