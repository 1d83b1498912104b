// The fatal report as the user sees it: a child process raises the error, the test reads the real
// "错误" box, closes it, and checks that the process ended with -1.
#include <gtest/gtest.h>

#include "runtime/Fatal.h"
#include "runtime/Heap.h"
#include "runtime/Lifecycle.h"
#include "tests/support/WinTestSupport.h"

namespace zv {
namespace {

ZV_CHILD_SCENARIO(RaiseError6) {
  InitRuntime();
  ReportRuntimeError(6);
}

ZV_CHILD_SCENARIO(AllocateTooMuch) {
  InitRuntime();
  // The report shows the size as a signed 32-bit number. A 32-bit process cannot have 2 GB more; a
  // 64-bit one (the x86_64 test build) can, so there the request is also more than its whole address
  // space, with the same low 32 bits.
  std::size_t bytes = 0x7FFFFFF0u;
  if constexpr (sizeof bytes == 8) bytes |= static_cast<std::size_t>(0x7FFFull << 32);
  heap::Allocate(bytes);
  ExitProcess(7);  // not reached: the failed allocation is fatal
}

TEST(FatalReport, ErrorSixShowsTheErrorBoxAndEndsWithMinusOne) {
  test::ChildProcess child;
  ASSERT_TRUE(child.StartScenario("RaiseError6"));
  test::MessageBox box = test::WaitForMessageBox(child.id());
  ASSERT_NE(box.window, nullptr);
  EXPECT_EQ(box.caption, "错误");
  EXPECT_EQ(box.text, "运行时出错!\r\n\r\n错误代码：6\r\n\r\n错误信息：调用DLL命令后发现堆栈错误\r\n");
  EXPECT_TRUE(box.hasIcon);
  EXPECT_EQ(box.buttons.size(), 1u);
  test::PressOk(box);
  EXPECT_EQ(child.Wait(), 0xFFFFFFFFu);
}

TEST(FatalReport, FailedAllocationNamesTheSize) {
  test::ChildProcess child;
  ASSERT_TRUE(child.StartScenario("AllocateTooMuch"));
  test::MessageBox box = test::WaitForMessageBox(child.id());
  ASSERT_NE(box.window, nullptr);
  EXPECT_EQ(box.caption, "错误");
  EXPECT_EQ(box.text, "运行时出错!\r\n\r\n错误信息：分配 2147483632 字节内存失败!\r\n");
  test::PressOk(box);
  EXPECT_EQ(child.Wait(), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace zv
