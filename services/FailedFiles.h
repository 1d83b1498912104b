// The files that an installation or uninstallation could not write or delete, collected so that the
// wizard can tell the user which ones, one path per line, each listed once, and why.
#pragma once

#include <cstdint>

#include "runtime/Text.h"

namespace zv {

// Why a file could not be written or deleted, as far as the system said: the advice that the user
// gets depends on it.
enum class FailureCause : std::uint32_t {
  kUnknown = 0,
  kInUse = 1,         // another process holds the file open or runs it
  kDiskFull = 2,      // no space left on the drive
  kAccessDenied = 4,  // this user may not write or delete the file: more rights could help
  kReadOnly = 8,      // the file is marked read-only
};

// The cause that a system error code names (the Win32 codes, as numbers): in use for a sharing or
// lock violation or a file mapped by another process, disk full for the two disk-full codes, access
// denied for a refused access or a write-protected medium, unknown for every other code. (Which
// refused access more rights could help with only the file can tell: see FailureCauses.h.)
FailureCause CauseOfSystemError(std::uint32_t error);

class FailedFiles {
 public:
  // Lists the path (once, however often it is added) and notes the cause.
  void Add(TextArg path, FailureCause cause = FailureCause::kUnknown);
  // The same for a path built in UTF-16 (the desktop shortcut's), listed as GBK: a character that GBK
  // cannot hold shows as "?" (ToGbk). Null is the empty path. Windows only (defined with the failure
  // causes, services/FailureCauses.cpp).
  void Add(const wchar_t* path, FailureCause cause = FailureCause::kUnknown);
  bool empty() const { return count_ == 0; }
  std::int32_t count() const { return count_; }
  // The paths, each followed by CR LF.
  const char* Listing() const { return lines_.c_str(); }
  // Some listed file failed for this cause.
  bool Has(FailureCause cause) const {
    return (causes_ & static_cast<std::uint32_t>(cause)) != 0;
  }

 private:
  Text lines_;
  std::int32_t count_ = 0;
  std::uint32_t causes_ = 0;
};

}  // namespace zv
