// Declared library calls against the real system libraries: the program's twelve commands, lazy
// resolution and its caches, the fatal errors of a missing export and of a wrong declaration (in child
// processes, reading the real "错误" box), and libraries planted in the program's folder.
#include <gtest/gtest.h>

#include <shlobj.h>
#include <tlhelp32.h>

#include <cstring>
#include <string>

#include "runtime/DeclaredCalls.h"
#include "runtime/WideText.h"
#include "runtime/Lifecycle.h"
#include "runtime/ProcessOperations.h"
#include "tests/support/WinTestSupport.h"

namespace zv {
namespace {

// The test's own table: what can go wrong, and one library named by its full path.
enum TestEntry : std::int32_t {
  kMissingExportInSearchList = 0,
  kMissingExportInNamedLibrary,
  kMissingLibrary,
  kOneArgumentShort,    // SetLastError takes one argument
  kOneArgumentTooMany,  // GetTickCount takes none
  kMarkerByOrdinal,     // ordinal 7 (65543 modulo 65536) of the marker library
  kRelay,               // the library that needs the marker, named as the scenario says
  kBareDoubleByteName,  // a bare name whose GBK character "誠" ends in the backslash's byte
  kSixArguments,        // MultiByteToWideChar: in x86_64 the last two go on the stack, not in registers
  kTestEntryCount
};
std::string g_markerPath;
const char* g_testLibraries[kTestEntryCount] = {
    "", "kernel32.dll", "zvnosuchlibrary.dll", "kernel32", "kernel32", "", "", "zv誠marker.dll", "kernel32"};
const char* const kTestExports[kTestEntryCount] = {"ZvNoSuchExport", "ZvNoSuchExport", "GetTickCount",
                                                   "SetLastError",   "GetTickCount",   "#65543",
                                                   "ZvMarkerRelay",  "ZvMarkerPing",   "MultiByteToWideChar"};

void StartWithTestTable(const std::string& markerPath) {
  g_markerPath = markerPath;
  g_testLibraries[kMarkerByOrdinal] = g_markerPath.c_str();
  InitRuntime(DeclaredCommandTable{kTestEntryCount, g_testLibraries, kTestExports});
}

// Calls the test entry named by the second-last argument with the number of zero arguments named by
// the last; exit code 0x77 when the call returns.
ZV_CHILD_SCENARIO(CallTestEntry) {
  StartWithTestTable("");
  const std::int32_t entry = std::atoi(argv[argc - 2]);
  const int arguments = std::atoi(argv[argc - 1]);
  if (arguments == 0) CallDeclaredCommand(entry);
  if (arguments == 1) CallDeclaredCommand(entry, 0);
  ExitProcess(0x77);
}

// Calls the library that needs the marker, named by the last argument (a path); ends with its answer
// (the marker's 0x5A17 plus one).
ZV_CHILD_SCENARIO(CallRelay) {
  g_testLibraries[kRelay] = argv[argc - 1];
  InitRuntime(DeclaredCommandTable{kTestEntryCount, g_testLibraries, kTestExports});
  ExitProcess(CallDeclaredCommand(kRelay));
}

// Uses the program's commands that load libraries by name. With "plain" as the last argument it
// loads "shlwapi.dll" instead as an ordinary program would (the system's own search order).
ZV_CHILD_SCENARIO(UseProgramCommands) {
  if (std::strcmp(argv[argc - 1], "plain") == 0) ExitProcess(LoadLibraryA("shlwapi.dll") != nullptr ? 0 : 1);
  InitRuntime();
  wchar_t path[] = L"C:\\zor\\vik\\zvmain.exe";
  if (std::wcscmp(declared::PathFindFileNameW(path), L"zvmain.exe") != 0) ExitProcess(2);
  wchar_t desktop[MAX_PATH] = {};
  if (declared::SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, false) == 0) ExitProcess(3);
}

#if !defined(__i386__)
// Calls the six-argument entry with `kMaxDeclaredArguments` + 1 words, more than the x86_64 build
// can pass; exit code 0x77 when the call returns.
ZV_CHILD_SCENARIO(CallWithTooManyWords) {
  StartWithTestTable("");
  const DeclaredWordValue words[kMaxDeclaredArguments + 1] = {};
  CallDeclaredCommandWithWords(kSixArguments, words, kMaxDeclaredArguments + 1);
  ExitProcess(0x77);
}
#endif

ZV_CHILD_SCENARIO(SleepForever) {
  Sleep(INFINITE);
}

// Runs CallTestEntry for `entry` and returns the box it shows, after closing it; `exitCode` receives
// how the child ended.
test::MessageBox FatalBoxOf(TestEntry entry, int arguments, DWORD* exitCode) {
  test::ChildProcess child;
  EXPECT_TRUE(child.StartScenario("CallTestEntry", std::to_string(entry) + " " + std::to_string(arguments)));
  test::MessageBox box = test::WaitForMessageBox(child.id());
  test::PressOk(box);
  *exitCode = child.Wait();
  return box;
}

TEST(DeclaredCommands, DirectoriesMatchTheSystemsAnswers) {
  InitRuntime();
  wchar_t declaredAnswer[MAX_PATH] = {};
  wchar_t directAnswer[MAX_PATH] = {};
  EXPECT_EQ(declared::GetWindowsDirectoryW(declaredAnswer, MAX_PATH),
            GetWindowsDirectoryW(directAnswer, MAX_PATH));
  EXPECT_STREQ(declaredAnswer, directAnswer);
  EXPECT_EQ(declared::GetSystemDirectoryW(declaredAnswer, MAX_PATH),
            GetSystemDirectoryW(directAnswer, MAX_PATH));
  EXPECT_STREQ(declaredAnswer, directAnswer);
  EXPECT_EQ(declared::GetTempPathW(MAX_PATH, declaredAnswer), GetTempPathW(MAX_PATH, directAnswer));
  EXPECT_STREQ(declaredAnswer, directAnswer);
  EXPECT_NE(declared::SHGetSpecialFolderPathW(nullptr, declaredAnswer, CSIDL_DESKTOPDIRECTORY, false), 0);
  // Asked directly through a library loaded here: a static import of the shell library would also
  // bring in the path library at start-up, which the planting tests below must not have.
  HMODULE shell = LoadLibraryA("shell32.dll");
  auto direct = reinterpret_cast<decltype(&SHGetSpecialFolderPathW)>(
      reinterpret_cast<void*>(GetProcAddress(shell, "SHGetSpecialFolderPathW")));
  ASSERT_NE(direct, nullptr);
  ASSERT_NE(direct(nullptr, directAnswer, CSIDL_DESKTOPDIRECTORY, FALSE), 0);
  EXPECT_STREQ(declaredAnswer, directAnswer);
  FreeLibrary(shell);
}

TEST(DeclaredCommands, PathFunctionsAnswerAddressesInsideTheText) {
  InitRuntime();
  const wchar_t path[] = L"C:\\zor\\vik\\zvmain.exe";
  EXPECT_EQ(declared::PathFindFileNameW(path), path + 11);
  EXPECT_EQ(declared::PathFindExtensionW(path), path + 17);
  const wchar_t bare[] = L"C:\\zor\\vik";
  EXPECT_EQ(declared::PathFindExtensionW(bare), bare + std::wcslen(bare));
}

// The answer is a whole address, not its low 32 bits: a constant text lies in the program's image,
// which the x86_64 build has above 4 GB.
TEST(DeclaredCommands, AnAddressAnswerIsKeptWhole) {
  InitRuntime();
  static const wchar_t kPath[] = L"C:\\zor\\vik\\zvmain.exe";
  if (sizeof(void*) == 8) {
    ASSERT_GT(reinterpret_cast<std::uintptr_t>(kPath), std::uintptr_t{0xFFFFFFFFu}) << "the image lies below 4 GB";
  }
  EXPECT_EQ(declared::PathFindFileNameW(kPath), kPath + 11);
  EXPECT_EQ(declared::PathFindExtensionW(kPath), kPath + 17);
}

// Six arguments arrive in their order (in x86_64 four travel in registers and two on the stack); a
// negative number arrives as itself.
TEST(DeclaredCommands, SixArgumentsArriveInTheirOrder) {
  StartWithTestTable("");
  const char text[] = "Zorvik";
  wchar_t wide[16] = {};
  const auto written = static_cast<std::uint32_t>(CallDeclaredCommand(
      kSixArguments, std::uint32_t{936}, std::uint32_t{0}, text, std::int32_t{-1}, wide, std::int32_t{16}));
  EXPECT_EQ(written, 7u);
  EXPECT_STREQ(wide, L"Zorvik");
}

TEST(DeclaredCommands, SnapshotListsThisProcessAndCloses) {
  InitRuntime();
  void* snapshot = declared::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  const std::string own = test::OwnProgramPath();
  bool found = false;
  for (std::int32_t more = declared::Process32FirstW(snapshot, &entry); more != 0;
       more = declared::Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) {
      found = true;
      break;
    }
  }
  EXPECT_TRUE(found);
  EXPECT_STREQ(ToGbk(entry.szExeFile).c_str(), own.substr(own.find_last_of('\\') + 1).c_str());
  EXPECT_NE(declared::CloseHandle(snapshot), 0);
}

