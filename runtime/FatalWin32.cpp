// The fatal report on Windows: the "错误" box with MB_ICONERROR and no owner (its GBK text shown as
// UTF-16 through the wide entry point, whatever the system's code page), then the program ends
// through EndProgram with -1. A second fatal error while the first is being reported (for example an
// allocation failing during the shutdown) ends the process at once.
#include <windows.h>

#include "runtime/Fatal.h"
#include "runtime/Lifecycle.h"
#include "runtime/WideText.h"

namespace zv {
void ReportRuntimeError(int number, const char* message) {
  static volatile LONG reporting = 0;
  if (InterlockedExchange(&reporting, 1) != 0) ExitProcess(static_cast<UINT>(-1));
  char report[1024];
  FormatRuntimeErrorReport(number, message, report, sizeof report);
  // Converted on the stack, not through ToWide: the error may be a failed allocation, and the heap
  // must not be asked again while it is reported.
  wchar_t wide[sizeof report];
  if (MultiByteToWideChar(kGbkCodePage, 0, report, -1, wide, sizeof report) == 0) wide[0] = L'\0';
  MessageBoxW(nullptr, wide, L"错误", MB_ICONERROR);
  EndProgram(-1);
}
}  // namespace zv
