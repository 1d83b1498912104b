// Starting the main program: through the desktop's shell only where the wizard's token is the elevated
// half of a split token, directly anywhere else and wherever the shell's way fails. The elevation type
// and a missing shell are answered through this program's imports; Wine's desktop shell goes the whole
// way and starts the program itself.
#include "services/MainProgramStart.h"

#include <windows.h>
#include <exdisp.h>

#include <gtest/gtest.h>

#include <string>

#include "runtime/DeclaredCalls.h"
#include "services/ProcessTermination.h"
#include "tests/support/ImportHook.h"
#include "tests/support/WinTestSupport.h"

namespace zv {
namespace {

test::ImportHook* g_hooks[3];
TOKEN_ELEVATION_TYPE g_elevation;
bool g_shellMissing;
int g_shellAsked, g_directStarts;

BOOL WINAPI AnswerElevation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID out, DWORD size,
                            PDWORD written) {
  if (kind != TokenElevationType)
    return g_hooks[0]->original<decltype(&GetTokenInformation)>()(token, kind, out, size, written);
  *static_cast<TOKEN_ELEVATION_TYPE*>(out) = g_elevation;
  *written = sizeof g_elevation;
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
BOOL WINAPI CountStarts(LPCSTR a, LPSTR b, LPSECURITY_ATTRIBUTES c, LPSECURITY_ATTRIBUTES d, BOOL e, DWORD f,
                        LPVOID g, LPCSTR h, LPSTARTUPINFOA i, LPPROCESS_INFORMATION j) {
  ++g_directStarts;
  return g_hooks[2]->original<decltype(&CreateProcessA)>()(a, b, c, d, e, f, g, h, i, j);
}

TEST(MainProgramStart, GoesThroughTheDesktopShellOnlyAboveALimitedDesktopAndStartsTheProgramOnce) {
  const struct {
    TOKEN_ELEVATION_TYPE elevation;
    bool shellMissing, shellAsked, direct;
  } cases[] = {{TokenElevationTypeFull, false, true, false},
               {TokenElevationTypeFull, true, true, true},
               {TokenElevationTypeDefault, false, false, true},
               {TokenElevationTypeLimited, false, false, true}};
  test::ImportHook token("GetTokenInformation", reinterpret_cast<void*>(&AnswerElevation));
  test::ImportHook objects("CoCreateInstance", reinterpret_cast<void*>(&MissShell));
  test::ImportHook starts("CreateProcessA", reinterpret_cast<void*>(&CountStarts));
  g_hooks[0] = &token, g_hooks[1] = &objects, g_hooks[2] = &starts;
  CoInitialize(nullptr);  // as the wizard's start-up does
  RegisterDeclaredCommands(ProgramDeclaredCommands());
  const std::string root = test::MakeTestRoot("MainProgramStart");
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "elevation type " << c.elevation << ", shell missing "
                                    << c.shellMissing);
    const std::string image = "zvstart" + std::to_string(&c - cases) + ".exe";
    ASSERT_TRUE(CopyFileA(ZV_STANDIN_EXE, (root + "\\" + image).c_str(), FALSE));
    g_elevation = c.elevation, g_shellMissing = c.shellMissing, g_shellAsked = g_directStarts = 0;
    EXPECT_TRUE(StartWithDesktopRights((root + "\\" + image).c_str()));
    EXPECT_EQ(g_shellAsked > 0, c.shellAsked);
    EXPECT_EQ(g_directStarts, c.direct ? 1 : 0);
    std::uint32_t id = 0;  // the shell starts it in its own process, maybe after answering
    for (int i = 0; i < 100 && (id = FindProcessIdByName(image.c_str())) == 0; ++i) Sleep(50);
    EXPECT_NE(id, 0u) << "the program was not started";
    const char* const names[] = {image.c_str()};
    StopProgramsByName(names, false, 5000);
  }
  test::RemoveTree(root);
  CoUninitialize();
}

}  // namespace
}  // namespace zv