TEST(DeclaredCommands, OpenAndTerminateAProcess) {
  InitRuntime();
  test::ChildProcess child;
  ASSERT_TRUE(child.StartScenario("SleepForever"));
  void* process = declared::OpenProcess(PROCESS_TERMINATE, false, child.id());
  ASSERT_NE(process, nullptr);
  EXPECT_TRUE(declared::TerminateProcess(process, 0));
  EXPECT_NE(declared::CloseHandle(process), 0);
  EXPECT_EQ(child.Wait(), 0u);
}

TEST(DeclaredResolution, LoadsALibraryOnFirstUseAndThenUsesTheCache) {
  InitRuntime();
  const auto index = static_cast<std::int32_t>(DeclaredCommand::PathFindFileNameW);
  EXPECT_FALSE(IsDeclaredCommandResolved(index));
  declared::PathFindFileNameW(L"a\\b");
  EXPECT_TRUE(IsDeclaredCommandResolved(index));
  EXPECT_FALSE(IsDeclaredCommandResolved(static_cast<std::int32_t>(DeclaredCommand::PathFindExtensionW)));
  EXPECT_EQ(DeclaredLibraryLoadCount(), 1u);
  declared::PathFindFileNameW(L"c\\d");
  EXPECT_EQ(DeclaredLibraryLoadCount(), 1u);
}

