// The runtime's error table and the layout of its fatal-error report. Formatting uses fixed buffers
// only, since the report also serves the heap's own allocation failure.
#include "runtime/Fatal.h"

#include <cstring>

namespace zv {
namespace {

const char* const kMessages[] = {
    "",
    "数组成员引用下标超出定义范围",
    "未得到所需要的数值型数据",
    "引用数组成员时维数不为1且不等于该数组目前所具有的维数",
    "数组成员引用下标必须大于等于1",
    "数据或数组类型不匹配",
    "调用DLL命令后发现堆栈错误",
    "子语句参数未返回数据或者返回了非系统基本类型或数组型数据",
    "被比较数据只能使用等于或不等于命令比较",
    "“多项选择”命令的索引值参数小于零或超出了所提供参数表范围",
    "“重定义数组”命令的数组维定义参数值必须大于零或单维时大于等于零",
    "所提供参数的数据类型不符合要求",
};

// Appends to a fixed buffer, always leaving room for the NUL.
struct FixedWriter {
  char* out;
  std::size_t capacity;
  std::size_t length = 0;

  void Put(const char* s) {
    for (; *s != '\0' && length + 1 < capacity; ++s) out[length++] = *s;
  }
  void PutDecimal(int n) {
    char digits[16];
    int i = 0;
    unsigned u = n < 0 ? 0u - static_cast<unsigned>(n) : static_cast<unsigned>(n);
    do {
      digits[i++] = static_cast<char>('0' + u % 10);
      u /= 10;
    } while (u != 0);
    if (n < 0) digits[i++] = '-';
    char reversed[16];
    for (int k = 0; k < i; ++k) reversed[k] = digits[i - 1 - k];
    reversed[i] = '\0';
    Put(reversed);
  }
};

}  // namespace

const char* RuntimeErrorMessage(int number) {
  if (number < 0 || number >= static_cast<int>(sizeof kMessages / sizeof kMessages[0])) return "";
  return kMessages[number];
}

std::size_t FormatRuntimeErrorReport(int number, const char* message, char* out, std::size_t capacity) {
  if (capacity == 0) return 0;
  FixedWriter w{out, capacity};
  w.Put("运行时出错!\r\n\r\n");
  if (number != 0) {
    w.Put("错误代码：");
    w.PutDecimal(number);
    w.Put("\r\n\r\n");
  }
  if (message != nullptr && *message != '\0') {
    w.Put("错误信息：");
    w.Put(message);
    w.Put("\r\n");
  }
  out[w.length] = '\0';
  return w.length;
}

void ReportRuntimeError(int number) { ReportRuntimeError(number, RuntimeErrorMessage(number)); }

void ReportAllocationFailure(std::size_t bytes) {
  char message[64];
  FixedWriter w{message, sizeof message};
  w.Put("分配 ");
  w.PutDecimal(static_cast<int>(bytes));  // the message shows the size as a signed 32-bit number
  w.Put(" 字节内存失败!");
  message[w.length] = '\0';
  ReportRuntimeError(kErrorNone, message);
}

}  // namespace zv
