// Finding and terminating processes by image name, against real processes: copies of a stand-in
// program started under names of each test's own, so that parallel tests never see each other's.
#include "services/ProcessTermination.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/DeclaredCalls.h"
#include "runtime/Lifecycle.h"
#include "runtime/ProcessOperations.h"
#include "tests/support/ImportHook.h"
#include "tests/support/WinTestSupport.h"

namespace zv {
namespace {

class ProcessTerminationTest : public testing::Test {
 protected:
  void SetUp() override {
    RegisterDeclaredCommands(ProgramDeclaredCommands());
    root_ = test::MakeTestRoot(testing::UnitTest::GetInstance()->current_test_info()->name());
    processes_.reserve(16);  // references handed out stay valid
  }
  void TearDown() override {
    for (auto& p : processes_) p.Terminate();
    test::RemoveTree(root_);
  }
  // Starts a copy of the stand-in program under `imageName` (in a sub-folder of the test's folder, so
  // that one name can be had from different files); its process id.
  DWORD StartAs(const std::string& imageName, const std::string& subFolder = "") {
    std::string folder = root_;
    if (!subFolder.empty()) {
      folder += "\\" + subFolder;
      CreateDirectoryA(folder.c_str(), nullptr);
    }
    const std::string path = folder + "\\" + imageName;
    CopyFileA(ZV_STANDIN_EXE, path.c_str(), FALSE);
    processes_.emplace_back();
    EXPECT_TRUE(processes_.back().Start("\"" + path + "\""));
    WaitForInputIdle(processes_.back().handle(), 5000);
    return processes_.back().id();
  }
  // Starts a copy of this test program under `imageName` in `subFolder`, running `scenario`.
  test::ChildProcess& StartScenarioAs(const std::string& imageName, const std::string& subFolder,
                                      const std::string& scenario) {
    const std::string folder = root_ + "\\" + subFolder;
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string path = folder + "\\" + imageName;
    CopyFileA(test::OwnProgramPath().c_str(), path.c_str(), FALSE);
    processes_.emplace_back();
    EXPECT_TRUE(processes_.back().Start("\"" + path + "\" --zv-child=" + scenario));
    return processes_.back();
  }
  // The copy has ended (without waiting for it).
  static bool HasEnded(const test::ChildProcess& process) {
    return WaitForSingleObject(process.handle(), 0) == WAIT_OBJECT_0;
  }
  static DWORD ExitCodeOf(const test::ChildProcess& process) {
    DWORD code = 0;
    GetExitCodeProcess(process.handle(), &code);
    return code;
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


// ---- Stopping every copy of several programs.

TEST_F(ProcessTerminationTest, StoppingEndsEveryCopyOfEachProgramBeforeItReturns) {
  StartAs("zvfirst.exe");
  StartAs("zvfirst.exe");
  StartAs("ZVSECOND.EXE");  // letter case folded
  StartAs("zvsecond.exe", "other");
  StartAs("zvsecond.exe", "other");
  StartAs("zvbystander.exe");
  const char* const names[] = {"zvfirst.exe", "zvsecond.exe"};

  EXPECT_EQ(StopProgramsByName(names, false, 5000), 0);

  // Every copy has ended by the time the call returns: its files are free for deleting at once.
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_TRUE(HasEnded(processes_[i])) << "copy " << i << " still running";
    EXPECT_EQ(ExitCodeOf(processes_[i]), 0u) << "copy " << i;
  }
  EXPECT_TRUE(processes_[5].IsRunning()) << "a program not named was stopped";
}

TEST_F(ProcessTerminationTest, StoppingWithCaseSensitiveNamesLeavesOtherCasesRunning) {
  StartAs("ZVUPPER.EXE");
  StartAs("zvupper.exe", "lower");
  const char* const names[] = {"zvupper.exe"};
  EXPECT_EQ(StopProgramsByName(names, true, 5000), 0);
  EXPECT_TRUE(processes_[0].IsRunning());
  EXPECT_TRUE(HasEnded(processes_[1]));
  EXPECT_EQ(StopProgramsByName(names, false, 5000), 0);
  EXPECT_TRUE(HasEnded(processes_[0]));
  const char* const none[] = {"", "zvnobody.exe"};
  EXPECT_EQ(StopProgramsByName(none, false, 5000), 0);  // nothing found, nothing to stop
}

// Takes from everyone, itself included, every right over this process that its security grants (an
// empty access list), so that no other process can open it for terminating; then waits to be ended
// through the handle its parent got when it started it.
ZV_CHILD_SCENARIO(RefuseTermination) {
  ACL empty;
  InitializeAcl(&empty, sizeof empty, ACL_REVISION);
  if (SetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &empty,
                      nullptr) != ERROR_SUCCESS) {
    ExitProcess(4);
  }
  Sleep(INFINITE);
}

TEST_F(ProcessTerminationTest, ACopyThatCannotBeOpenedDoesNotKeepTheOthersRunning) {
  // One stoppable copy is started before the refusing one and one after it: whether the system lists
  // processes oldest or newest first, a stoppable copy comes after the refusal.
  StartAs("zvguarded.exe", "a");
  test::ChildProcess& guarded = StartScenarioAs("zvguarded.exe", "guard", "RefuseTermination");
  bool refused = false;
  for (int i = 0; i < 200 && !refused && guarded.IsRunning(); ++i) {
    HANDLE probe = OpenProcess(PROCESS_TERMINATE, FALSE, guarded.id());
    refused = probe == nullptr;
    if (probe != nullptr) CloseHandle(probe);
    if (!refused) Sleep(25);
  }
  if (!refused) GTEST_SKIP() << "this system lets any process of the user terminate the copy despite its access list";
  StartAs("zvguarded.exe", "b");
  const char* const names[] = {"zvguarded.exe"};

  EXPECT_EQ(StopProgramsByName(names, false, 5000), 1);

  EXPECT_TRUE(guarded.IsRunning());
  EXPECT_TRUE(HasEnded(processes_[0])) << "the copy started before the refusing one";
  EXPECT_TRUE(HasEnded(processes_[2])) << "the copy started after the refusing one";
}

// Grants everyone the rights to terminate this process and to read its image name, and nothing else: no
// right to wait for it.
ZV_CHILD_SCENARIO(AllowOnlyTermination) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;0x1001;;;WD)", SDDL_REVISION_1,
                                                            &descriptor, nullptr) ||
      !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) ||
      SetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      dacl, nullptr) != ERROR_SUCCESS) {
    ExitProcess(4);
  }
  Sleep(INFINITE);
}