TEST(DeclaredResolution, SearchListIsTriedInOrderUntilAnExportIsFound) {
  InitRuntime();
  wchar_t buffer[MAX_PATH];
  declared::SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_DESKTOPDIRECTORY, false);
  EXPECT_EQ(DeclaredLibraryLoadCount(), 6u);  // Kernel32, Gdi32, User32, Advapi32, Mpr, then Shell32
  declared::SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_DESKTOPDIRECTORY, false);
  EXPECT_EQ(DeclaredLibraryLoadCount(), 6u);
  declared::OpenProcess(PROCESS_TERMINATE, false, GetCurrentProcessId());  // found in the first one
  EXPECT_EQ(DeclaredLibraryLoadCount(), 7u);
}

TEST(DeclaredResolution, KernelNamedWithoutExtensionResolves) {
  InitRuntime();
  wchar_t buffer[MAX_PATH];
  EXPECT_GT(declared::GetSystemDirectoryW(buffer, MAX_PATH), 0u);
  EXPECT_TRUE(IsDeclaredCommandResolved(static_cast<std::int32_t>(DeclaredCommand::GetSystemDirectoryW)));
}

TEST(DeclaredResolution, OrdinalNameIsTakenModulo65536) {
  const std::string root = test::MakeTestRoot("ordinal");
  const std::string marker = root + "\\marker.dll";
  ASSERT_TRUE(CopyFileA(test::BesideProgram("zv_marker.dll").c_str(), marker.c_str(), FALSE));
  StartWithTestTable(marker);
  EXPECT_EQ(test::MarkerLog(marker), "");  // not loaded before its first call
  EXPECT_EQ(CallDeclaredCommand(kMarkerByOrdinal), 0x5A17u);
  EXPECT_EQ(test::MarkerLog(marker), "attach\n");
  ReleaseDeclaredLibraries();
  EXPECT_EQ(test::MarkerLog(marker), "attach\ndetach by FreeLibrary\n");
  test::RemoveTree(root);
}

TEST(DeclaredFatalErrors, MissingExportWithoutLibraryNamesTheExport) {
  DWORD exitCode = 0;
  test::MessageBox box = FatalBoxOf(kMissingExportInSearchList, 0, &exitCode);
  EXPECT_EQ(box.caption, "错误");
  EXPECT_EQ(box.text, "运行时出错!\r\n\r\n错误信息：无法找到指定DLL库文件中的输出命令“ZvNoSuchExport”\r\n");
  EXPECT_TRUE(box.hasIcon);
  EXPECT_EQ(exitCode, 0xFFFFFFFFu);
}

