// Where the keyboard focus goes, as a keyboard user expects it: on a control the user can see and
// use. A control takes the focus when it is shown, enabled and not covered by another shown control of
// its parent that lies above it in the stacking order (the disclaimer over the registration controls):
// Tab and the arrow keys pass over the others. When the page that holds the focus is hidden, or the
// window itself is given the focus (as the system does when the window is activated again after a
// message box or Alt+Tab, and when a control with the focus is hidden), the focus goes back to the
// control that last had it or, when that one cannot take it, to the first control of the window that
// takes input: an edit box, a combo box or the checked radio button, else the first tab stop.
#include "engine/LiveWindow.h"

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

HWND NextTabStop(HWND window, HWND from, bool back) {
  HWND next = from;
  for (int step = 0; step < kMostControls; ++step) {
    next = GetNextDlgTabItem(window, next, back);
    if (next == nullptr || next == from) break;
    if (!IsCovered(next)) return next;
  }
  return from;
}

void FocusFirstInput(LiveWindow& window) {
  const HWND first = NextTabStop(window.hwnd, nullptr, false);
  HWND chosen = first;
  HWND at = first;
  for (int step = 0; at != nullptr && step < kMostControls; ++step) {
    if (TakesInput(window.FindUnit(at))) {
      chosen = at;
      break;
    }
    at = NextTabStop(window.hwnd, at, false);
    if (at == first) break;
  }
  if (chosen != nullptr) SetFocus(chosen);
}

void RememberFocus(LiveWindow& window) {
  const HWND focus = GetFocus();
  if (focus != nullptr && IsChild(window.hwnd, focus)) window.lastFocus = focus;
}

void RestoreFocus(LiveWindow& window) {
  // A combo box's own edit or list has the focus on the combo box's behalf.
  HWND last = window.lastFocus;
  if (last != nullptr && window.FindUnit(last) == nullptr) last = GetParent(last);
  if (last != nullptr && IsChild(window.hwnd, last) && TakesFocus(last)) {
    SetFocus(window.lastFocus);
  } else {
    FocusFirstInput(window);
  }
}

}  // namespace zv::engine
