// The files that an installation or uninstallation could not write or delete, collected so that the
// wizard can tell the user which ones, one path per line, each listed once.
#pragma once

#include <cstdint>

#include "runtime/Text.h"

namespace zv {

class FailedFiles {
 public:
  void Add(TextArg path);
  bool empty() const { return count_ == 0; }
  std::int32_t count() const { return count_; }
  // The paths, each followed by CR LF.
  const char* Listing() const { return lines_.c_str(); }

 private:
  Text lines_;
  std::int32_t count_ = 0;
};

}  // namespace zv
