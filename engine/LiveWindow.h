// The engine's own view of what it has loaded: the parsed templates with their bound handlers (from
// start-up on), and each created window with its live units (from LoadWindow until the window is
// destroyed). Internal to the engine and the property operations.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/GdiOwners.h"
#include "engine/TemplateCodec.h"
#include "runtime/ControlProperties.h"

namespace zv::engine {

struct BoundEvent {
  std::uint32_t eventIndex = 0;
  EventHandler handler = nullptr;  // null: the event is ignored
};

// A window template as loaded at start-up: its units, and per unit its bound events.
struct LoadedTemplate {
  tpl::WindowTemplate window;
  std::vector<std::vector<BoundEvent>> events;  // parallel to window.units
};

// One unit of a created window: its record, its decoded kind data, its native window and the
// values the common properties keep.
struct LiveUnit {
  const tpl::UnitRecord* record = nullptr;
  const std::vector<BoundEvent>* events = nullptr;
  tpl::KindData data;
  HWND hwnd = nullptr;  // owned by its parent window (the window unit: by LiveWindow); null until created
  std::int32_t left = 0, top = 0, width = 0, height = 0;
  std::string tag;
  bool visible = false;
  bool disabled = false;
  tpl::Bytes cursor;
  HCURSOR cursorHandle = nullptr;  // null: the class cursor
  // The unit's font in 96-DPI units (for a unit without a stored font, the stock GUI font's), and the
  // font object in use at the window's DPI: made by the first unit with this font, shared by the rest.
  LOGFONTW storedFont{};  // the face name converted from the stored GBK
  bool stockFont = false;
  LiveUnit* fontMaker = nullptr;
  UniqueFont ownFont;
  UniqueFont fitFont;  // a label's own, slightly smaller font where its caption would not fit (FitCaption)
  HFONT font = nullptr;
  bool hasColours = false;       // false: the system draws the control's colours
  bool cancels = false;          // Escape clicks it while it is shown (SetEscapeButtons)
  bool forward = false;          // the focus starts on it where its page has no uncovered input
  std::uint32_t helpFrom = 0;    // the unit whose text is its help text while shown (SetHelpText)
  bool annotated = false;        // named through the system's annotation: its own object answers
  std::uint32_t storedText = 0;  // the template's colours (kDefaultColour: the button face)
  std::uint32_t storedBack = 0;
  COLORREF textColour = 0;  // the colours in use: the template's, or a system pair in high contrast
  COLORREF backColour = 0;
  UniqueBrush backBrush;
  std::string scratch;  // the GBK text of the last kind-property read; the contract copies it

  tpl::KindId kind() const { return record->kind; }
  std::uint32_t id() const { return record->id; }
};

// A created window: units[0] is the window unit, then the controls in record order. Stored geometry
// and font heights are in 96-DPI units; the native windows are scaled to `dpi`.
struct LiveWindow {
  WindowId windowId = 0;
  const LoadedTemplate* source = nullptr;
  HWND hwnd = nullptr;
  std::vector<LiveUnit> units;  // sized once before any native window exists; never resized
  bool dragToMove = false;
  HFONT font = nullptr;  // WM_SETFONT of the window itself
  int dpi = 96;
  HWND lastFocus = nullptr;   // the control that last had the focus (Keyboard.cpp)
  bool highContrast = false;  // the system's high-contrast mode, as last asked

