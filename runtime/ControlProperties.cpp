// The property operations: find the loaded window and the unit, answer the common properties from the
// native control when it exists (else from the unit's stored values), hand the kinds' own entries to
// the kind's handler, and convert values by type. Built with the window engine, whose live units it
// reads.
#include "runtime/ControlProperties.h"

#include <cstring>

#include "engine/LiveWindow.h"
#include "runtime/Fatal.h"

namespace zv {
namespace {

using engine::LiveUnit;
using engine::LiveWindow;
using engine::PropertyType;
using engine::RawProperty;

constexpr std::int32_t kFirstKindProperty = 8;
constexpr std::int32_t kPositionLimit = 32627;

[[noreturn]] void WindowNotLoaded() {
  ReportRuntimeError(kErrorNone, "未载入欲访问窗口组件所在的窗口");
}
[[noreturn]] void NativeNotCreated() {
  ReportRuntimeError(kErrorNone, "指定窗口尚未载入");
}

LiveUnit& FindUnit(WindowId window, ControlId control, LiveWindow** owner = nullptr) {
  LiveWindow* loaded = engine::FindLoadedWindow(window);
  if (loaded == nullptr) WindowNotLoaded();
  LiveUnit* unit = loaded->FindUnit(control);
  if (unit == nullptr) NativeNotCreated();  // no such unit: nothing was created for it
  // A unit of a page not shown yet is created now; failing that is what failing to create it with the
  // window would have been.
  if (!engine::EnsureCreated(*loaded, *unit)) ReportRuntimeError(kErrorNone, "载入启动窗口失败");
  if (owner != nullptr) *owner = loaded;
  return *unit;
}

PropertyValue FromPointer(const void* p) {
  const auto bits = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(p));
  return PropertyValue{static_cast<std::uint32_t>(bits), static_cast<std::uint32_t>(bits >> 32)};
}

const char* ToText(std::uint32_t low, std::uint32_t high) {
  const auto bits = static_cast<std::uintptr_t>((static_cast<std::uint64_t>(high) << 32) | low);
  const char* text = reinterpret_cast<const char*>(bits);
  return text != nullptr ? text : "";
}

// The control's outer rectangle in its parent's client coordinates (screen coordinates for a window).
RECT PlacedRect(HWND h) {
  RECT r;
  GetWindowRect(h, &r);
  if (GetWindowLongW(h, GWL_STYLE) & WS_CHILD)
    MapWindowPoints(HWND_DESKTOP, GetParent(h), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::int32_t Clamp(std::int32_t v, std::int32_t low, std::int32_t high) {
  return v < low ? low : v > high ? high : v;
}

// The geometry properties are in 96-DPI units at every DPI: the native rectangles are converted from
// and to the window's DPI.
PropertyValue ReadCommon(const LiveWindow& window, LiveUnit& unit, PropertyIndex index) {
  const HWND h = unit.hwnd;
  switch (index) {
    case kPropertyLeft:
    case kPropertyTop:
    case kPropertyWidth:
    case kPropertyHeight: {
      std::int32_t value = index == kPropertyLeft    ? unit.left
                           : index == kPropertyTop   ? unit.top
                           : index == kPropertyWidth ? unit.width
                                                     : unit.height;
      if (h != nullptr) {
        const RECT r = PlacedRect(h);
        value = engine::FromWindowDpi(window, index == kPropertyLeft    ? r.left
                                              : index == kPropertyTop   ? r.top
                                              : index == kPropertyWidth ? r.right - r.left
                                                                        : r.bottom - r.top);
      }
      return PropertyValue{static_cast<std::uint32_t>(value), 0};
    }
    case kPropertyTag:
      return FromPointer(Text::Copy(TextArg(unit.tag.c_str())).release());
    case kPropertyVisible:
      return PropertyValue{(h != nullptr ? IsWindowVisible(h) != FALSE : unit.visible) ? 1u : 0u, 0};
    case kPropertyDisable:
      return PropertyValue{(h != nullptr ? IsWindowEnabled(h) == FALSE : unit.disabled) ? 1u : 0u, 0};
    case kPropertyMousePointer:
      if (unit.cursor.empty()) return PropertyValue{};
      return FromPointer(
          OwnedByteArray::Copy(unit.cursor.data(), static_cast<std::int32_t>(unit.cursor.size())).release());
    default:
      return PropertyValue{};
  }
}

void WriteCommon(const LiveWindow& window, LiveUnit& unit, PropertyIndex index, std::uint32_t low,
                 std::uint32_t high) {
  const HWND h = unit.hwnd;
  const auto value = static_cast<std::int32_t>(low);
  switch (index) {
    case kPropertyLeft:
    case kPropertyTop: {
      const std::int32_t v = Clamp(value, -kPositionLimit, kPositionLimit);
      (index == kPropertyLeft ? unit.left : unit.top) = v;
      if (h != nullptr) {
        const RECT r = PlacedRect(h);
        const int scaled = engine::ToWindowDpi(window, v);
        SetWindowPos(h, nullptr, index == kPropertyLeft ? scaled : r.left, index == kPropertyTop ? scaled : r.top,
                     0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      }
      break;
    }
    case kPropertyWidth:
    case kPropertyHeight: {
      const std::int32_t v = Clamp(value, 0, kPositionLimit);
      (index == kPropertyWidth ? unit.width : unit.height) = v;
      if (h != nullptr) {
        const RECT r = PlacedRect(h);
        const int scaled = engine::ToWindowDpi(window, v);
        SetWindowPos(h, nullptr, 0, 0, index == kPropertyWidth ? scaled : r.right - r.left,
                     index == kPropertyHeight ? scaled : r.bottom - r.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
      }
      break;
    }
    case kPropertyTag:
      unit.tag = ToText(low, high);
      break;
    case kPropertyVisible:
      unit.visible = low != 0;
      if (h != nullptr) ShowWindow(h, unit.visible ? SW_SHOW : SW_HIDE);
      break;
    case kPropertyDisable:
      unit.disabled = low != 0;
      if (h != nullptr) EnableWindow(h, unit.disabled ? FALSE : TRUE);
      break;
    case kPropertyMousePointer: {
      const auto bits = static_cast<std::uintptr_t>((static_cast<std::uint64_t>(high) << 32) | low);
      const auto* bytes = reinterpret_cast<const ByteArray*>(bits);
      if (bytes != nullptr && bytes->length > 0) {
        unit.cursor.assign(bytes->bytes(), bytes->bytes() + bytes->length);
      } else {
        unit.cursor.clear();
      }
      unit.cursorHandle = engine::CursorFromData(unit.cursor);
      break;
    }
    default:
      break;
  }
}

PropertyValue ReadProperty(WindowId window, ControlId control, PropertyIndex index, bool* held) {
  if (held != nullptr) *held = true;
  LiveWindow* loaded = nullptr;
  LiveUnit& unit = FindUnit(window, control, &loaded);
  if (index < kFirstKindProperty) return ReadCommon(*loaded, unit, index);
  if (unit.hwnd == nullptr) NativeNotCreated();
  const std::int32_t entry = index - kFirstKindProperty;
  const RawProperty raw = engine::ReadKindProperty(unit, entry);
  switch (engine::KindPropertyType(unit.kind(), entry)) {
    case PropertyType::Bool:
      return PropertyValue{raw.low == 1 ? 1u : 0u, 0};
    case PropertyType::Text:
      if (held != nullptr) *held = raw.held;
      return FromPointer(Text::Copy(raw.text, raw.length).release());
    case PropertyType::Int:
      break;
  }
  return PropertyValue{raw.low, raw.high};
}

}  // namespace

PropertyValue ReadControlProperty(WindowId window, ControlId control, PropertyIndex index, SubIndex) {
  return ReadProperty(window, control, index, nullptr);
}

Text ReadControlText(WindowId window, ControlId control, PropertyIndex index, bool* held) {
  const PropertyValue v = ReadProperty(window, control, index, held);
  const auto bits = static_cast<std::uintptr_t>((static_cast<std::uint64_t>(v.high) << 32) | v.low);
  return Text::Adopt(reinterpret_cast<char*>(bits));
}

void WriteControlProperty(WindowId window, ControlId control, PropertyIndex index, SubIndex,
                          std::uint32_t low, std::uint32_t high) {
  LiveWindow* loaded = nullptr;
  LiveUnit& unit = FindUnit(window, control, &loaded);
  if (index < kFirstKindProperty) {
    WriteCommon(*loaded, unit, index, low, high);
    return;
  }
  if (unit.hwnd == nullptr) NativeNotCreated();
  const std::int32_t entry = index - kFirstKindProperty;
  RawProperty raw;
  switch (engine::KindPropertyType(unit.kind(), entry)) {
    case PropertyType::Bool:
      raw.low = low != 0 ? 1u : 0u;
      break;
    case PropertyType::Text:
      raw.text = ToText(low, high);
      raw.length = std::strlen(raw.text);
      break;
    case PropertyType::Int:
      raw.low = low;
      raw.high = high;
      break;
  }
  engine::WriteKindProperty(unit, entry, raw);
}

void HoldInputWhileWorking(WindowId windowId) {
  LiveWindow* window = engine::FindLoadedWindow(windowId);
  if (window == nullptr) return;
  for (LiveUnit& unit : window->units) {
    if (unit.kind() != tpl::KindId::Button && unit.kind() != tpl::KindId::RadioBox) continue;
    unit.disabled = true;
    if (unit.hwnd != nullptr) EnableWindow(unit.hwnd, FALSE);
  }
  // The work keeps the loop from painting: the disabled buttons are drawn now.
  RedrawWindow(window->hwnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

}  // namespace zv
