// Finding and terminating processes by image name, against real processes: copies of a stand-in
// program started under names of each test's own, so that parallel tests never see each other's.
#include "services/ProcessTermination.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "runtime/DeclaredCalls.h"
#include "runtime/Lifecycle.h"
#include "tests/support/WinTestSupport.h"

namespace zv {
namespace {

class ProcessTerminationTest : public testing::Test {
 protected:
  void SetUp() override {
    RegisterDeclaredCommands(ProgramDeclaredCommands());
    root_ = test::MakeTestRoot(testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override {
    for (auto& p : processes_) p.Terminate();
    test::RemoveTree(root_);
  }
  // Starts a copy of the stand-in program under `imageName`; its process id.
  DWORD StartAs(const std::string& imageName) {
    const std::string path = root_ + "\\" + imageName;
    CopyFileA(ZV_STANDIN_EXE, path.c_str(), FALSE);
    processes_.emplace_back();
    EXPECT_TRUE(processes_.back().Start("\"" + path + "\""));
    WaitForInputIdle(processes_.back().handle(), 5000);
    return processes_.back().id();
  }
  std::string root_;
  std::vector<test::ChildProcess> processes_;
};

TEST_F(ProcessTerminationTest, OneCallEndsOnlyTheFirstOfTwoInstances) {
  StartAs("zvtwo.exe");
  StartAs("zvtwo.exe");
  Text name = Text::Copy("zvtwo.exe");
  EXPECT_TRUE(TerminateProcessByName(&name, false));
  // Termination is asynchronous: wait for one of the two to end, then give the other the same
  // chance to end, which it must not take.
  const HANDLE both[] = {processes_[0].handle(), processes_[1].handle()};
  ASSERT_LT(WaitForMultipleObjects(2, both, FALSE, 10000), WAIT_OBJECT_0 + 2);
  Sleep(300);
  const int running = (processes_[0].IsRunning() ? 1 : 0) + (processes_[1].IsRunning() ? 1 : 0);
  EXPECT_EQ(running, 1);
  EXPECT_TRUE(TerminateProcessByName(&name, false));
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 10000), WAIT_OBJECT_0);
  EXPECT_FALSE(TerminateProcessByName(&name, false));
  EXPECT_STREQ(name.c_str(), "zvtwo.exe");  // a given name is left as it was
}

TEST_F(ProcessTerminationTest, IgnoringCaseFoldsAsciiLetters) {
  const DWORD id = StartAs("ZVCASE.EXE");
  EXPECT_EQ(FindProcessIdByName("zvcase.exe"), id);
  EXPECT_EQ(FindProcessIdByName("zvcase.exe", false), id);
  EXPECT_EQ(FindProcessIdByName("zvcase.exe", true), 0u);
  EXPECT_EQ(FindProcessIdByName("ZVCASE.EXE", true), id);
  Text lower = Text::Copy("zvcase.exe");
  EXPECT_FALSE(TerminateProcessByName(&lower, true));
  EXPECT_TRUE(processes_[0].IsRunning());
  EXPECT_TRUE(TerminateProcessByName(&lower, false));
  EXPECT_EQ(processes_[0].Wait(5000), 0u);  // terminated with exit code 0
}

TEST_F(ProcessTerminationTest, NamesWithADirectoryOrEmptyMatchNothing) {
  StartAs("zvpath.exe");
  EXPECT_EQ(FindProcessIdByName((root_ + "\\zvpath.exe").c_str()), 0u);
  EXPECT_EQ(FindProcessIdByName(""), 0u);
  EXPECT_EQ(FindProcessIdByName("zvpath"), 0u);  // whole names only
  Text empty;
  EXPECT_FALSE(TerminateProcessByName(&empty, false));
  EXPECT_TRUE(processes_[0].IsRunning());
}

TEST_F(ProcessTerminationTest, ANameNobodyRunsGivesFalse) {
  Text name = Text::Copy("zvnobody.exe");
  EXPECT_EQ(FindProcessIdByName(name), 0u);
  EXPECT_FALSE(TerminateProcessByName(&name));
}

ZV_CHILD_SCENARIO(TerminateOwnImage) {
  InitRuntime();
  RegisterDeclaredCommands(ProgramDeclaredCommands());
  Text variable;
  OptionalArgument<Text*> omitted;
  omitted.value = &variable;
  TerminateProcessByName(omitted);
  ExitProcess(5);  // reached only when the program did not find itself
}

TEST_F(ProcessTerminationTest, AnOmittedNameMeansTheProgramItself) {
  // The child runs from a copy with a name of its own, so that it cannot find this test program.
  const std::string copy = root_ + "\\zvself.exe";
  ASSERT_TRUE(CopyFileA(test::OwnProgramPath().c_str(), copy.c_str(), FALSE));
  test::ChildProcess child;
  ASSERT_TRUE(child.Start("\"" + copy + "\" --zv-child=TerminateOwnImage"));
  EXPECT_EQ(child.Wait(), 0u);
}

}  // namespace
}  // namespace zv
