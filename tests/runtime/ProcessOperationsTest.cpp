// Starting programs, message boxes and waiting, against the real system: started programs report what
// they were given, and message boxes are read and closed from the test as a person would.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "runtime/ProcessOperations.h"
#include "tests/support/WinTestSupport.h"

namespace zv {
namespace {

// Writes how the program was asked to show its window into the file named by the last argument.
ZV_CHILD_SCENARIO(ReportStartup) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  char line[64];
  std::snprintf(line, sizeof line, "flags=%lu show=%u", startup.dwFlags & STARTF_USESHOWWINDOW,
                static_cast<unsigned>(startup.wShowWindow));
  test::WriteWholeFile(argv[argc - 1], line);
}

ZV_CHILD_SCENARIO(SleepThreeSeconds) {
  Sleep(3000);
}

// Shows the message box named by the last argument over a visible window of its own (the probe, which
// a task-modal box disables), and ends with the button index as its exit code.
ZV_CHILD_SCENARIO(ShowMessageBox) {
  const HWND probe = CreateWindowExA(0, "Static", "zv probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200,
                                     100, nullptr, nullptr, nullptr, nullptr);
  const std::string kind = argv[argc - 1];
  std::int32_t result = -100;
  if (kind == "default") result = ShowMessage("操作以完成", 0);
  if (kind == "caption") result = ShowMessage("操作以完成", 0, TextArg("恭喜你！！！"));
  if (kind == "int") result = ShowMessage(Value::Int(42), 0);
  if (kind == "bool") result = ShowMessage(Value::Bool(true), 0);
  if (kind == "bytes") {
    static const unsigned char block[] = {1, 0, 0, 0, 3, 0, 0, 0, 'a', 'b', 'c'};
    result = ShowMessage(Value::Array(TypeFlag::ByteArray, block), 0, TextArg("bytes"));
  }
  if (kind == "yesnocancel") result = ShowMessage("?", MB_YESNOCANCEL);
  if (kind == "abortretryignore") result = ShowMessage("?", MB_ABORTRETRYIGNORE);
  if (kind == "systemmodal") result = ShowMessage("!", MB_SYSTEMMODAL);
  if (kind == "typedahead") {  // Enter typed while the program was busy, before the box
    SetForegroundWindow(probe);
    INPUT keys[2] = {};
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[1].ki.wVk = VK_RETURN;
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, keys, sizeof keys[0]);
    for (int i = 0; i < 100 && (HIWORD(GetQueueStatus(QS_KEY)) & QS_KEY) == 0; ++i) Sleep(20);  // queued
    result = ShowMessage("?", MB_OKCANCEL);
  }
  ExitProcess(static_cast<UINT>(result));
}

// The command line that starts this test program as a child scenario, with one quoted argument.
std::string ScenarioCommandLine(const char* scenario, const std::string& argument = "") {
  std::string line = "\"";
  line += test::OwnProgramPath();
  line += "\" --zv-child=";
  line += scenario;
  if (!argument.empty()) {
    line += " \"";
    line += argument;
    line += "\"";
  }
  return line;
}

class RunProgramTest : public testing::Test {
 protected:
  void SetUp() override { root_ = test::MakeTestRoot("run_program"); }
  void TearDown() override { test::RemoveTree(root_); }
  // Runs the ReportStartup child with `mode`, waiting for it, and returns what it reported.
  std::string StartupSeenWith(OptionalArgument<std::int32_t> mode) {
    const std::string report = root_ + "\\startup.txt";
    DeleteFileA(report.c_str());
    const std::string line = ScenarioCommandLine("ReportStartup", report);
    EXPECT_TRUE(RunProgram(line.c_str(), true, mode));
    return test::ReadWholeFile(report);
  }
  std::string root_;
};

TEST_F(RunProgramTest, OmittedModeIsNormalActivated) {
  EXPECT_EQ(StartupSeenWith({}), "flags=1 show=1");
}

TEST_F(RunProgramTest, ModesMapToTheirShowCommands) {
  EXPECT_EQ(StartupSeenWith(1), "flags=1 show=0");
  EXPECT_EQ(StartupSeenWith(2), "flags=1 show=1");
  EXPECT_EQ(StartupSeenWith(3), "flags=1 show=2");
  EXPECT_EQ(StartupSeenWith(4), "flags=1 show=3");
  EXPECT_EQ(StartupSeenWith(5), "flags=1 show=4");
  EXPECT_EQ(StartupSeenWith(6), "flags=1 show=6");
}

TEST_F(RunProgramTest, ModesOutsideTheTableAreClamped) {
  EXPECT_EQ(StartupSeenWith(0), "flags=1 show=0");
  EXPECT_EQ(StartupSeenWith(-3), "flags=1 show=0");
  EXPECT_EQ(StartupSeenWith(9), "flags=1 show=6");
}

TEST_F(RunProgramTest, WithoutWaitReturnsWhileTheProgramRuns) {
  const std::string line = ScenarioCommandLine("SleepThreeSeconds");
  const DWORD start = GetTickCount();
  EXPECT_TRUE(RunProgram(line.c_str(), false));
  EXPECT_LT(GetTickCount() - start, 2000u);
}