TEST_F(ProcessTerminationTest, ACopyTerminatedWithoutTheRightToWaitForItCountsAsStopped) {
  test::ChildProcess& blind = StartScenarioAs("zvblind.exe", "blind", "AllowOnlyTermination");
  bool restricted = false;
  for (int i = 0; i < 200 && !restricted && blind.IsRunning(); ++i) {
    HANDLE probe = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, blind.id());
    restricted = probe == nullptr;
    if (probe != nullptr) CloseHandle(probe);
    if (!restricted) Sleep(25);
  }
  if (!restricted) GTEST_SKIP() << "this system lets any process of the user wait for the copy despite its access list";
  const char* const names[] = {"zvblind.exe"};
  EXPECT_EQ(StopProgramsByName(names, false, 5000), 0);
  EXPECT_EQ(blind.Wait(5000), 0u) << "the copy was not terminated";
}

// The declared snapshot call is resolved through this program's import of GetProcAddress; answered
// with a function that fails, the system gives no process list.
test::ImportHook* g_resolver = nullptr;
HANDLE WINAPI FailingSnapshot(DWORD, DWORD) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return INVALID_HANDLE_VALUE;
}
FARPROC WINAPI ResolveWithFailingSnapshot(HMODULE module, LPCSTR name) {
  if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) != 0 && std::strcmp(name, "CreateToolhelp32Snapshot") == 0)
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FailingSnapshot));
  return g_resolver->original<decltype(&GetProcAddress)>()(module, name);
}

TEST_F(ProcessTerminationTest, NoProcessListIsReportedAndNothingIsStopped) {
  StartAs("zvnolist.exe");
  test::ImportHook resolver("GetProcAddress", reinterpret_cast<void*>(&ResolveWithFailingSnapshot));
  ASSERT_TRUE(resolver.ok());
  g_resolver = &resolver;
  RegisterDeclaredCommands(ProgramDeclaredCommands());  // resolved afresh, through the hook
  const char* const names[] = {"zvnolist.exe"};
  EXPECT_EQ(StopProgramsByName(names, false, 5000), kNoProcessList);
  EXPECT_FALSE(HasEnded(processes_[0]));
  g_resolver = nullptr;
}

