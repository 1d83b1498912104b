// The kinds' own property entries (PropertyIndex 8 and above, entry k = index - 8) that the wizard
// uses: an edit box's content (entry 0), a combo box's content (entry 1) and a radio button's checked
// state (entry 10). Each handler updates the native control and the kind's stored data together.
// Entries not implemented here read 0 and ignore writes.
#include "engine/LiveWindow.h"
#include "runtime/WideText.h"

namespace zv::engine {
namespace {

constexpr std::int32_t kEditContent = 0;
constexpr std::int32_t kComboContent = 1;
constexpr std::int32_t kRadioChecked = 10;

// The control's window text in GBK, kept in the unit's scratch buffer; `held` false when a character
// of it has none (it reads as "?").
RawProperty WindowText(LiveUnit& unit) {
  const int length = GetWindowTextLengthW(unit.hwnd);
  WideText wide = WideText::Allocate(static_cast<std::size_t>(length > 0 ? length : 0));
  const int got = GetWindowTextW(unit.hwnd, wide.get(), length + 1);
  RawProperty raw;
  const Text text = ToGbk(wide.c_str(), static_cast<std::size_t>(got > 0 ? got : 0), &raw.held);
  unit.scratch.assign(text.c_str(), text.length());
  raw.text = unit.scratch.c_str();
  raw.length = unit.scratch.size();
  return raw;
}

}  // namespace

PropertyType KindPropertyType(tpl::KindId kind, std::int32_t entry) {
  if (kind == tpl::KindId::EditBox && entry == kEditContent) return PropertyType::Text;
  if (kind == tpl::KindId::ComboBox && entry == kComboContent) return PropertyType::Text;
  if (kind == tpl::KindId::RadioBox && entry == kRadioChecked) return PropertyType::Bool;
  return PropertyType::Int;
}

RawProperty ReadKindProperty(LiveUnit& unit, std::int32_t entry) {
  if (unit.kind() == tpl::KindId::EditBox && entry == kEditContent) return WindowText(unit);
  if (unit.kind() == tpl::KindId::ComboBox && entry == kComboContent) return WindowText(unit);
  RawProperty raw;
  if (unit.kind() == tpl::KindId::RadioBox && entry == kRadioChecked) {
    raw.low = static_cast<std::uint32_t>(SendMessageW(unit.hwnd, BM_GETCHECK, 0, 0));
  }
  return raw;
}

void WriteKindProperty(LiveUnit& unit, std::int32_t entry, const RawProperty& value) {
  if (auto* edit = std::get_if<tpl::EditBoxData>(&unit.data); edit != nullptr && entry == kEditContent) {
    edit->content.assign(value.text, value.length);
    SetWindowTextW(unit.hwnd, ToWide(edit->content.data(), edit->content.size()).c_str());
    // A single-line edit reports the change itself; a multi-line one does not for WM_SETTEXT.
    if (edit->multiLine) {
      const int id = GetDlgCtrlID(unit.hwnd);
      SendMessageW(GetParent(unit.hwnd), WM_COMMAND, MAKEWPARAM(id, EN_CHANGE),
                   reinterpret_cast<LPARAM>(unit.hwnd));
    }
  } else if (auto* combo = std::get_if<tpl::ComboBoxData>(&unit.data);
             combo != nullptr && entry == kComboContent) {
    combo->content.assign(value.text, value.length);
    SetWindowTextW(unit.hwnd, ToWide(combo->content.data(), combo->content.size()).c_str());
  } else if (auto* radio = std::get_if<tpl::RadioBoxData>(&unit.data);
             radio != nullptr && entry == kRadioChecked) {
    radio->checked = value.low == 1 ? 1 : 0;
    SendMessageW(unit.hwnd, BM_SETCHECK, radio->checked ? BST_CHECKED : BST_UNCHECKED, 0);
  }
}

}  // namespace zv::engine
