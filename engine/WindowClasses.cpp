// The engine's own window classes and their procedures: the window (background colour), panels
// (background colour; they own the controls of a page), labels (opaque: background, then the caption)
// and transparent labels (what lies beneath, then the caption). Labels keep their caption as window
// text, so anything that reads window texts reads theirs. The window and the panels are the parents
// of the native controls: they give them their colours and turn BN_CLICKED into the Clicked event.
// Labels, panels, edit boxes, combo boxes and buttons with a help text answer screen readers' questions
// (Accessibility.cpp). What the window and its controls learn about the focus (activated again, a page
// or a covering box shown or hidden, a label given the focus) goes to the keyboard's rules
// (Keyboard.cpp); colour changes go to Colours.cpp, in whose high contrast the window, panels and
// labels draw the window's edge where they reach it.
#include "engine/LiveWindow.h"
// After windows.h, which the engine's header brings.

#include "engine/WindowEngine.h"

namespace zv::engine {

const wchar_t kWindowClass[] = L"ZorvikWindow";
const wchar_t kPanelClass[] = L"ZorvikPanel";
const wchar_t kLabelClass[] = L"ZorvikLabel";
const wchar_t kTransLabelClass[] = L"ZorvikTransLabel";

namespace {

constexpr UINT kDpiChanged = 0x02E0;  // WM_DPICHANGED, which older headers lack

template <class T>
T* Attached(HWND h, UINT message, LPARAM lp) {
  if (message == WM_NCCREATE) {
    auto* object = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(object));
    return object;
  }
  return reinterpret_cast<T*>(GetWindowLongPtrW(h, GWLP_USERDATA));
}

bool FillBackground(HWND h, HDC dc, HBRUSH brush) {
  if (brush == nullptr) return false;
  RECT client;
  GetClientRect(h, &client);
  FillRect(dc, &client, brush);
  return true;
}

// Colours, clicks and cursors of the controls whose parent is the window or a panel.
bool HandleChildMessage(UINT message, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (message) {
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN: {
      const HWND child = reinterpret_cast<HWND>(lp);
      LiveUnit* unit = FindLiveUnit(child);
      if (unit == nullptr) unit = FindLiveUnit(GetParent(child));  // a combo box's own edit or list
      if (unit == nullptr || !unit->hasColours) return false;
      const HDC dc = reinterpret_cast<HDC>(wp);
      SetTextColor(dc, unit->textColour);
      SetBkColor(dc, unit->backColour);
      result = reinterpret_cast<LRESULT>(unit->backBrush.get());
      return true;
    }
    case WM_COMMAND: {
      if (HIWORD(wp) != BN_CLICKED || lp == 0) return false;
      const HWND control = reinterpret_cast<HWND>(lp);
      LiveUnit* unit = FindLiveUnit(control);
      LiveWindow* window = FindLoadedWindowOf(control);
      if (unit == nullptr || window == nullptr) return false;
      if (unit->kind() != tpl::KindId::Button && unit->kind() != tpl::KindId::RadioBox) return false;
      EventRecord event;
      event.unit = unit->id();
      event.window = window->windowId;
      event.eventIndex = kEventClicked;
      RaiseEvent(event);
      result = 0;
      return true;
    }
    case WM_SETCURSOR: {
      LiveUnit* unit = FindLiveUnit(reinterpret_cast<HWND>(wp));
      if (unit == nullptr || unit->cursorHandle == nullptr) return false;
      SetCursor(unit->cursorHandle);
      result = TRUE;
      return true;
    }
    default:
      return false;
  }
}

// The last loaded window going away after start-up ends the message loop with code 0.
void OnWindowDestroyed(const LiveWindow* window) {
  if (StartupComplete() && !AnyWindowAlive(window)) PostQuitMessage(0);
}

LRESULT CALLBACK WindowProc(HWND h, UINT message, WPARAM wp, LPARAM lp) {
  LiveWindow* window = Attached<LiveWindow>(h, message, lp);
  if (window == nullptr) return DefWindowProcW(h, message, wp, lp);
  LRESULT result = 0;
  switch (message) {
    case WM_ERASEBKGND:
      if (FillBackground(h, reinterpret_cast<HDC>(wp), window->units[0].backBrush.get())) {
        DrawContrastEdge(*window, h, reinterpret_cast<HDC>(wp));
        return 1;
      }
      break;
    case WM_SETFONT:
      window->font = reinterpret_cast<HFONT>(wp);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(window->font);
    case WM_SETFOCUS:
      FollowWindowFocus(*window, message, wp);
      return 0;
    case WM_CANCELMODE:
    case WM_ENABLE:
      FollowWindowFocus(*window, message, wp);
      break;
    case WM_SYSCOLORCHANGE:
      FollowSystemColours(*window);
      break;
    case WM_SETTINGCHANGE:
      if (wp == SPI_SETHIGHCONTRAST) FollowSystemColours(*window);
      break;
    case kDpiChanged:
      // Moved to a monitor of another DPI: the place the system suggests, and controls and fonts scaled.
      RescaleWindow(*window, LOWORD(wp), reinterpret_cast<const RECT*>(lp));
      return 0;
    case WM_DESTROY:
      OnWindowDestroyed(window);
      break;
    case WM_NCDESTROY:
      result = DefWindowProcW(h, message, wp, lp);
      SetWindowLongPtrW(h, GWLP_USERDATA, 0);
      window->hwnd = nullptr;
      ForgetWindow(window);
      return result;
    default:
      if (HandleChildMessage(message, wp, lp, result)) return result;
      break;
  }
  return DefWindowProcW(h, message, wp, lp);
}

LRESULT CALLBACK PanelProc(HWND h, UINT message, WPARAM wp, LPARAM lp) {
  LiveUnit* unit = Attached<LiveUnit>(h, message, lp);
  if (unit == nullptr) return DefWindowProcW(h, message, wp, lp);
  LRESULT result = 0;
  if (message == WM_ERASEBKGND && FillBackground(h, reinterpret_cast<HDC>(wp), unit->backBrush.get())) {
    if (const LiveWindow* window = FindLoadedWindowOf(h))
      DrawContrastEdge(*window, h, reinterpret_cast<HDC>(wp));
    return 1;
  }
  if (message == WM_NCDESTROY) SetWindowLongPtrW(h, GWLP_USERDATA, 0);
  if (HandleChildMessage(message, wp, lp, result)) return result;
  if (message == WM_SETFOCUS) {
    PassFocusOn(h);  // a panel takes no input
    return 0;
  }
  if (message == WM_GETOBJECT && AnswerGetObject(*unit, wp, lp, result)) return result;
  if (message == WM_WINDOWPOSCHANGED &&
      (reinterpret_cast<const WINDOWPOS*>(lp)->flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW)) != 0) {
    result = DefWindowProcW(h, message, wp, lp);
    FollowPageShown(h);
    return result;
  }
  return DefWindowProcW(h, message, wp, lp);
}

