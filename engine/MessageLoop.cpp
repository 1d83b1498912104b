// The message loop and event delivery. Every message passes the keyboard's rules first (Keyboard.cpp);
// a left press on the window's client area or on a Label becomes a caption drag before it is
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
    if (msg.message == WM_KEYDOWN && engine::HandleKey(*window, msg)) return;
    if (msg.message == WM_LBUTTONDOWN && HandlePress(*window, msg)) return;
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
  // The window may be gone (Cancel) or have lost the focus to a message box by now.
  if (window != nullptr && (window = engine::FindLoadedWindowOf(msg.hwnd)) != nullptr)
    engine::RememberFocus(*window);
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
