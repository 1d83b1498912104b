// The keyboard, as a keyboard user expects it: the keys, the tab order and where the focus goes.
//
// Keys are what a dialog offers, taken before the message is dispatched: the focused control is asked
// first whether it wants the key (WM_GETDLGCODE with the key's message; an open list keeps Escape and
// Enter); Tab and Shift+Tab go between the tab stops in the shown page's reading order (rows from the
// top, left to right: the engine's own order, apart from the stacking order, which decides what covers
// what); Enter clicks the focused button (Space is the button's own); the arrow keys move from a radio
// button to the next or previous one of its panel and check it (the button class keeps only the
// checked radio button a tab stop, so the arrows are how a keyboard reaches the other); Escape clicks
// the shown one of the buttons the program named for it (its pages' Cancel). Enter and Escape act once
// per press, never again while the key repeats. No default button.
//
// The focus is always on a control the user can see and use: shown, enabled and not covered by another
// shown control of its parent that lies above it in the stacking order (the disclaimer over the
// registration controls); Tab and the arrows pass over the others. When the page that holds the focus
// is hidden, or the window itself is given the focus (as the system does when the window is activated
// again after a message box or Alt+Tab, and when a control with the focus is hidden), the focus goes
// back to the control that last had it or, when that one cannot take it, to the first control of the
// window that takes input: an edit box, a combo box or the checked radio button, else (a page whose
// inputs are covered) the button the program named as the page's way forward, else the first tab stop.
// When a control that covered inputs is hidden (the disclaimer) while the focus is on a control of its
// page that takes no input, the focus goes to the first input, which tells a screen reader's user
// where they now are. Labels, bands and panels never hold the focus: given it, they pass it on.
#include <utility>

#include "engine/LiveWindow.h"
#include "engine/WindowEngine.h"