// The caption in the label's font and colour, aligned as the kind data says.
void DrawCaption(HWND h, HDC dc, const LiveUnit& unit, std::int32_t hAlign, std::int32_t vAlign,
                 bool wordWrap) {
  wchar_t text[1024];
  const int length = GetWindowTextW(h, text, sizeof text / sizeof text[0]);
  RECT area;
  GetClientRect(h, &area);
  UINT flags = DT_NOPREFIX | (hAlign == 1 ? DT_CENTER : hAlign == 2 ? DT_RIGHT : DT_LEFT);
  HGDIOBJ oldFont = SelectObject(dc, unit.font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, unit.textColour);
  if (!wordWrap) {
    flags |= DT_SINGLELINE | (vAlign == 1 ? DT_VCENTER : vAlign == 2 ? DT_BOTTOM : DT_TOP);
  } else if (vAlign != 0) {
    RECT measured = area;
    DrawTextW(dc, text, length, &measured, flags | DT_WORDBREAK | DT_CALCRECT);
    const LONG spare = (area.bottom - area.top) - (measured.bottom - measured.top);
    if (spare > 0) area.top += vAlign == 1 ? spare / 2 : spare;
    flags |= DT_WORDBREAK;
  } else {
    flags |= DT_WORDBREAK;
  }
  DrawTextW(dc, text, length, &area, flags);
  SelectObject(dc, oldFont);
}

