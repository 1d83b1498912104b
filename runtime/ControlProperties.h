// The control property and event contract: the only way the program's handlers touch the window.
// A property is addressed by (WindowId, ControlId, PropertyIndex, SubIndex) and travels as 64 bits
// (low half first): ints and bools in the low half, a text as a pointer to a Text (a read gives a new
// Text that the caller owns, null when empty; a write takes null as the empty text). Indices 0-7 are
// the properties that every kind has; 8 and above are the kind's own. Every failure is a fatal runtime
// error. Events arrive as calls of the handlers that the window template binds; handlers never see
// window messages.
#pragma once

#include <cstdint>

#include "runtime/Text.h"

namespace zv {

using WindowId = std::uint32_t;
using ControlId = std::uint32_t;
using PropertyIndex = std::int32_t;
using SubIndex = std::int32_t;

inline constexpr SubIndex kWholeValue = -1;

// The properties that every kind has.
inline constexpr PropertyIndex kPropertyLeft = 0;
inline constexpr PropertyIndex kPropertyTop = 1;
inline constexpr PropertyIndex kPropertyWidth = 2;
inline constexpr PropertyIndex kPropertyHeight = 3;
inline constexpr PropertyIndex kPropertyTag = 4;
inline constexpr PropertyIndex kPropertyVisible = 5;
inline constexpr PropertyIndex kPropertyDisable = 6;
inline constexpr PropertyIndex kPropertyMousePointer = 7;
// The kinds' own entries that the wizard uses.
inline constexpr PropertyIndex kEditBoxContent = 8;
inline constexpr PropertyIndex kComboBoxContent = 9;
inline constexpr PropertyIndex kRadioBoxChecked = 18;

struct PropertyValue {
  std::uint32_t low = 0;
  std::uint32_t high = 0;
};

PropertyValue ReadControlProperty(WindowId window, ControlId control, PropertyIndex index,
                                  SubIndex subIndex = kWholeValue);
void WriteControlProperty(WindowId window, ControlId control, PropertyIndex index, SubIndex subIndex,
                          std::uint32_t low, std::uint32_t high);

// Typed forms of the two operations, so that handlers read like the steps they implement.
inline std::int32_t ReadControlInt(WindowId window, ControlId control, PropertyIndex index) {
  return static_cast<std::int32_t>(ReadControlProperty(window, control, index).low);
}
inline Text ReadControlText(WindowId window, ControlId control, PropertyIndex index) {
  const PropertyValue v = ReadControlProperty(window, control, index);
  const auto bits = static_cast<std::uintptr_t>((static_cast<std::uint64_t>(v.high) << 32) | v.low);
  return Text::Adopt(reinterpret_cast<char*>(bits));
}
// A text property, and whether the control's text was whole: `held` says false when a character of it
// has no GBK form (an emoji, a Korean syllable, "€": typed, or pasted), which the text has as "?".
Text ReadControlText(WindowId window, ControlId control, PropertyIndex index, bool* held);
inline void WriteControlInt(WindowId window, ControlId control, PropertyIndex index, std::int32_t value) {
  WriteControlProperty(window, control, index, kWholeValue, static_cast<std::uint32_t>(value), 0);
}
inline void WriteControlText(WindowId window, ControlId control, PropertyIndex index, const char* text) {
  const auto bits = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(text));
  WriteControlProperty(window, control, index, kWholeValue, static_cast<std::uint32_t>(bits),
                       static_cast<std::uint32_t>(bits >> 32));
}

// Before work that keeps the message loop waiting (an installation or uninstallation, which ends with
// a message box): every button and radio button of the loaded window is disabled and drawn so at
// once, so that nothing seems clickable while the work runs. The keys typed meanwhile are dropped
// before the next message box (ShowMessage). Nothing for a window that is not loaded.
void HoldInputWhileWorking(WindowId window);

// A routine that an event is bound to. The click handlers take no arguments and return nothing.
using EventHandler = void (*)();

// The window and unit whose event is being handled; both 0 outside a handler call.
struct EventSource {
  WindowId window = 0;
  ControlId unit = 0;
};
EventSource CurrentEventSource();

}  // namespace zv
