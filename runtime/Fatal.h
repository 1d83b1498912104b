// Fatal runtime errors: the "错误" report box, then the program ends with exit code -1.
// The error numbers index the runtime's message table; number 0 carries its own message instead.
#pragma once

#include <cstddef>

namespace zv {

// Runtime error numbers that this program can raise.
enum RuntimeErrorNumber : int {
  kErrorNone = 0,              // the message says it all (missing export, window not loaded, ...)
  kErrorStackMismatch = 6,     // a declared library call removed the wrong number of argument bytes
};

// Shows the report for `number` (message from the runtime's table) and ends the program.
[[noreturn]] void ReportRuntimeError(int number);
// Shows the report with `message` as its text (GBK) and ends the program; number 0 omits the code line.
[[noreturn]] void ReportRuntimeError(int number, const char* message);
// The heap's fatal error: "分配 %d 字节内存失败!" with the requested size.
[[noreturn]] void ReportAllocationFailure(std::size_t bytes);

// Builds the report text into `out` (NUL-terminated, cut to `capacity`) and returns its length.
// Kept separate from the box so that the layout can be checked without showing anything.
std::size_t FormatRuntimeErrorReport(int number, const char* message, char* out, std::size_t capacity);
// The table's message for `number`, or the empty text for a number outside the table.
const char* RuntimeErrorMessage(int number);

}  // namespace zv