// A transparent label shows what lies beneath it: its parent's background, then the panels and
// labels below it that it overlaps (bottom-most first), each asked to erase into this DC.
void PaintBeneath(HWND h, HDC dc) {
  RECT mine;
  GetWindowRect(h, &mine);
  const HWND parent = GetParent(h);
  POINT origin{mine.left, mine.top};
  ScreenToClient(parent, &origin);
  int saved = SaveDC(dc);
  SetViewportOrgEx(dc, -origin.x, -origin.y, nullptr);
  SendMessageW(parent, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RestoreDC(dc, saved);

  HWND below[64];
  int count = 0;
  for (HWND s = GetWindow(h, GW_HWNDNEXT); s != nullptr && count < 64; s = GetWindow(s, GW_HWNDNEXT)) {
    const LiveUnit* unit = FindLiveUnit(s);
    if (unit == nullptr || !IsWindowVisible(s)) continue;
    if (unit->kind() == tpl::KindId::DrawPanel || unit->kind() == tpl::KindId::Label) below[count++] = s;
  }
  while (count > 0) {
    const HWND s = below[--count];
    RECT theirs, overlap;
    GetWindowRect(s, &theirs);
    if (!IntersectRect(&overlap, &mine, &theirs)) continue;
    saved = SaveDC(dc);
    SetViewportOrgEx(dc, theirs.left - mine.left, theirs.top - mine.top, nullptr);
    IntersectClipRect(dc, 0, 0, theirs.right - theirs.left, theirs.bottom - theirs.top);
    SendMessageW(s, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RestoreDC(dc, saved);
  }
}

LRESULT CALLBACK LabelProc(HWND h, UINT message, WPARAM wp, LPARAM lp) {
  LiveUnit* unit = Attached<LiveUnit>(h, message, lp);
  if (unit == nullptr) return DefWindowProcW(h, message, wp, lp);
  switch (message) {
    case WM_ERASEBKGND:
      // A transparent label erases nothing (its painting starts with what lies beneath); an opaque
      // one fills its background, also when a transparent label above asks it to.
      if (std::get_if<tpl::LabelData>(&unit->data) != nullptr) {
        FillBackground(h, reinterpret_cast<HDC>(wp), unit->backBrush.get());
      }
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(h, &ps);
      const auto* trans = std::get_if<tpl::TransLabelData>(&unit->data);
      if (trans != nullptr) {
        PaintBeneath(h, dc);
        DrawCaption(h, dc, *unit, trans->hAlign, trans->vAlign, trans->wordWrap != 0);
      } else if (const auto* label = std::get_if<tpl::LabelData>(&unit->data)) {
        FillBackground(h, dc, unit->backBrush.get());
        if (const LiveWindow* window = FindLoadedWindowOf(h)) DrawContrastEdge(*window, h, dc);
        DrawCaption(h, dc, *unit, label->hAlign, label->vAlign, label->wordWrap != 0);
      }
      EndPaint(h, &ps);
      return 0;
    }
    case WM_SETTEXT: {
      const LRESULT result = DefWindowProcW(h, message, wp, lp);
      InvalidateRect(h, nullptr, TRUE);
      // The caption may be an input's name or a control's help text.
      if (LiveWindow* window = FindLoadedWindowOf(h)) AnnotateControls(*window);
      return result;
    }
    case WM_SETFOCUS:
      PassFocusOn(h);  // text takes no input (an assistive tool may still give it the focus)
      return 0;
    case WM_SETFONT:
      unit->font = reinterpret_cast<HFONT>(wp);
      if (LOWORD(lp)) InvalidateRect(h, nullptr, TRUE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(unit->font);
    case WM_GETOBJECT: {
      LRESULT result = 0;
      if (AnswerGetObject(*unit, wp, lp, result)) return result;
      break;
    }
    case WM_NCDESTROY:
      SetWindowLongPtrW(h, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcW(h, message, wp, lp);
}

// The system's controls that the engine answers for (edit boxes, combo boxes, buttons with a help
// text): WM_GETOBJECT, and a box that hides and so uncovers inputs. Everything else goes on to the
// procedure that was there before (the class's, or another program part's subclass), kept as a
// window property: the user32 subclassing of SetWindowLongPtr and CallWindowProc, which needs no
// common-controls library (loading that at start-up, with the visual-styles library it brings, costs
// the first page more than everything else the window does).
constexpr wchar_t kPreviousProcedure[] = L"zv.previous";

LRESULT CALLBACK ControlSubclassProc(HWND h, UINT message, WPARAM wp, LPARAM lp) {
  const auto previous = reinterpret_cast<WNDPROC>(GetPropW(h, kPreviousProcedure));
  if (previous == nullptr) return DefWindowProcW(h, message, wp, lp);
  if (message == WM_GETOBJECT) {
    const LiveUnit* unit = FindLiveUnit(h);
    LRESULT result = 0;
    if (unit != nullptr && AnswerGetObject(*unit, wp, lp, result)) return result;
  }
  if (message == WM_NCDESTROY) {
    if (LiveUnit* unit = FindLiveUnit(h)) ForgetAnnotations(*unit);
    // Out of the chain as the window goes, where nobody has put a procedure on top meanwhile.
    if (GetWindowLongPtrW(h, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&ControlSubclassProc))
      SetWindowLongPtrW(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    RemovePropW(h, kPreviousProcedure);
  }
  const LRESULT result = CallWindowProcW(previous, h, message, wp, lp);
  if (message == WM_WINDOWPOSCHANGED) {
    const UINT flags = reinterpret_cast<const WINDOWPOS*>(lp)->flags;
    // A box hidden that covered inputs (the disclaimer): the focus may go to them.
    if ((flags & SWP_HIDEWINDOW) != 0) FollowUncovering(h);
    // A help text that follows this control's showing (the disclaimer's, on its page's Next).
    LiveWindow* window = (flags & (SWP_HIDEWINDOW | SWP_SHOWWINDOW)) != 0 ? FindLoadedWindowOf(h) : nullptr;
    if (window != nullptr) AnnotateControls(*window);
  }
  return result;
}

// Unicode classes: their windows take and give UTF-16 texts, and typed characters arrive as UTF-16.
bool Register(const wchar_t* name, WNDPROC procedure, UINT style) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = style;
  wc.lpfnWndProc = procedure;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.lpszClassName = name;
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

void AnswerForControl(HWND control) {
  if (GetPropW(control, kPreviousProcedure) != nullptr) return;  // already in the chain
  const LONG_PTR previous = GetWindowLongPtrW(control, GWLP_WNDPROC);
  if (previous == 0 || !SetPropW(control, kPreviousProcedure, reinterpret_cast<HANDLE>(previous))) return;
  SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ControlSubclassProc));
}

bool RegisterWindowClasses() {
  static bool registered = false;
  if (!registered) {
    registered = Register(kWindowClass, WindowProc, 0) && Register(kPanelClass, PanelProc, 0) &&
                 Register(kLabelClass, LabelProc, CS_HREDRAW | CS_VREDRAW) &&
                 Register(kTransLabelClass, LabelProc, CS_HREDRAW | CS_VREDRAW);
  }
  return registered;
}

}  // namespace zv::engine