// A snapshot that lists a running program under the name of a suite program that ended, whose id the
// system has given to that program since (the declared enumeration calls are resolved through this
// program's import of GetProcAddress).
DWORD g_reusedId = 0;
const wchar_t* g_listedAs = L"zvreused.exe";
template <BOOL(WINAPI* Enumerate)(HANDLE, LPPROCESSENTRY32W)>
BOOL WINAPI ListReusedId(HANDLE snapshot, LPPROCESSENTRY32W entry) {
  const BOOL more = Enumerate(snapshot, entry);
  if (more && entry->th32ProcessID == g_reusedId) std::wcscpy(entry->szExeFile, g_listedAs);
  return more;
}
FARPROC WINAPI ResolveWithReusedId(HMODULE module, LPCSTR name) {
  const bool named = HIWORD(reinterpret_cast<ULONG_PTR>(name)) != 0;
  if (named && std::strcmp(name, "Process32FirstW") == 0)
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&ListReusedId<&Process32FirstW>));
  if (named && std::strcmp(name, "Process32NextW") == 0)
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&ListReusedId<&Process32NextW>));
  return g_resolver->original<decltype(&GetProcAddress)>()(module, name);
}

TEST_F(ProcessTerminationTest, AnIdListedUnderASuiteNameStopsOnlyAProcessOfThatImage) {
  const struct {
    const char* image;  // what the process listed as "zvreused.exe" runs
    bool caseSensitive, stopEveryCopy, stopped;
  } cases[] = {{"zvother.exe", false, false, false},
               {"zvother.exe", false, true, false},
               {"ZVREUSED.EXE", true, false, false},
               {"ZVREUSED.EXE", true, true, false},
               {"ZVREUSED.EXE", false, false, true}};
  test::ImportHook resolver("GetProcAddress", reinterpret_cast<void*>(&ResolveWithReusedId));
  g_resolver = &resolver;
  RegisterDeclaredCommands(ProgramDeclaredCommands());  // resolved afresh, through the hook
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.image << " case-sensitive " << c.caseSensitive << " all "
                                    << c.stopEveryCopy);
    g_reusedId = StartAs(c.image, std::to_string(&c - cases));
    ASSERT_EQ(FindProcessIdByName("zvreused.exe", c.caseSensitive), g_reusedId);
    Text name = Text::Copy("zvreused.exe");
    const char* const names[] = {"zvreused.exe"};
    EXPECT_EQ(c.stopEveryCopy ? StopProgramsByName(names, c.caseSensitive, 5000) == 0
                              : TerminateProcessByName(&name, c.caseSensitive),
              c.stopEveryCopy || c.stopped);
    EXPECT_EQ(processes_.back().Wait(c.stopped ? 5000 : 0), c.stopped ? 0u : STILL_ACTIVE);
    processes_.back().Terminate();
  }
  // A listed name that GBK cannot hold reads as "zv?.exe" and matches no name at all.
  g_listedAs = L"zv\xD55C.exe";
  g_reusedId = StartAs("zvhangul.exe", "hangul");
  EXPECT_EQ(FindProcessIdByName("zv?.exe"), 0u);
  g_listedAs = L"zvreused.exe";
  g_resolver = nullptr;
}

ZV_CHILD_SCENARIO(WaitToBeStopped) { Sleep(INFINITE); }

// Stops every copy of its own program name; ends with 7 when it survived that.
ZV_CHILD_SCENARIO(StopOwnName) {
  InitRuntime();
  RegisterDeclaredCommands(ProgramDeclaredCommands());
  const Text own = GetProgramFileName();
  const char* const names[] = {own.c_str()};
  StopProgramsByName(names, false, 5000);
  ExitProcess(7);
}

TEST_F(ProcessTerminationTest, StoppingNeverStopsTheProgramItself) {
  test::ChildProcess& other = StartScenarioAs("zvselfstop.exe", "self", "WaitToBeStopped");
  // A process that has only just been created can be listed without its name yet; the stopper's one
  // snapshot must see the other copy under its name, or it rightly leaves it running.
  bool listed = false;
  for (int i = 0; i < 400 && !listed && other.IsRunning(); ++i) {
    listed = FindProcessIdByName("zvselfstop.exe") == other.id();
    if (!listed) Sleep(25);
  }
  ASSERT_TRUE(listed) << "the other copy never showed up under its name";
  test::ChildProcess& stopper = StartScenarioAs("zvselfstop.exe", "self", "StopOwnName");
  EXPECT_EQ(stopper.Wait(20000), 7u);
  EXPECT_EQ(other.Wait(5000), 0u) << "the other copy was not stopped";
}

}  // namespace
}  // namespace zv
