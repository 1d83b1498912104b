#include "tests/e2e/WizardDriver.h"

#include <iterator>

namespace zv::test {
namespace {

struct FindById {
  int id;
  HWND found;
};

BOOL CALLBACK MatchId(HWND child, LPARAM param) {
  auto* find = reinterpret_cast<FindById*>(param);
  if (GetDlgCtrlID(child) != find->id) return TRUE;
  find->found = child;
  return FALSE;
}

}  // namespace

bool WizardDriver::Start(const std::string& setupExe, const std::string& workingDirectory) {
  if (!process_.Start("\"" + setupExe + "\"", workingDirectory)) return false;
  WaitForInputIdle(process_.handle(), 10000);
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 15000) {
    for (HWND w : TopLevelWindows(process_.id())) {
      char name[64] = {};
      GetClassNameA(w, name, sizeof name);
      if (lstrcmpA(name, "#32770") == 0) continue;
      window_ = w;
      return true;
    }
    if (!process_.IsRunning()) return false;
    Sleep(30);
  }
  return false;
}

HWND WizardDriver::Control(WizardControl id) const {
  FindById find{static_cast<int>(id), nullptr};
  EnumChildWindows(window_, MatchId, reinterpret_cast<LPARAM>(&find));
  return find.found;
}

bool WizardDriver::IsShown(WizardControl id) const {
  HWND control = Control(id);
  return control != nullptr && IsWindowVisible(control);
}

std::string WizardDriver::Text(WizardControl id) const {
  // GetWindowTextA on another process's window reads only its stored caption; asking the control
  // (WM_GETTEXT) gives what it shows: an edit box's content, a drop-down list's selected item.
  char text[1024] = {};
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(Control(id), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                      &ignored);
  return text;
}

std::wstring WideText(HWND window) {
  wchar_t text[1024] = {};
  DWORD_PTR ignored = 0;
  if (window == nullptr) return L"<no window>";
  SendMessageTimeoutW(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                      &ignored);
  return text;
}

std::wstring WizardDriver::WideText(WizardControl id) const { return test::WideText(Control(id)); }

void WizardDriver::Click(WizardControl id) {
  // Sent, not posted: when the handler returns to the message loop, the send returns with it, so the
  // next step sees the page as the handler left it. A handler that shows a message box or ends the
  // program keeps the send waiting; the time-out lets the caller go on and answer the box.
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(Control(id), BM_CLICK, 0, 0, SMTO_NORMAL, 1500, &ignored);
}

void WizardDriver::TypeNickname(const std::string& nickname) {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(Control(WizardControl::NicknameEdit), WM_SETTEXT, 0,
                      reinterpret_cast<LPARAM>(nickname.c_str()), SMTO_ABORTIFHUNG, 5000, &ignored);
}

MessageBox WizardDriver::ClickForBox(WizardControl id) {
  PostMessageW(Control(id), BM_CLICK, 0, 0);
  return NextMessageBox();
}

void WizardDriver::TypeWide(const std::wstring& text) {
  DWORD_PTR ignored = 0;
  for (wchar_t unit : text) {
    SendMessageTimeoutW(Control(WizardControl::NicknameEdit), WM_CHAR, unit, 1, SMTO_ABORTIFHUNG, 5000, &ignored);
  }
}

void WizardDriver::PickGender(int index) {
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(Control(WizardControl::GenderCombo), CB_SETCURSEL, static_cast<WPARAM>(index), 0,
                      SMTO_ABORTIFHUNG, 5000, &ignored);
}

MessageBox WizardDriver::NextMessageBox(DWORD milliseconds) { return WaitForMessageBox(process_.id(), milliseconds); }

void WizardDriver::Settle() {
  // A message sent to the window is answered only once the click handler has returned to the loop.
  DWORD_PTR ignored = 0;
  SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
}

DWORD WizardDriver::WaitForExit(DWORD milliseconds) { return process_.Wait(milliseconds); }

void WizardDriver::DestroyWindowFromOutside() {
  // DestroyWindow works only on the owning thread; WM_CLOSE reaches DefWindowProc, which destroys it.
  PostMessageA(window_, WM_CLOSE, 0, 0);
}

bool CaptureWindowToBmp(HWND window, const std::string& path) {
  RECT r;
  if (!GetWindowRect(window, &r)) return false;
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) & ~3u);
  const DWORD imageBytes = stride * static_cast<DWORD>(height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + imageBytes;
  std::string content(reinterpret_cast<const char*>(&file), sizeof file);
  content.append(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  content.append(static_cast<const char*>(bits), imageBytes);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return WriteWholeFile(path, content);
}

}  // namespace zv::test
