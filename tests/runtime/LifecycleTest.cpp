// Start-up and the end of the program, in child processes: what InitRuntime sets up, and the order in
// which EndProgram runs the exit routine, frees the declared libraries and ends with the given code.
// The marker library (tests/support) logs when it is loaded and freed, beside the exit routine's line.
#include <gtest/gtest.h>

#include <ole2.h>

#include <string>

#include "runtime/DeclaredCalls.h"
#include "runtime/Lifecycle.h"
#include "runtime/WideText.h"
#include "runtime/ProcessOperations.h"
#include "tests/support/WinTestSupport.h"

namespace zv {
namespace {

std::string g_markerCopy;  // the child's copy of the marker library
DWORD g_mainThread = 0;

void AppendToMarkerLog(const char* line) {
  test::WriteWholeFile(g_markerCopy + ".log", test::MarkerLog(g_markerCopy) + line);
}

void LogExitRoutine() {
  AppendToMarkerLog(GetCurrentThreadId() == g_mainThread ? "exit routine on the GUI thread\n"
                                                         : "exit routine on another thread\n");
}

// Starts the runtime with a one-entry table naming the marker copy (last argument) by its full path,
// and calls it once so that the runtime holds the library.
void StartWithMarkerLibrary(int argc, char** argv) {
  g_markerCopy = argv[argc - 1];
  static const char* libraries[1];
  static const char* const exports[] = {"ZvMarkerPing"};
  libraries[0] = g_markerCopy.c_str();
  InitRuntime(DeclaredCommandTable{1, libraries, exports});
  g_mainThread = GetCurrentThreadId();
  SetExitRoutine(LogExitRoutine);
  if (CallDeclaredCommand(0) != 0x5A17) ExitProcess(50);
}

ZV_CHILD_SCENARIO(EndOnGuiThread) {
  StartWithMarkerLibrary(argc, argv);
  EndProgram(7);
}

DWORD WINAPI EndFromHere(void*) {
  EndProgram(5);
}

ZV_CHILD_SCENARIO(EndFromWorkerThread) {
  StartWithMarkerLibrary(argc, argv);
  CloseHandle(CreateThread(nullptr, 0, EndFromHere, nullptr, 0, nullptr));
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  ExitProcess(60);  // not reached: the worker's request ends the program from this loop
}

// OLE is initialised once however often the runtime is started: after one OleUninitialize the thread
// can join the multithreaded apartment. Exit code 0 when that holds.
ZV_CHILD_SCENARIO(InitialiseOleOnce) {
  InitRuntime();
  InitRuntime();
  if (OleInitialize(nullptr) != S_FALSE) ExitProcess(1);  // already initialised by the runtime
  OleUninitialize();                                      // ours
  OleUninitialize();                                      // the runtime's one
  const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  ExitProcess(joined == S_OK ? 0 : 2);
}

class EndProgramTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = test::MakeTestRoot(testing::UnitTest::GetInstance()->current_test_info()->name());
    marker_ = root_ + "\\marker.dll";
    ASSERT_TRUE(CopyFileA(test::BesideProgram("zv_marker.dll").c_str(), marker_.c_str(), FALSE));
  }
  void TearDown() override { test::RemoveTree(root_); }
  std::string root_;
  std::string marker_;
};

TEST_F(EndProgramTest, OnTheGuiThreadRunsTheExitRoutineThenFreesLibrariesAndExitsWithTheCode) {
  test::ChildProcess child;
  ASSERT_TRUE(child.StartScenario("EndOnGuiThread", "\"" + marker_ + "\""));
  EXPECT_EQ(child.Wait(), 7u);
  EXPECT_EQ(test::MarkerLog(marker_), "attach\nexit routine on the GUI thread\ndetach by FreeLibrary\n");
}

TEST_F(EndProgramTest, FromAnotherThreadTheGuiThreadShutsDown) {
  test::ChildProcess child;
  ASSERT_TRUE(child.StartScenario("EndFromWorkerThread", "\"" + marker_ + "\""));
  EXPECT_EQ(child.Wait(), 5u);
  EXPECT_EQ(test::MarkerLog(marker_), "attach\nexit routine on the GUI thread\ndetach by FreeLibrary\n");
}

TEST(InitRuntime, MakesTheProgramFolderCurrentAndRecordsItsName) {
  SetCurrentDirectoryA("C:\\");
  InitRuntime();
  const std::string own = test::OwnProgramPath();
  const std::string folder = own.substr(0, own.find_last_of('\\'));
  char current[MAX_PATH] = {};
  GetCurrentDirectoryA(sizeof current, current);
  EXPECT_STREQ(current, folder.c_str());
  EXPECT_STREQ(ToGbk(ProgramDirectory()).c_str(), folder.c_str());
  EXPECT_STREQ(GetProgramFileName().c_str(), own.substr(own.find_last_of('\\') + 1).c_str());
}

TEST(InitRuntime, InitialisesOleOnce) {
  test::ChildProcess child;
  ASSERT_TRUE(child.StartScenario("InitialiseOleOnce"));
  EXPECT_EQ(child.Wait(), 0u);
}

TEST(InitRuntime, LeavesNoLibraryLoadedBeforeItsFirstCall) {
  InitRuntime();
  EXPECT_EQ(DeclaredLibraryLoadCount(), 0u);
  for (std::int32_t i = 0; i < ProgramDeclaredCommands().count; ++i)
    EXPECT_FALSE(IsDeclaredCommandResolved(i));
}

}  // namespace
}  // namespace zv
