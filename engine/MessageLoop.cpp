// The message loop and event delivery. Keyboard use is what any window with tab stops offers (Tab and
// Shift+Tab between the tab stops, Enter clicks the focused button; Space is the button's own) and
// nothing more: no default button, no Escape, no arrow-key moves between radio buttons. A left press on
// the window's client area or on a Label becomes a caption drag before it is dispatched.
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

bool HandleKey(engine::LiveWindow& window, const MSG& msg) {
  if (msg.wParam == VK_TAB) {
    const HWND focus = GetFocus();
    const HWND from = focus != nullptr && IsChild(window.hwnd, focus) ? focus : nullptr;
    const HWND next = GetNextDlgTabItem(window.hwnd, from, GetKeyState(VK_SHIFT) < 0);
    if (next != nullptr) SetFocus(next);
    return true;
  }
  if (msg.wParam == VK_RETURN) {
    const HWND focus = GetFocus();
    if (IsButtonKind(window.FindUnit(focus))) {
      SendMessageA(focus, BM_CLICK, 0, 0);
      return true;
    }
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
  PostMessageA(window.hwnd, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(msg.pt.x, msg.pt.y));
  return true;
}

}  // namespace

bool StartupComplete() {
  return g_startupComplete;
}

void ProcessMessage(const MSG& msg) {
  if (engine::LiveWindow* window = engine::FindLoadedWindowOf(msg.hwnd)) {
    if (msg.message == WM_KEYDOWN && HandleKey(*window, msg)) return;
    if (msg.message == WM_LBUTTONDOWN && HandlePress(*window, msg)) return;
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
}

std::int32_t RunMessageLoop() {
  g_startupComplete = true;
  if (!engine::AnyWindowAlive()) return 0;
  MSG msg{};
  for (;;) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
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