TEST_F(RunProgramTest, WithWaitReturnsWhenTheProgramHasEnded) {
  const std::string line = ScenarioCommandLine("SleepThreeSeconds");
  const DWORD start = GetTickCount();
  EXPECT_TRUE(RunProgram(line.c_str(), true));
  EXPECT_GE(GetTickCount() - start, 2900u);
}

TEST_F(RunProgramTest, MissingProgramIsFalseAndShowsNothing) {
  EXPECT_FALSE(RunProgram((root_ + "\\missing.exe").c_str(), false));
  EXPECT_TRUE(test::TopLevelWindows(GetCurrentProcessId(), "#32770").empty());
}

// Starts the ShowMessageBox child of `kind` and returns the box it shows.
struct ShownBox {
  test::ChildProcess child;
  test::MessageBox box;
  HWND probe = nullptr;
};
void ShowBox(const char* kind, ShownBox* shown) {
  ASSERT_TRUE(shown->child.StartScenario("ShowMessageBox", kind));
  shown->box = test::WaitForMessageBox(shown->child.id());
  ASSERT_NE(shown->box.window, nullptr);
  std::vector<HWND> probes = test::TopLevelWindows(shown->child.id(), "Static");
  ASSERT_EQ(probes.size(), 1u);
  shown->probe = probes.front();
}

TEST(ShowMessage, DefaultCaptionOkButtonNoIconTaskModal) {
  ShownBox shown;
  ShowBox("default", &shown);
  EXPECT_EQ(shown.box.caption, "信息：");
  EXPECT_EQ(shown.box.text, "操作以完成");
  EXPECT_FALSE(shown.box.hasIcon);
  EXPECT_EQ(shown.box.buttons.size(), 1u);
  EXPECT_FALSE(shown.box.topmost);
  EXPECT_FALSE(IsWindowEnabled(shown.probe));  // task-modal: the program's own windows are disabled
  test::PressOk(shown.box);
  EXPECT_EQ(shown.child.Wait(), 0u);
}

TEST(ShowMessage, GivenCaptionIsUsed) {
  ShownBox shown;
  ShowBox("caption", &shown);
  EXPECT_EQ(shown.box.caption, "恭喜你！！！");
  EXPECT_EQ(shown.box.text, "操作以完成");
  test::PressOk(shown.box);
  EXPECT_EQ(shown.child.Wait(), 0u);
}

TEST(ShowMessage, NumbersAndBooleansAreShownAsText) {
  ShownBox number;
  ShowBox("int", &number);
  EXPECT_EQ(number.box.text, "42");
  test::PressOk(number.box);
  EXPECT_EQ(number.child.Wait(), 0u);

  ShownBox boolean;
  ShowBox("bool", &boolean);
  EXPECT_EQ(boolean.box.text, "真");
  test::PressOk(boolean.box);
  EXPECT_EQ(boolean.child.Wait(), 0u);
}

TEST(ShowMessage, OtherValuesShowAnEmptyMessage) {
  ShownBox shown;
  ShowBox("bytes", &shown);
  EXPECT_EQ(shown.box.caption, "bytes");
  EXPECT_EQ(shown.box.text, "");
  test::PressOk(shown.box);
  EXPECT_EQ(shown.child.Wait(), 0u);
}

TEST(ShowMessage, SystemModalIsNotMadeTaskModal) {
  ShownBox shown;
  ShowBox("systemmodal", &shown);
  EXPECT_TRUE(shown.box.topmost);
  EXPECT_TRUE(IsWindowEnabled(shown.probe));
  test::PressOk(shown.box);
  EXPECT_EQ(shown.child.Wait(), 0u);
}

TEST(ShowMessage, ButtonsMapToZeroBasedIndices) {
  struct Case {
    const char* kind;
    int button;
    DWORD index;
  };
  const Case cases[] = {{"yesnocancel", IDYES, 5},
                        {"yesnocancel", IDNO, 6},
                        {"yesnocancel", IDCANCEL, 1},
                        {"abortretryignore", IDABORT, 2},
                        {"abortretryignore", IDRETRY, 3},
                        {"abortretryignore", IDIGNORE, 4},
                        // An Enter typed before the box does not answer it: the user's button does.
                        {"typedahead", IDCANCEL, 1}};
  for (const Case& c : cases) {
    ShownBox shown;
    ShowBox(c.kind, &shown);
    test::PressButton(shown.box, c.button);
    EXPECT_EQ(shown.child.Wait(), c.index) << c.kind << " button " << c.button;
  }
}

// Milliseconds that `action` took, by the high-resolution counter.
template <class Action>
double MillisecondsOf(Action action) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  action();
  QueryPerformanceCounter(&end);
  return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

TEST(Delay, NegativeReturnsAtOnce) {
  EXPECT_LT(MillisecondsOf([] { Delay(-5); }), 100.0);
}

TEST(Delay, WaitsTheGivenTime) {
  EXPECT_GE(MillisecondsOf([] { Delay(300); }), 295.0);
}

}  // namespace
}  // namespace zv
