// Stopping the suite's programs by image name: a walk over a snapshot of the system's process list,
// the first process whose executable file name matches is opened for termination and terminated.
// Names are whole file names with extension ("zvmain.exe"): no directory, no wildcard. Without case
// sensitivity only ASCII letters are folded. Every system call goes through the declared commands.
#pragma once

#include <cstdint>

#include "runtime/Text.h"
#include "runtime/Value.h"

namespace zv {

// One process as the routines receive it: the system's process record, with the name's first 256
// bytes taking part in comparisons.
struct ProcessEntry {
  std::uint32_t dwSize;
  std::uint32_t cntUsage;
  std::uint32_t th32ProcessID;
  std::uint32_t th32DefaultHeapID;
  std::uint32_t th32ModuleID;
  std::uint32_t cntThreads;
  std::uint32_t th32ParentProcessID;
  std::int32_t pcPriClassBase;
  std::uint32_t dwFlags;
  char szExeFile[256];
};

// The id of the first listed process whose image name matches `name`, or 0 (none, or no snapshot).
std::uint32_t FindProcessIdByName(TextArg name, OptionalArgument<bool> caseSensitive = {});
// Terminates the first matching process (exit code 0) without waiting for it; true when one was
// terminated. The name is passed by reference: when it is omitted, the caller's variable (if any)
// receives the program's own file name, which is then the name sought.
bool TerminateProcessByName(OptionalArgument<Text*> name, OptionalArgument<bool> caseSensitive = {});

}  // namespace zv
