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

// The wizard has administrator rights by whatever route: the elevated half of a split token, the
// built-in Administrator's full token, SYSTEM. A token that cannot be read counts as one that has
// them: the suite is then left to the desktop rather than started with rights it must not have.
// (RunsWithAdministratorRights in InstallFolder.h asks the other way round, whether running as an
// administrator could help, and answers no when it cannot tell; here not telling must mean yes.)
bool HasAdministratorRights() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return true;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size)) return true;
  return elevation.TokenIsElevated != 0;
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

}  // namespace

MainProgramStart::MainProgramStart() {
  direct_ = !HasAdministratorRights();
  if (!direct_) shell_ = DesktopShell().release();
}

MainProgramStart::~MainProgramStart() {
  if (shell_ != nullptr) shell_->Release();
}

bool MainProgramStart::Start(TextArg path, TextArg folder) {
  if (direct_) return RunProgram(path, false, {}, folder.c_str());
  if (shell_ == nullptr) return false;
  // The desktop's shell starts the program in its own process, with its own token, as a double click
  // there would. No arguments and the default verb: empty texts, the kind of value these parameters
  // take.
  const UniqueBstr file = ToBstr(path);
  if (!file) return false;
  UniqueVariant none;
  V_VT(none.get()) = VT_BSTR;
  V_BSTR(none.get()) = SysAllocString(L"");
  UniqueVariant directory;
  V_VT(directory.get()) = VT_BSTR;
  V_BSTR(directory.get()) = ToBstr(folder).release();
  UniqueVariant show;
  V_VT(show.get()) = VT_I4;
  V_I4(show.get()) = SW_SHOWNORMAL;  // as RunProgram's default window mode
  return SUCCEEDED(
      shell_->ShellExecute(file.get(), *none.get(), *directory.get(), *none.get(), *show.get()));
}

}  // namespace zv
