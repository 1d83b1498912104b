// The fatal report's text layout and table; showing the box is tested with child processes.
#include <gtest/gtest.h>

#include <string>

#include "runtime/Fatal.h"

namespace zv {
namespace {

std::string Report(int number, const char* message) {
  char buffer[512];
  FormatRuntimeErrorReport(number, message, buffer, sizeof buffer);
  return buffer;
}

TEST(RuntimeErrorReport, NumberedErrorHasCodeAndMessageLines) {
  EXPECT_EQ(Report(6, RuntimeErrorMessage(6)),
            "运行时出错!\r\n\r\n错误代码：6\r\n\r\n错误信息：调用DLL命令后发现堆栈错误\r\n");
}

TEST(RuntimeErrorReport, NumberZeroHasNoCodeLine) {
  EXPECT_EQ(Report(0, "载入启动窗口失败"), "运行时出错!\r\n\r\n错误信息：载入启动窗口失败\r\n");
  EXPECT_EQ(Report(0, ""), "运行时出错!\r\n\r\n");
}

TEST(RuntimeErrorReport, TableCoversOneToEleven) {
  EXPECT_STREQ(RuntimeErrorMessage(1), "数组成员引用下标超出定义范围");
  EXPECT_STREQ(RuntimeErrorMessage(11), "所提供参数的数据类型不符合要求");
  EXPECT_STREQ(RuntimeErrorMessage(12), "");
  EXPECT_STREQ(RuntimeErrorMessage(-1), "");
}

TEST(RuntimeErrorReport, IsCutToTheBuffer) {
  char small[8];
  EXPECT_EQ(FormatRuntimeErrorReport(6, RuntimeErrorMessage(6), small, sizeof small), 7u);
  EXPECT_EQ(small[7], '\0');
}

}  // namespace
}  // namespace zv
