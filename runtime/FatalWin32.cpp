// The fatal report on Windows: the "错误" box with MB_ICONERROR and no owner, then the program ends
// through EndProgram with -1. A second fatal error while the first is being reported (for example an
// allocation failing during the shutdown) ends the process at once.
#include <windows.h>

#include "runtime/Fatal.h"
#include "runtime/Lifecycle.h"

namespace zv {
void ReportRuntimeError(int number, const char* message) {
  static volatile LONG reporting = 0;
  if (InterlockedExchange(&reporting, 1) != 0) ExitProcess(static_cast<UINT>(-1));
  char report[1024];
  FormatRuntimeErrorReport(number, message, report, sizeof report);
  MessageBoxA(nullptr, report, "错误", MB_ICONERROR);
  EndProgram(-1);
}
}  // namespace zv
