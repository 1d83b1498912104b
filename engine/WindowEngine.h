// The window engine: reads the program's window templates at start-up, creates a window and its
// controls from its template (LoadWindow), runs the message loop, and raises control events to the
// handlers that the template binds. The property operations (runtime/ControlProperties.h) answer from
// the windows it has loaded. Everything runs on the GUI thread.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "runtime/ControlProperties.h"
#include "runtime/Value.h"

namespace zv {

// Where the program keeps its window templates, as its header records them: the stored block, and the
// code base that the stored handler offsets count from (the program's table of handler routines).
struct ProgramTemplates {
  const std::uint8_t* block = nullptr;
  std::size_t blockSize = 0;
  const EventHandler* codeBase = nullptr;
  std::size_t handlerCount = 0;
};

// Parses the block into per-window unit lists and turns every handler offset into a routine. A block
// that cannot be parsed, or an offset outside the code base, is the fatal error
// "载入窗口模板数据段出错!". No window is created.
void LoadWindowTemplates(const ProgramTemplates& program);

// Creates the window from its template with all its controls and shows it; if it is already loaded,
// shows it. A missing template or a window that cannot be created is the fatal error "载入启动窗口失败".
// The controls of a panel on the window that is hidden then (a later page) are created at the first
// property operation on one of them (showing the panel is one), with the same fatal error if that
// fails.
void LoadWindow(WindowId window);

// Escape clicks the first of `buttons` of the loaded window that is shown and enabled (a page's
// Cancel); nothing when none is.
void SetEscapeButtons(WindowId window, const ControlId* buttons, std::size_t count);

// Where a page shows nothing to fill in (a control above covers its inputs, as a disclaimer does), the
// focus starts on the first of `buttons` that is shown (the page's way forward) rather than on its
// first tab stop. Not a default button: Enter clicks it only while it has the focus.
void SetForwardButtons(WindowId window, const ControlId* buttons, std::size_t count);

// The text of `from` is the help text that screen readers read for `control` while `from` is shown
// (a warning under an input, a disclaimer for the button that accepts it). Nothing for an unknown unit.
void SetHelpText(WindowId window, ControlId control, ControlId from);

// Sets StartupComplete, then dispatches messages until a quit message arrives and returns its code;
// returns 0 at once when no loaded window is alive.
std::int32_t RunMessageLoop();
bool StartupComplete();

// One message through the engine, as the loop does it: Tab / Shift+Tab move the focus between the
// tab stops of the window, Enter on a focused button clicks it, a left press on the window's own
// client area or on a Label starts a caption drag; everything else is translated and dispatched. The
// message is taken in its wide form (GetMessageW, PeekMessageW), as the windows are Unicode windows.
void ProcessMessage(const MSG& message);

// An event raised by a control: the handler bound to (unit, event index) is called with the unit as
// the current event source. Unknown window or unit, or a kind that cannot raise events, is fatal.
struct EventRecord {
  ControlId unit = 0;
  WindowId window = 0;
  std::uint32_t eventIndex = 0;
  std::uint32_t argumentCount = 0;
  const Value* arguments = nullptr;
};
void RaiseEvent(const EventRecord& event);

inline constexpr std::uint32_t kEventClicked = 0;

}  // namespace zv
