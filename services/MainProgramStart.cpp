#include "services/MainProgramStart.h"

#include <windows.h>
#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "runtime/Automation.h"
#include "runtime/Handles.h"
#include "runtime/ProcessOperations.h"

namespace zv {
namespace {

// The wizard's token is the elevated half of a split token: the user's desktop runs with the other,
// limited half. A token that is not split (elevation type default: no UAC, or a standard user) or that
// is already the limited half gives its rights to the desktop as much as to the wizard.
bool RunsElevatedAboveTheDesktop() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  return GetTokenInformation(token.get(), TokenElevationType, &type, sizeof type, &size) &&
         type == TokenElevationTypeFull;
}

// The shell's automation object of the desktop window: the desktop's shell window, its top-level
// browser, the view it shows, that view's background object and the shell application behind it.
// Every step is a separate object that may be missing (no shell running, another shell, a desktop
// without a view); any missing step ends the route.
ComPtr<IShellDispatch2> DesktopShell() {
  ComPtr<IShellWindows> windows;
  if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                              reinterpret_cast<void**>(windows.put())))) {
    return {};
  }
  UniqueVariant desktop;
  V_VT(desktop.get()) = VT_I4;
  V_I4(desktop.get()) = CSIDL_DESKTOP;
  UniqueVariant none;
  long window = 0;
  ComPtr<IDispatch> found;
  if (windows->FindWindowSW(desktop.get(), none.get(), SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                            found.put()) != S_OK ||
      !found) {
    return {};  // S_FALSE: no desktop window is registered
  }
  ComPtr<IServiceProvider> services;
  ComPtr<IShellBrowser> browser;
  if (FAILED(found.As(IID_IServiceProvider, &services)) ||
      FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser,
                                    reinterpret_cast<void**>(browser.put())))) {
    return {};
  }
  ComPtr<IShellView> view;
  ComPtr<IDispatch> background;
  if (FAILED(browser->QueryActiveShellView(view.put())) || !view ||
      FAILED(
          view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, reinterpret_cast<void**>(background.put())))) {
    return {};
  }
  ComPtr<IShellFolderViewDual> folderView;
  ComPtr<IDispatch> application;
  ComPtr<IShellDispatch2> shell;
  if (FAILED(background.As(IID_IShellFolderViewDual, &folderView)) ||
      FAILED(folderView->get_Application(application.put())) || !application ||
      FAILED(application.As(IID_IShellDispatch2, &shell))) {
    return {};
  }
  return shell;
}

// Asks the desktop's shell to start the program, as a double click there would; the shell starts it
// in its own process, with its own token. Nothing comes back to wait for.
bool StartThroughDesktopShell(TextArg path) {
  const ComPtr<IShellDispatch2> shell = DesktopShell();
  const UniqueBstr file = ToBstr(path);
  if (!shell || !file) return false;
  // No arguments, the default folder and verb: empty texts, the kind of value these parameters take.
  UniqueVariant none;
  V_VT(none.get()) = VT_BSTR;
  V_BSTR(none.get()) = SysAllocString(L"");
  UniqueVariant show;
  V_VT(show.get()) = VT_I4;
  V_I4(show.get()) = SW_SHOWNORMAL;  // as RunProgram's default window mode
  return SUCCEEDED(shell->ShellExecute(file.get(), *none.get(), *none.get(), *none.get(), *show.get()));
}

}  // namespace

bool StartWithDesktopRights(TextArg path) {
  if (RunsElevatedAboveTheDesktop() && StartThroughDesktopShell(path)) return true;
  return RunProgram(path, false);
}

}  // namespace zv