TEST(DeclaredFatalErrors, MissingExportOfANamedLibraryNamesBoth) {
  DWORD exitCode = 0;
  test::MessageBox box = FatalBoxOf(kMissingExportInNamedLibrary, 0, &exitCode);
  EXPECT_EQ(box.caption, "错误");
  EXPECT_EQ(
      box.text,
      "运行时出错!\r\n\r\n错误信息：无法找到指定DLL库文件“kernel32.dll”中的输出命令“ZvNoSuchExport”\r\n");
  EXPECT_EQ(exitCode, 0xFFFFFFFFu);
}

TEST(DeclaredFatalErrors, MissingLibraryNamesLibraryAndExport) {
  DWORD exitCode = 0;
  test::MessageBox box = FatalBoxOf(kMissingLibrary, 0, &exitCode);
  EXPECT_EQ(box.text,
            "运行时出错!\r\n\r\n错误信息：无法找到指定DLL库文件“zvnosuchlibrary."
            "dll”中的输出命令“GetTickCount”\r\n");
  EXPECT_EQ(exitCode, 0xFFFFFFFFu);
}

constexpr char kStackErrorText[] =
    "运行时出错!\r\n\r\n错误代码：6\r\n\r\n错误信息：调用DLL命令后发现堆栈错误\r\n";

TEST(DeclaredFatalErrors, DeclarationOneArgumentShortIsRuntimeErrorSix) {
#if !defined(__i386__)
  GTEST_SKIP() << "x86_64 has one calling convention in which the caller removes the arguments: no stack check";
#endif
  DWORD exitCode = 0;
  test::MessageBox box = FatalBoxOf(kOneArgumentShort, 0, &exitCode);
  EXPECT_EQ(box.caption, "错误");
  EXPECT_EQ(box.text, kStackErrorText);
  EXPECT_EQ(exitCode, 0xFFFFFFFFu);
}

TEST(DeclaredFatalErrors, DeclarationOneArgumentTooManyIsRuntimeErrorSix) {
#if !defined(__i386__)
  GTEST_SKIP() << "x86_64 has one calling convention in which the caller removes the arguments: no stack check";
#endif
  DWORD exitCode = 0;
  test::MessageBox box = FatalBoxOf(kOneArgumentTooMany, 1, &exitCode);
  EXPECT_EQ(box.text, kStackErrorText);
  EXPECT_EQ(exitCode, 0xFFFFFFFFu);
}

#if !defined(__i386__)
// Only the x86_64 build has a limit; the i386 call pushes any number of words.
TEST(DeclaredFatalErrors, MoreArgumentsThanTheX64CallCanPassAreAFatalError) {
  test::ChildProcess child;
  ASSERT_TRUE(child.StartScenario("CallWithTooManyWords"));
  test::MessageBox box = test::WaitForMessageBox(child.id());
  test::PressOk(box);
  EXPECT_EQ(box.caption, "错误");
  EXPECT_EQ(box.text, "运行时出错!\r\n\r\n错误信息：调用DLL命令时参数过多\r\n");
  EXPECT_EQ(child.Wait(), 0xFFFFFFFFu);
}
#endif

TEST(DeclaredFatalErrors, MatchingDeclarationReturnsNormally) {
  test::ChildProcess child;
  ASSERT_TRUE(child.StartScenario("CallTestEntry", std::to_string(kOneArgumentShort) + " 1"));
  EXPECT_EQ(child.Wait(), 0x77u);
}

