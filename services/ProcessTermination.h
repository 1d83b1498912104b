// Stopping the suite's programs by image name: a walk over a snapshot of the system's process list.
// TerminateProcessByName terminates the first process whose executable file name matches;
// StopProgramsByName stops every copy of several programs and waits for their end.
// Names are whole file names with extension ("zvmain.exe"): no directory, no wildcard. Without case
// sensitivity only ASCII letters are folded. Names are compared as GBK: the system's UTF-16 name is
// converted with code page 936, and one that GBK cannot hold matches no name. The snapshot, opening and termination go through the
// declared commands; the wait for the end is the system's own wait. A process is terminated only when
// the image name read from its open handle matches too: an id taken from the snapshot may belong to
// another program by the time it is opened.
#pragma once

#include <cstdint>
#include <span>

#include "runtime/Text.h"
#include "runtime/Value.h"

namespace zv {

// One process as the routines receive it: the system's wide process record (PROCESSENTRY32W), the
// image name in UTF-16.
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
  wchar_t szExeFile[260];
};

// The id of the first listed process whose image name matches `name`, or 0 (none, or no snapshot).
std::uint32_t FindProcessIdByName(TextArg name, OptionalArgument<bool> caseSensitive = {});
// Terminates the first matching process (exit code 0) without waiting for it; true when one was
// terminated. The name is passed by reference: when it is omitted, the caller's variable (if any)
// receives the program's own file name, which is then the name sought.
bool TerminateProcessByName(OptionalArgument<Text*> name, OptionalArgument<bool> caseSensitive = {});

// Stops every running copy of each named program. For each name, one snapshot: every process listed
// under that image name (matched as FindProcessIdByName matches), except this program itself, is
// opened and terminated once with exit code 0; a copy that cannot be opened or terminated is passed
// over and the others are still stopped. Then waits until every terminated copy has ended, at most
// `waitMs` milliseconds in all. The result is the number of copies found that were not stopped (not
// opened, not terminated, or still running when the time was up): 0 when all are gone. A copy that
// was terminated but could not be opened with the right to wait for it counts as stopped, since its
// end cannot be seen: the caller's pause after this call covers it; so does a copy whose id runs
// another image by the time it is opened (the copy has ended). One whose image name cannot be read
// is not terminated and counts as not stopped. kNoProcessList when the system
// gave no process list for some name (that name's copies, if any, are still running).
constexpr std::int32_t kNoProcessList = -1;
std::int32_t StopProgramsByName(std::span<const char* const> names, bool caseSensitive, std::uint32_t waitMs);

}  // namespace zv
