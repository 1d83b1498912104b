// The fatal report in the native build: the same text on standard error, then exit code -1.
#include <cstdio>
#include <cstdlib>

#include "runtime/Fatal.h"

namespace zv {
void ReportRuntimeError(int number, const char* message) {
  char report[1024];
  FormatRuntimeErrorReport(number, message, report, sizeof report);
  std::fputs(report, stderr);
  std::fflush(stderr);
  std::_Exit(-1);
}
}  // namespace zv
