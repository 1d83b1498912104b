// Where the keyboard focus goes, as a keyboard user expects it: on a control the user can see and
// use. A control takes the focus when it is shown, enabled and not covered by another shown control of
// its parent that lies above it in the stacking order (the disclaimer over the registration controls):
// Tab and the arrow keys pass over the others. When the page that holds the focus is hidden, or the
// window itself is given the focus (as the system does when the window is activated again after a
// message box or Alt+Tab, and when a control with the focus is hidden), the focus goes back to the
// control that last had it or, when that one cannot take it, to the first control of the window that
// takes input: an edit box, a combo box or the checked radio button, else (a page whose inputs are
// covered) the button the program named as the page's way forward, else the first tab stop. Tab and
// Shift+Tab follow the reading order of the shown page. When a control that covered inputs is hidden
// (the disclaimer) while the focus is on a control of its page that takes no input, the focus goes to
// the first input, which tells a screen reader's user where they now are.
#include <utility>

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
    if (h == nullptr || h == window.hwnd || (GetWindowLongW(h, GWL_STYLE) & WS_TABSTOP) == 0 || !TakesFocus(h))
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
  if (window == nullptr || focus == nullptr || GetParent(UnitControlOf(*window, focus)) != GetParent(hidden)) return;
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
  if (last != nullptr && IsChild(window.hwnd, last) && HoldsFocus(window.FindUnit(last)) && TakesFocus(last)) {
    SetFocus(window.lastFocus);
  } else {
    FocusFirstInput(window);
  }
}

}  // namespace zv::engine