// A copy of this test program in a fresh folder, with the marker library planted beside it under the
// names of two system libraries that the program's commands load. Wine loads its own copy of a system
// library even from another folder, so the copy runs with those two set to native-then-builtin: then
// a planted copy wins wherever the search order reaches the folder. Wine's loader takes that setting
// from its Unix environment or its registry, not from the Windows environment that a parent hands
// down, so the test sets it for the copy's program name alone (AppDefaults\<name>\DllOverrides).
// Each test names its copy after itself: the tests run in parallel, and one test's tear-down must not
// remove the setting while another test's copy is starting.
class PlantedLibraryTest : public testing::Test {
 protected:
  void SetUp() override {
    const std::string testName = testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::string programName = "zvplanted_" + testName + ".exe";
    overridesKey_ = "Software\\Wine\\AppDefaults\\" + programName;
    root_ = test::MakeTestRoot(testName);
    program_ = root_ + "\\" + programName;
    ASSERT_TRUE(CopyFileA(test::OwnProgramPath().c_str(), program_.c_str(), FALSE));
    for (const char* name : {"shlwapi.dll", "mpr.dll"}) {
      ASSERT_TRUE(
          CopyFileA(test::BesideProgram("zv_marker.dll").c_str(), (root_ + "\\" + name).c_str(), FALSE));
    }
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (overridesKey_ + "\\DllOverrides").c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    static const char kNativeThenBuiltin[] = "native,builtin";
    for (const char* library : {"shlwapi", "mpr"}) {
      RegSetValueExA(key, library, 0, REG_SZ, reinterpret_cast<const BYTE*>(kNativeThenBuiltin),
                     sizeof kNativeThenBuiltin);
    }
    RegCloseKey(key);
  }
  void TearDown() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, overridesKey_.c_str());
    test::RemoveTree(root_);
  }
  DWORD RunCopy(const char* mode) {
    test::ChildProcess child;
    EXPECT_TRUE(child.Start("\"" + program_ + "\" --zv-child=UseProgramCommands " + mode, root_));
    return child.Wait();
  }
  std::string overridesKey_;
  std::string root_;
  std::string program_;
};

TEST_F(PlantedLibraryTest, LibrariesBesideTheProgramAreNeverLoaded) {
  EXPECT_EQ(RunCopy("declared"), 0u);
  EXPECT_EQ(test::MarkerLog(root_ + "\\shlwapi.dll"), "");
  EXPECT_EQ(test::MarkerLog(root_ + "\\mpr.dll"), "");
}

// The control experiment: the same set-up does load the planted copy through the ordinary search
// order, so the test above would see it if the runtime searched the program's folder.
TEST_F(PlantedLibraryTest, AnOrdinaryLoadWouldTakeThePlantedCopy) {
  EXPECT_EQ(RunCopy("plain"), 0u);
  EXPECT_NE(test::MarkerLog(root_ + "\\shlwapi.dll"), "");
}

}  // namespace
}  // namespace zv

