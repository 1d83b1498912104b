#include "services/FailedFiles.h"

#include <cstring>

#include "runtime/TextOperations.h"
#include "services/TextHelpers.h"

namespace zv {

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