namespace zv::engine {
namespace {

constexpr int kMostControls = 64;  // a window of the engine holds far fewer

bool TakesInput(const LiveUnit* unit) {
  if (unit == nullptr) return false;
  const tpl::KindId kind = unit->kind();
  return kind == tpl::KindId::EditBox || kind == tpl::KindId::ComboBox || kind == tpl::KindId::RadioBox;
}

}  // namespace

bool IsCovered(HWND control) {
  RECT mine;
  GetWindowRect(control, &mine);
  for (HWND above = GetWindow(control, GW_HWNDPREV); above != nullptr;
       above = GetWindow(above, GW_HWNDPREV)) {
    if (!IsWindowVisible(above)) continue;
    RECT theirs, both;
    GetWindowRect(above, &theirs);
    if (IntersectRect(&both, &mine, &theirs) && EqualRect(&both, &mine)) return true;
  }
  return false;
}

bool TakesFocus(HWND control) {
  return control != nullptr && IsWindow(control) && IsWindowVisible(control) && IsWindowEnabled(control) &&
         !IsCovered(control);
}

namespace {

// The window's tab stops that take the focus now, in reading order: from the top row down, left to
// right within a row (controls whose vertical spans overlap the row's first are in its row). This
// order is the engine's own, apart from the stacking order, which decides what covers what: the
// record order puts a page's buttons and radio buttons in the wrong order for reading. Only the
// shown page's controls take the focus, so this is the order of the page that is shown.
int TabOrder(const LiveWindow& window, HWND* order, RECT* places, int capacity) {
  int count = 0;
  for (const LiveUnit& unit : window.units) {
    if (count == capacity) break;
    const HWND h = unit.hwnd;
    if (h == nullptr || h == window.hwnd || (GetWindowLongW(h, GWL_STYLE) & WS_TABSTOP) == 0 ||
        !TakesFocus(h))
      continue;
    RECT place;
    GetWindowRect(h, &place);
    // Insertion by top, then the rows sorted by left below.
    int at = count++;
    for (; at > 0 && places[at - 1].top > place.top; --at) {
      order[at] = order[at - 1];
      places[at] = places[at - 1];
    }
    order[at] = h;
    places[at] = place;
  }
  for (int row = 0; row < count;) {
    int end = row + 1;
    while (end < count && places[end].top < places[row].bottom) ++end;
    for (int i = row + 1; i < end; ++i) {
      for (int j = i; j > row && places[j - 1].left > places[j].left; --j) {
        std::swap(order[j], order[j - 1]);
        std::swap(places[j], places[j - 1]);
      }
    }
    row = end;
  }
  return count;
}

// The unit's control for a focus that may be inside it (a combo box's own edit field).
HWND UnitControlOf(LiveWindow& window, HWND h) {
  for (; h != nullptr && h != window.hwnd; h = GetParent(h)) {
    if (window.FindUnit(h) != nullptr) return h;
  }
  return nullptr;
}

}  // namespace

HWND NextTabStop(LiveWindow& window, HWND from, bool back) {
  HWND order[kMostControls];
  RECT places[kMostControls];
  const int count = TabOrder(window, order, places, kMostControls);
  if (count == 0) return from;
  const HWND control = UnitControlOf(window, from);
  for (int i = 0; i < count; ++i) {
    if (order[i] == control) return order[(i + (back ? count - 1 : 1)) % count];
  }
  return order[back ? count - 1 : 0];
}

void FocusFirstInput(LiveWindow& window) {
  HWND order[kMostControls];
  RECT places[kMostControls];
  const int count = TabOrder(window, order, places, kMostControls);
  HWND chosen = count > 0 ? order[0] : nullptr;
  bool input = false;
  for (int i = 0; i < count && !input; ++i) {
    input = TakesInput(window.FindUnit(order[i]));
    if (input) chosen = order[i];
  }
  // Nothing to fill in (a disclaimer covers the inputs): the page's way forward, which reads what the
  // cover says as its help text.
  for (int i = 0; i < count && !input; ++i) {
    const LiveUnit* unit = window.FindUnit(order[i]);
    if (unit != nullptr && unit->forward) {
      chosen = order[i];
      break;
    }
  }
  if (chosen != nullptr) SetFocus(chosen);
}

void FollowUncovering(HWND hidden) {
  LiveWindow* window = FindLoadedWindowOf(hidden);
  const HWND focus = GetFocus();
  if (window == nullptr || focus == nullptr || GetParent(UnitControlOf(*window, focus)) != GetParent(hidden))
    return;
  if (TakesInput(window->FindUnit(UnitControlOf(*window, focus)))) return;
  FocusFirstInput(*window);
}

namespace {

// Labels, bands and panels never hold the focus; they pass it on (WindowClasses.cpp).
bool HoldsFocus(const LiveUnit* unit) {
  if (unit == nullptr) return true;  // a combo box's own edit field
  const tpl::KindId kind = unit->kind();
  return kind != tpl::KindId::Label && kind != tpl::KindId::TransLabel && kind != tpl::KindId::DrawPanel;
}

}  // namespace

void RememberFocus(LiveWindow& window) {
  const HWND focus = GetFocus();
  if (focus != nullptr && IsChild(window.hwnd, focus) && HoldsFocus(window.FindUnit(focus)))
    window.lastFocus = focus;
}

void RestoreFocus(LiveWindow& window) {
  // A combo box's own edit or list has the focus on the combo box's behalf.
  HWND last = window.lastFocus;
  if (last != nullptr && window.FindUnit(last) == nullptr) last = GetParent(last);
  if (last != nullptr && IsChild(window.hwnd, last) && HoldsFocus(window.FindUnit(last)) &&
      TakesFocus(last)) {
    SetFocus(window.lastFocus);
  } else {
    FocusFirstInput(window);
  }
}

// ---- Keys ----

namespace {

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

}  // namespace

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

// ---- What the window and its controls tell about the focus ----

void FollowWindowFocus(LiveWindow& window, UINT message, WPARAM wp) {
  switch (message) {
    case WM_SETFOCUS:
      // Activated again, or a control with the focus was hidden: the focus goes on to a control.
      RestoreFocus(window);
      break;
    case WM_CANCELMODE:
      // Sent as the window is disabled for a message box, before the system takes the focus away.
      RememberFocus(window);
      break;
    case WM_ENABLE:
      // Enabled again after a message box without an owner, which took the focus along and left no
      // window of this thread active: the focus goes back where it was.
      if (wp != FALSE && !IsChild(window.hwnd, GetFocus()) &&
          (GetActiveWindow() == nullptr || GetActiveWindow() == window.hwnd)) {
        RestoreFocus(window);
      }
      break;
    default:
      break;
  }
}

void FollowPageShown(HWND panel) {
  // A focus left on a control of a hidden page moves on (the system leaves it there or hands it to the
  // window, depending on the version).
  LiveWindow* window = FindLoadedWindowOf(panel);
  const HWND focus = GetFocus();
  if (window != nullptr && IsChild(window->hwnd, focus) && !IsWindowVisible(focus)) RestoreFocus(*window);
}

void PassFocusOn(HWND h) {
  if (LiveWindow* window = FindLoadedWindowOf(h)) RestoreFocus(*window);
}

}  // namespace zv::engine

namespace zv {

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

}  // namespace zv
