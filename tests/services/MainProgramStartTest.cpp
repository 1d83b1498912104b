// Starting the main program: with administrator rights only through the desktop's shell, and not at
// all where the shell does not answer; directly without them, in the suite's folder. The token's
// elevation and a missing shell are answered through this program's imports; Wine's desktop shell goes
// the whole way and starts the program itself.
#include "services/MainProgramStart.h"

#include <windows.h>
#include <exdisp.h>

#include <gtest/gtest.h>

#include <string>

#include "runtime/DeclaredCalls.h"
#include "runtime/WideText.h"
#include "services/ProcessTermination.h"
#include "tests/support/ImportHook.h"
#include "tests/support/WinTestSupport.h"

namespace zv {
namespace {

test::ImportHook* g_hooks[3];
bool g_elevated, g_tokenUnreadable, g_shellMissing;
int g_shellAsked, g_directStarts;
std::wstring g_directFolder;

BOOL WINAPI AnswerElevation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID out, DWORD size,
                            PDWORD written) {
  if (kind != TokenElevation)
    return g_hooks[0]->original<decltype(&GetTokenInformation)>()(token, kind, out, size, written);
  if (g_tokenUnreadable) return FALSE;
  static_cast<TOKEN_ELEVATION*>(out)->TokenIsElevated = g_elevated;
  *written = sizeof(TOKEN_ELEVATION);
  return TRUE;
}
HRESULT WINAPI MissShell(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* out) {
  const bool shell = IsEqualCLSID(clsid, CLSID_ShellWindows);
  g_shellAsked += shell;
  if (shell && g_shellMissing) {
    *out = nullptr;
    return REGDB_E_CLASSNOTREG;
  }
  return g_hooks[1]->original<decltype(&CoCreateInstance)>()(clsid, outer, context, iid, out);
}
BOOL WINAPI CountStarts(LPCWSTR a, LPWSTR b, LPSECURITY_ATTRIBUTES c, LPSECURITY_ATTRIBUTES d, BOOL e, DWORD f,
                        LPVOID g, LPCWSTR h, LPSTARTUPINFOW i, LPPROCESS_INFORMATION j) {
  ++g_directStarts;
  g_directFolder = h != nullptr ? h : L"";
  return g_hooks[2]->original<decltype(&CreateProcessW)>()(a, b, c, d, e, f, g, h, i, j);
}

TEST(MainProgramStart, WithAdministratorRightsOnlyTheDesktopShellStartsTheProgramAndOnlyOnce) {
  const struct {
    bool elevated, unreadable, shellMissing, shellAsked, direct, started;
  } cases[] = {{true, false, false, true, false, true},   // elevated by any route: the shell
               {true, false, true, true, false, false},   // no shell: not started at all
               {false, true, true, true, false, false},   // a token that cannot be read counts as elevated
               {false, false, false, false, true, true}};  // no such rights: directly
  test::ImportHook token("GetTokenInformation", reinterpret_cast<void*>(&AnswerElevation));
  test::ImportHook objects("CoCreateInstance", reinterpret_cast<void*>(&MissShell));
  test::ImportHook starts("CreateProcessW", reinterpret_cast<void*>(&CountStarts));
  g_hooks[0] = &token, g_hooks[1] = &objects, g_hooks[2] = &starts;
  CoInitialize(nullptr);  // as the wizard's start-up does
  RegisterDeclaredCommands(ProgramDeclaredCommands());
  const std::string root = test::MakeTestRoot("MainProgramStart");
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "elevated " << c.elevated << ", unreadable " << c.unreadable
                                    << ", shell missing " << c.shellMissing);
    const std::string image = "zvstart" + std::to_string(&c - cases) + ".exe";
    ASSERT_TRUE(CopyFileA(ZV_STANDIN_EXE, (root + "\\" + image).c_str(), FALSE));
    g_elevated = c.elevated, g_tokenUnreadable = c.unreadable, g_shellMissing = c.shellMissing;
    g_shellAsked = g_directStarts = 0;
    MainProgramStart start;
    EXPECT_EQ(start.WillStart(), c.started);
    EXPECT_EQ(start.Start((root + "\\" + image).c_str(), root.c_str()), c.started);
    EXPECT_EQ(g_shellAsked > 0, c.shellAsked);
    EXPECT_EQ(g_directStarts, c.direct ? 1 : 0);
    if (c.direct) EXPECT_EQ(g_directFolder, std::wstring(ToWide(root.c_str()).c_str()));
    std::uint32_t id = 0;  // the shell starts it in its own process, maybe after answering
    for (int i = 0; i < (c.started ? 100 : 10) && (id = FindProcessIdByName(image.c_str())) == 0; ++i) Sleep(50);
    EXPECT_EQ(id != 0, c.started);
    const char* const names[] = {image.c_str()};
    StopProgramsByName(names, false, 5000);
  }
  test::RemoveTree(root);
  CoUninitialize();
}

}  // namespace
}  // namespace zv
