// Starting the main program: through the desktop's shell only where the wizard's token is the elevated
// half of a split token, directly everywhere else and wherever the shell's way is not there. The token's
// elevation type and a missing shell are the system's answers, given through this program's imports;
// Wine's own desktop shell answers the whole way and starts the program itself.
#include "services/MainProgramStart.h"

#include <windows.h>
#include <exdisp.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/ImportHook.h"
#include "tests/support/WinTestSupport.h"

namespace zv {
namespace {

test::ImportHook* g_tokenHook = nullptr;
test::ImportHook* g_objectHook = nullptr;
TOKEN_ELEVATION_TYPE g_elevation = TokenElevationTypeDefault;
int g_shellAsked = 0;
bool g_shellMissing = false;

BOOL WINAPI AnswerElevation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID out, DWORD size,
                            PDWORD written) {
  if (kind != TokenElevationType || size < sizeof g_elevation)
    return g_tokenHook->original<decltype(&GetTokenInformation)>()(token, kind, out, size, written);
  *static_cast<TOKEN_ELEVATION_TYPE*>(out) = g_elevation;
  *written = sizeof g_elevation;
  return TRUE;
}
// A session whose desktop registers no shell windows (another shell, or none running).
HRESULT WINAPI RefuseShellWindows(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* out) {
  g_shellAsked += IsEqualCLSID(clsid, CLSID_ShellWindows);
  if (!g_shellMissing || !IsEqualCLSID(clsid, CLSID_ShellWindows))
    return g_objectHook->original<decltype(&CoCreateInstance)>()(clsid, outer, context, iid, out);
  *out = nullptr;
  return REGDB_E_CLASSNOTREG;
}

// The parent of each process that runs `image`, which is ended.
std::vector<DWORD> EndEvery(const std::string& image) {
  std::vector<DWORD> parents;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (lstrcmpiA(entry.szExeFile, image.c_str()) != 0) continue;
    parents.push_back(entry.th32ParentProcessID);
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
  }
  CloseHandle(snapshot);
  return parents;
}

TEST(MainProgramStart, GoesThroughTheDesktopShellOnlyAboveALimitedDesktopAndStartsTheProgramOnce) {
  const struct {
    TOKEN_ELEVATION_TYPE elevation;
    bool shellMissing, shellAsked, byShell;
  } cases[] = {{TokenElevationTypeFull, false, true, true},
               {TokenElevationTypeFull, true, true, false},
               {TokenElevationTypeDefault, false, false, false},
               {TokenElevationTypeLimited, false, false, false}};
  test::ImportHook token("GetTokenInformation", reinterpret_cast<void*>(&AnswerElevation));
  test::ImportHook objects("CoCreateInstance", reinterpret_cast<void*>(&RefuseShellWindows));
  ASSERT_TRUE(token.ok() && objects.ok());
  g_tokenHook = &token;
  g_objectHook = &objects;
  CoInitialize(nullptr);  // as the wizard's start-up does
  const std::string root = test::MakeTestRoot("MainProgramStart");
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "elevation type " << c.elevation << ", shell missing "
                                    << c.shellMissing);
    const std::string image = "zvstart" + std::to_string(&c - cases) + ".exe";
    ASSERT_TRUE(CopyFileA(ZV_STANDIN_EXE, (root + "\\" + image).c_str(), FALSE));
    g_elevation = c.elevation;
    g_shellMissing = c.shellMissing;
    g_shellAsked = 0;
    EXPECT_TRUE(StartWithDesktopRights((root + "\\" + image).c_str()));
    EXPECT_EQ(g_shellAsked > 0, c.shellAsked);
    std::vector<DWORD> parents = EndEvery(image);
    for (int i = 0; i < 100 && parents.empty(); ++i, Sleep(50))
      parents = EndEvery(image);  // the shell's own start
    ASSERT_EQ(parents.size(), 1u) << "the program was not started, or more than once";
    EXPECT_EQ(parents[0] != GetCurrentProcessId(), c.byShell);
  }
  test::RemoveTree(root);
  CoUninitialize();
}

}  // namespace
}  // namespace zv
