// The message loop and event delivery. Keyboard use is what a dialog offers: Tab and Shift+Tab between
// the tab stops, Enter clicks the focused button (Space is the button's own), the arrow keys move
// from a radio button to the next or previous one of its panel and check it, as a dialog does (the
// button class keeps only the checked radio button a tab stop, so the arrows are how a keyboard
// reaches the other), and Escape clicks the shown one of the buttons the program named for it (its
// pages' Cancel). Tab and the arrows pass over covered controls (Focus.cpp). No default button. The
// focused control is asked first whether it wants the key (an open list keeps Escape and Enter), and
// Enter and Escape act once per press, never again while the key repeats. A
// left press on the window's client area or on a Label becomes a caption drag before it is
// dispatched. The control with the focus is noted around every message, so that the window can give
// it back when it is activated again (after a message box, which takes the focus away).
// Messages are taken and dispatched in their UTF-16 form, so that a character typed through an input
// method reaches the edit box whole, whatever the system's code page.
#include "engine/LiveWindow.h"
#include "engine/WindowEngine.h"
#include "runtime/Fatal.h"

namespace zv {
namespace {

bool g_startupComplete = false;
EventSource g_eventSource;

// Every kind that this engine creates raises events; a unit of any other kind id cannot.
bool CanRaiseEvents(tpl::KindId kind) {
  switch (kind) {
    case tpl::KindId::Window:
    case tpl::KindId::EditBox:
    case tpl::KindId::DrawPanel:
    case tpl::KindId::Label:
    case tpl::KindId::Button:
    case tpl::KindId::RadioBox:
    case tpl::KindId::ComboBox:
    case tpl::KindId::TransLabel:
      return true;
  }
  return false;
}

bool IsButtonKind(const engine::LiveUnit* unit) {
  return unit != nullptr && (unit->kind() == tpl::KindId::Button || unit->kind() == tpl::KindId::RadioBox);
}

// Up and Left (`back`), Down and Right on a focused radio button: the previous or next radio button of
// the same panel that is shown and enabled, round the end (the system's group order: the panel's
// controls form one group), gets the focus and is checked. False where the focus is no radio button,
// so that the key goes to the control.
bool MoveAmongRadioButtons(bool back) {
  const HWND from = GetFocus();
  if ((SendMessageW(from, WM_GETDLGCODE, 0, 0) & DLGC_RADIOBUTTON) == 0) return false;
  HWND to = from;
  for (int step = 0; step < 64; ++step) {  // a panel holds far fewer controls
    to = GetNextDlgGroupItem(GetParent(from), to, back);
    if (to == nullptr || to == from) break;
    if ((SendMessageW(to, WM_GETDLGCODE, 0, 0) & DLGC_RADIOBUTTON) == 0 || engine::IsCovered(to)) continue;
    SetFocus(to);
    if (SendMessageW(to, BM_GETCHECK, 0, 0) != BST_CHECKED) SendMessageW(to, BM_CLICK, 0, 0);
    break;
  }
  return true;
}

// Whether the focused control keeps the key for itself, as the dialog manager asks it: WM_GETDLGCODE
// with the key's message, so that a control can answer for that very key (an open drop-down list
// wants Escape and Enter to close its list, and answers DLGC_WANTMESSAGE only then). An open list is
// also asked directly, for a control that does not say so.
bool ControlKeepsKey(engine::LiveWindow& window, const MSG& msg) {
  const HWND focus = GetFocus();
  if (focus == nullptr || !IsChild(window.hwnd, focus)) return false;
  MSG asked = msg;
  const LRESULT code = SendMessageW(focus, WM_GETDLGCODE, msg.wParam, reinterpret_cast<LPARAM>(&asked));
  if ((code & DLGC_WANTMESSAGE) != 0) return true;
  if (msg.wParam == VK_TAB && (code & DLGC_WANTTAB) != 0) return true;
  if (msg.wParam >= VK_LEFT && msg.wParam <= VK_DOWN && (code & DLGC_WANTARROWS) != 0) return true;
  if (msg.wParam == VK_ESCAPE || msg.wParam == VK_RETURN) {
    // The focus is the combo box itself or, for a combo box with an edit field, that field.
    for (HWND h = focus; h != nullptr && h != window.hwnd; h = GetParent(h)) {
      const engine::LiveUnit* unit = window.FindUnit(h);
      if (unit == nullptr) continue;
      return unit->kind() == tpl::KindId::ComboBox && SendMessageW(h, CB_GETDROPPEDSTATE, 0, 0) != 0;
    }
  }
  return false;
}

// A key the system repeats while it is held down (bit 30 of the key message: it was down before).
bool IsRepeat(const MSG& msg) {
  return (msg.lParam & (1L << 30)) != 0;
}

bool HandleKey(engine::LiveWindow& window, const MSG& msg) {
  static_assert(VK_LEFT + 1 == VK_UP && VK_UP + 1 == VK_RIGHT && VK_RIGHT + 1 == VK_DOWN);
  const bool arrow = msg.wParam >= VK_LEFT && msg.wParam <= VK_DOWN;
  const bool enterOrEscape = msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE;
  if (!arrow && !enterOrEscape && msg.wParam != VK_TAB) return false;
  if (ControlKeepsKey(window, msg)) return false;
  // Enter and Escape act once per press: a held key must not click on and on (a second page's
  // Cancel after the first page's Next).
  if (enterOrEscape && IsRepeat(msg)) return true;
  if (arrow) return MoveAmongRadioButtons(msg.wParam <= VK_UP);
  if (msg.wParam == VK_TAB) {
    const HWND focus = GetFocus();
    const HWND from = focus != nullptr && IsChild(window.hwnd, focus) ? focus : nullptr;
    const HWND next = engine::NextTabStop(window, from, GetKeyState(VK_SHIFT) < 0);
    if (next != nullptr) SetFocus(next);
    return true;
  }
  if (msg.wParam == VK_ESCAPE) {
    for (const engine::LiveUnit& unit : window.units) {
      if (unit.cancels && unit.hwnd != nullptr && IsWindowVisible(unit.hwnd) && IsWindowEnabled(unit.hwnd)) {
        SendMessageW(unit.hwnd, BM_CLICK, 0, 0);
        return true;
      }
    }
    return false;
  }
  const HWND focus = GetFocus();
  if (IsButtonKind(window.FindUnit(focus))) {
    SendMessageW(focus, BM_CLICK, 0, 0);
    return true;
  }
  return false;
}

bool HandlePress(engine::LiveWindow& window, const MSG& msg) {
  if (!window.dragToMove) return false;
  const engine::LiveUnit* unit = window.FindUnit(msg.hwnd);
  const bool onClientArea = msg.hwnd == window.hwnd;
  const bool onLabel = unit != nullptr && unit->kind() == tpl::KindId::Label;
  if (!onClientArea && !onLabel) return false;
  ReleaseCapture();
  PostMessageW(window.hwnd, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(msg.pt.x, msg.pt.y));
  return true;
}

}  // namespace

bool StartupComplete() {
  return g_startupComplete;
}

void ProcessMessage(const MSG& msg) {
  engine::LiveWindow* window = engine::FindLoadedWindowOf(msg.hwnd);
  if (window != nullptr) {
    engine::RememberFocus(*window);
    if (msg.message == WM_KEYDOWN && HandleKey(*window, msg)) return;
    if (msg.message == WM_LBUTTONDOWN && HandlePress(*window, msg)) return;
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
  // The window may be gone (Cancel) or have lost the focus to a message box by now.
  if (window != nullptr && (window = engine::FindLoadedWindowOf(msg.hwnd)) != nullptr)
    engine::RememberFocus(*window);
}

void SetEscapeButtons(WindowId windowId, const ControlId* buttons, std::size_t count) {
  engine::LiveWindow* window = engine::FindLoadedWindow(windowId);
  if (window == nullptr) return;
  for (std::size_t i = 0; i < count; ++i) {
    if (engine::LiveUnit* unit = window->FindUnit(buttons[i])) unit->cancels = true;
  }
}

void SetForwardButtons(WindowId windowId, const ControlId* buttons, std::size_t count) {
  engine::LiveWindow* window = engine::FindLoadedWindow(windowId);
  if (window == nullptr) return;
  for (std::size_t i = 0; i < count; ++i) {
    if (engine::LiveUnit* unit = window->FindUnit(buttons[i])) unit->forward = true;
  }
}

void SetHelpText(WindowId windowId, ControlId control, ControlId from) {
  engine::LiveWindow* window = engine::FindLoadedWindow(windowId);
  engine::LiveUnit* unit = window != nullptr ? window->FindUnit(control) : nullptr;
  if (unit == nullptr || window->FindUnit(from) == nullptr) return;
  unit->helpFrom = from;
  if (unit->hwnd != nullptr) engine::AnnotateControls(*window);
}

std::int32_t RunMessageLoop() {
  g_startupComplete = true;
  if (!engine::AnyWindowAlive()) return 0;
  MSG msg{};
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) break;
    ProcessMessage(msg);
  }
  return static_cast<std::int32_t>(msg.wParam);
}

void RaiseEvent(const EventRecord& event) {
  engine::LiveWindow* window = engine::FindLoadedWindow(event.window);
  if (window == nullptr) ReportRuntimeError(kErrorNone, "未找到引发事件的窗口");
  engine::LiveUnit* unit = window->FindUnit(event.unit);
  if (unit == nullptr) ReportRuntimeError(kErrorNone, "未找到引发事件的窗口组件");
  if (!CanRaiseEvents(unit->kind())) ReportRuntimeError(kErrorNone, "引发事件的窗口组件无效");
  for (const engine::BoundEvent& bound : *unit->events) {
    if (bound.eventIndex != event.eventIndex) continue;
    if (bound.handler == nullptr) return;
    const EventSource previous = g_eventSource;
    g_eventSource = EventSource{event.window, event.unit};
    bound.handler();
    g_eventSource = previous;
    return;
  }
}

EventSource CurrentEventSource() {
  return g_eventSource;
}

}  // namespace zv