  LiveUnit* FindUnit(std::uint32_t id);
  LiveUnit* FindUnit(HWND hwnd);
};

const LoadedTemplate* FindTemplate(WindowId window);
// The registry of loaded windows (LoadedWindows.cpp). A new record, before its window is built.
LiveWindow* AddLoadedWindow(WindowId window, const LoadedTemplate* source);
// The loaded (created and not yet destroyed) window with this id, or null.
LiveWindow* FindLoadedWindow(WindowId window);
// The loaded window whose native window is `hwnd` or an ancestor of it, or null.
LiveWindow* FindLoadedWindowOf(HWND hwnd);
// The unit whose native window is `hwnd`, in any loaded window, or null.
LiveUnit* FindLiveUnit(HWND hwnd);
// Whether a loaded window other than `except` still has its native window.
bool AnyWindowAlive(const LiveWindow* except = nullptr);

// A panel on the window that is hidden when the window is built (a page not shown yet) is created,
// with everything inside it, when a caller first needs one of its units: this creates the unit's
// native window if it is not there yet, at the place in the stacking order it would have had.
// False: it could not be created.
bool EnsureCreated(LiveWindow& window, LiveUnit& unit);

// Called by the window's procedure when its native window is gone.
void ForgetWindow(LiveWindow* window);
// Window procedures and classes (WindowClasses.cpp).
bool RegisterWindowClasses();
extern const wchar_t kWindowClass[];
extern const wchar_t kPanelClass[];
extern const wchar_t kLabelClass[];
extern const wchar_t kTransLabelClass[];

// Answers WM_GETOBJECT for a label, a band, a panel, an edit box or a combo box that is not annotated,
// or a button with a help text, with an object of the engine's own over the system's default object,
// named, given its role, state, value and help text as screen readers need them (Accessibility.cpp);
// false: the default answer (for an annotated control, the system's own object).
bool AnswerGetObject(const LiveUnit& unit, WPARAM wp, LPARAM lp, LRESULT& result);
// Names the input controls after their labels and gives the controls their help texts through the
// system's Dynamic Annotation, so that they keep the system's own objects (and with them what UI
// Automation offers for an edit box or a list: text, caret, selection, expanding). A control for which
// one annotation call fails (a system without the service's setters) is not annotated at all: the
// engine's own object answers for it. Again whenever a name or help text may have changed.
void AnnotateControls(LiveWindow& window);
// The control's window is going: the annotation service forgets what it was told about it.
void ForgetAnnotations(LiveUnit& unit);
// A system control (edit box, combo box, a button with a help text) answers WM_GETOBJECT through
// AnswerGetObject from now on, and tells FollowUncovering when it hides.
void AnswerForControl(HWND control);

// A length in 96-DPI units at the window's DPI, and back.
inline int ToWindowDpi(const LiveWindow& window, int v) {
  return MulDiv(v, window.dpi, 96);
}
inline int FromWindowDpi(const LiveWindow& window, int v) {
  return MulDiv(v, 96, window.dpi);
}
// Moves the window to `bounds` (null: keeps its place) and brings every control and font to `dpi`.
void RescaleWindow(LiveWindow& window, int dpi, const RECT* bounds);

// Cursor data as a cursor handle: a stock cursor id (IDC_*) in its first four bytes; no data or 0 is
// the default arrow (null).
HCURSOR CursorFromData(const tpl::Bytes& data);

// Colours (Colours.cpp). The button-face colour for kDefaultColour, otherwise the colour itself.
COLORREF ResolveColour(std::uint32_t colour);
// Whether the system's high-contrast mode is on.
bool HighContrastOn();
// The unit's colours in use: the template's; in high contrast a system pair by kind (window text on
// window for the window, its bands and the input fields; button text on button face for labels,
// panels and radio buttons). Makes the background brush anew.
void ApplyColours(const LiveWindow& window, LiveUnit& unit);
// In high contrast, the window's edge: a borderless window would not stand out from what lies behind
// it, so its outermost pixels are drawn in the scheme's text colour, by the window itself and by a
// panel or band (`h`) where it reaches the window's edge; nothing without the mode. Sizes and places
// stay as they are: the line is drawn over the outermost pixels, not around them.
void DrawContrastEdge(const LiveWindow& window, HWND h, HDC dc);
// Asks the mode again and repaints the window in the colours that follow from it and from the
// system's colours (WM_SYSCOLORCHANGE, WM_SETTINGCHANGE).
void FollowSystemColours(LiveWindow& window);

// The keyboard and the focus (Keyboard.cpp). Tab, Enter, Escape and the arrow keys as a dialog takes
// them, before the message is dispatched; false: the message goes on to the control.
bool HandleKey(LiveWindow& window, const MSG& msg);
// What the window tells about the focus: WM_SETFOCUS (activated again), WM_CANCELMODE (a message box
// takes the focus), WM_ENABLE (the box is gone).
void FollowWindowFocus(LiveWindow& window, UINT message, WPARAM wp);
// A page (panel) was shown or hidden: a focus left on a hidden control moves on.
void FollowPageShown(HWND panel);
// A control that takes no input (a label, a panel) was given the focus: it goes on to one that does.
void PassFocusOn(HWND h);
// A control is covered when a shown sibling above it in the stacking order covers
// its whole rectangle; it takes the focus when it is shown, enabled and not covered.
bool IsCovered(HWND control);
bool TakesFocus(HWND control);
// The next (or previous) tab stop of the window after `from` (null: the first) that is not covered,
// round the end; `from` when there is none.
// (Tab order: the shown tab stops in reading order, rows from the top, left to right.)
HWND NextTabStop(LiveWindow& window, HWND from, bool back);
// The focus to the window's first uncovered control that takes input (edit box, combo box, checked
// radio button), else its shown forward button (SetForwardButtons), else its first uncovered tab stop.
void FocusFirstInput(LiveWindow& window);
// `hidden` was just hidden: if it covered inputs and the focus is on a control of its parent that takes
// none, the focus goes to the first input.
void FollowUncovering(HWND hidden);
// Notes the control that has the focus, if it is one of the window's.
void RememberFocus(LiveWindow& window);
// The focus back to the control noted last if it can still take it, else FocusFirstInput.
void RestoreFocus(LiveWindow& window);

// The kinds' own property entries (KindProperties.cpp).
enum class PropertyType { Int, Bool, Text };
struct RawProperty {
  std::uint32_t low = 0;
  std::uint32_t high = 0;
  const char* text = nullptr;  // for text entries: bytes that stay the unit's
  std::size_t length = 0;
  bool held = true;  // a text read: false when a character of the control's text has no GBK form
};
// Entry k of the unit's kind table (k = PropertyIndex - 8): its type; Int for entries this engine
// does not implement, which read 0 and ignore writes.
PropertyType KindPropertyType(tpl::KindId kind, std::int32_t entry);
RawProperty ReadKindProperty(LiveUnit& unit, std::int32_t entry);
void WriteKindProperty(LiveUnit& unit, std::int32_t entry, const RawProperty& value);

}  // namespace zv::engine