namespace zv {
namespace {

// A copy of this test program in `folder`, run as a child scenario with `arguments`, in that folder;
// its exit code. A child that shows a box (a fatal error) instead of ending is reported and ended.
DWORD RunCopyIn(const std::string& folder, const std::string& name, const std::string& arguments) {
  const std::string program = folder + "\\" + name;
  EXPECT_TRUE(CopyFileA(test::OwnProgramPath().c_str(), program.c_str(), FALSE));
  test::ChildProcess child;
  EXPECT_TRUE(child.Start("\"" + program + "\" " + arguments, folder));
  const DWORD code = child.Wait();
  if (code == STILL_ACTIVE) {
    const test::MessageBox box = test::WaitForMessageBox(child.id(), 2000);
    ADD_FAILURE() << "the copy did not end; it shows: " << box.text;
    child.Terminate();
  }
  return code;
}

bool CopyBuilt(const std::string& built, const std::string& to) {
  return CopyFileA(test::BesideProgram(built).c_str(), to.c_str(), FALSE) != 0;
}

// The library that needs the marker lies in a folder of its own with the genuine marker; another copy
// of the marker is planted beside the program. Loaded by its path (full, or relative to the program's
// folder), the library must get its dependency from beside itself: the ordinary search order would
// look in the program's folder first.
TEST(DeclaredDependencies, ALibraryLoadedByItsPathTakesItsDependenciesFromBesideIt) {
  const std::string root = test::MakeTestRoot("dependencies");
  const std::string program = root + "\\prog";
  const std::string library = program + "\\lib";
  ASSERT_TRUE(CreateDirectoryA(program.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(library.c_str(), nullptr));
  ASSERT_TRUE(CopyBuilt("zv_marker.dll", program + "\\zv_marker.dll"));  // planted
  ASSERT_TRUE(CopyBuilt("zv_marker.dll", library + "\\zv_marker.dll"));
  ASSERT_TRUE(CopyBuilt("zv_marker_user.dll", library + "\\zv_marker_user.dll"));

  for (const std::string& name : {library + "\\zv_marker_user.dll", std::string("lib\\zv_marker_user.dll")}) {
    DeleteFileA((library + "\\zv_marker.dll.log").c_str());
    EXPECT_EQ(RunCopyIn(program, "zvdependencies.exe", "--zv-child=CallRelay \"" + name + "\""), 0x5A18u)
        << name;
    EXPECT_NE(test::MarkerLog(library + "\\zv_marker.dll"), "") << name;
    EXPECT_EQ(test::MarkerLog(program + "\\zv_marker.dll"), "") << name;
  }
  test::RemoveTree(root);
}

// Where each kind of name is loaded from. A network path and a name with a drive are full paths; a
// rooted name would name the current drive's root, which depends on the current directory, so it is
// taken on the program's drive; forward slashes are backslashes (the altered search for a library's
// own dependencies is defined for backslashes only).
TEST(DeclaredLibraryPaths, EachKindOfNameIsTakenFromItsOwnPlace) {
  RecordProgramIdentity();
  const std::string program = ToGbk(ProgramDirectory()).c_str();
  ASSERT_EQ(program[1], ':') << program;
  char system[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryA(system, MAX_PATH), 0u);
  const struct {
    const char* name;
    std::string expected;
  } cases[] = {
      {"\\\\server\\share\\zv.dll", "\\\\server\\share\\zv.dll"},
      {"//server/share/zv.dll", "\\\\server\\share\\zv.dll"},
      {"D:\\lib\\zv.dll", "D:\\lib\\zv.dll"},
      {"D:/lib/zv.dll", "D:\\lib\\zv.dll"},
      {"\\lib\\zv.dll", program.substr(0, 2) + "\\lib\\zv.dll"},
      {"/lib/zv.dll", program.substr(0, 2) + "\\lib\\zv.dll"},
      {"lib\\zv.dll", program + "\\lib\\zv.dll"},
      {"lib/zv.dll", program + "\\lib\\zv.dll"},
      {"zv.dll", std::string(system) + "\\zv.dll"},
      {"lib/誠/zv.dll", program + "\\lib\\誠\\zv.dll"},
  };
  for (const auto& c : cases) {
    wchar_t path[MAX_PATH] = {};
    ASSERT_TRUE(LibraryPathFor(c.name, path, MAX_PATH)) << c.name;
    EXPECT_STREQ(path, ToWide(c.expected.c_str()).c_str()) << c.name;
  }
}

// "誠" is D5 5C in GBK. In the program's folder name it is part of the name: a library named relative
// to the program's folder is found there.
TEST(DeclaredDoubleByteNames, AProgramFolderWhoseNameEndsInTheBackslashByte) {
  static_assert(sizeof("誠") == 3 && "誠"[1] == '\\', "the sources are compiled to GBK");
  const std::string root = test::MakeTestRoot("program_folder_dbcs");
  const std::string program = root + "\\誠";
  ASSERT_TRUE(CreateDirectoryA(program.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((program + "\\lib").c_str(), nullptr));
  ASSERT_TRUE(CopyBuilt("zv_marker.dll", program + "\\lib\\zv_marker.dll"));
  ASSERT_TRUE(CopyBuilt("zv_marker_user.dll", program + "\\lib\\zv_marker_user.dll"));
  EXPECT_EQ(RunCopyIn(program, "zv誠.exe", "--zv-child=CallRelay \"lib\\zv_marker_user.dll\""), 0x5A18u);
  EXPECT_NE(test::MarkerLog(program + "\\lib\\zv_marker.dll"), "");
  test::RemoveTree(root);
}

// A bare library name holding "誠" is still a bare name: it comes from the system directory, not from
// the program's folder (where a copy is planted).
TEST(DeclaredDoubleByteNames, ABareNameWhoseCharacterEndsInTheBackslashByteComesFromTheSystem) {
  const std::string root = test::MakeTestRoot("bare_name_dbcs");
  char system[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryA(system, MAX_PATH), 0u);
  const std::string genuine = std::string(system) + "\\zv誠marker.dll";
  const std::string planted = root + "\\zv誠marker.dll";
  ASSERT_TRUE(CopyBuilt("zv_marker.dll", genuine));
  ASSERT_TRUE(CopyBuilt("zv_marker.dll", planted));
  EXPECT_EQ(
      RunCopyIn(root, "zvbare.exe", "--zv-child=CallTestEntry " + std::to_string(kBareDoubleByteName) + " 0"),
      0x77u);
  EXPECT_NE(test::MarkerLog(genuine), "");
  EXPECT_EQ(test::MarkerLog(planted), "");
  DeleteFileA(genuine.c_str());
  DeleteFileA((genuine + ".log").c_str());
  test::RemoveTree(root);
}

}  // namespace
}  // namespace zv
