// The stored window template: its data model and its byte format, in one place. Each part of the
// format is written once as a field list (a function template over an "archive"), which the constexpr
// writer here and the bounds-checked reader in TemplateCodec.cpp both walk, so the encoder and the
// decoder cannot drift apart. Platform-neutral: no Windows header, so it also builds natively.
//
// Layout: all integers little-endian; a "string" is a u32 length and that many GBK bytes; a "block"
// is a u32 length and the bytes; a "c-text" ends in one NUL. The block starts with the window table
// (a block of (WindowId, slot) pairs); then each window: two u32 values and two strings that the
// engine carries but does not use, the unit count N, the byte length of the rest of the window, N unit
// ids, N record offsets (relative to the first record) and N unit records. A unit record is a u32 body
// length and the body; the body ends with the kind data, whose first u32 is its version.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

namespace zv::tpl {

using Bytes = std::vector<std::uint8_t>;

enum class KindId : std::uint32_t {
  Window = 0x00010001,
  EditBox = 0x00010005,
  DrawPanel = 0x00010008,
  Label = 0x0001000A,
  Button = 0x0001000B,
  RadioBox = 0x0001000D,
  ComboBox = 0x0001000E,
  TransLabel = 0x00020005,
};

// UnitFlags.
inline constexpr std::uint32_t kUnitVisible = 1u << 0;
inline constexpr std::uint32_t kUnitDisabled = 1u << 1;
inline constexpr std::uint32_t kUnitTabStop = 1u << 2;

// A stored handler offset that means "no handler".
inline constexpr std::uint32_t kNoHandler = 0xFFFFFFFFu;
// The program's handler table (the code base that its header records) is an array of routines; a
// stored handler offset is the byte offset of an entry in it.
using HandlerRoutine = void (*)();
constexpr std::uint32_t HandlerOffset(std::uint32_t slot) {
  return slot * static_cast<std::uint32_t>(sizeof(HandlerRoutine));
}
// A colour that means the system button-face colour.
inline constexpr std::uint32_t kDefaultColour = 0xFF000000u;
// Size of a stored LOGFONTA.
inline constexpr std::uint32_t kLogFontSize = 60;
inline constexpr std::size_t kFaceNameSize = 32;

// A font as stored: absent (the stock GUI font) or the fields of a 60-byte LOGFONTA.
struct StoredFont {
  bool present = false;
  std::int32_t height = 0;
  std::int32_t width = 0;
  std::int32_t escapement = 0;
  std::int32_t orientation = 0;
  std::int32_t weight = 0;
  std::uint8_t italic = 0;
  std::uint8_t underline = 0;
  std::uint8_t strikeOut = 0;
  std::uint8_t charSet = 0;
  std::uint8_t outPrecision = 0;
  std::uint8_t clipPrecision = 0;
  std::uint8_t quality = 0;
  std::uint8_t pitchAndFamily = 0;
  std::string faceName;  // at most 31 bytes; the stored field is 32 bytes, NUL-padded
  constexpr bool operator==(const StoredFont&) const = default;
};

struct EventBinding {
  std::uint32_t eventIndex = 0;
  std::uint32_t handlerOffset = kNoHandler;  // from the code base; kNoHandler = none
  constexpr bool operator==(const EventBinding&) const = default;
};

// One unit (the window or a control) as stored. The id is not part of the record: it comes from the
// window's id list, in the same order.
struct UnitRecord {
  std::uint32_t id = 0;
  KindId kind = KindId::Window;
  std::string name;
  std::string comment;
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint32_t parent = 0;  // unit id of the parent; 0 = the window itself
  std::vector<std::uint32_t> children;
  Bytes cursor;
  std::string tag;
  std::uint32_t flags = 0;  // UnitFlags
  std::vector<EventBinding> events;
  Bytes kindData;  // version and the kind's fields, decoded when the unit is created
  constexpr bool operator==(const UnitRecord&) const = default;
};

struct WindowTemplate {
  std::uint32_t windowId = 0;
  std::uint32_t slot = 0;  // overwritten at run time; the stored value means nothing
  std::uint32_t leadValues[2] = {0, 0};
  std::string leadText1;  // (a std::string array would not copy in constant evaluation)
  std::string leadText2;
  std::vector<UnitRecord> units;  // the window's own unit first, then the controls in record order
  constexpr bool operator==(const WindowTemplate&) const = default;
};

struct TemplateBlock {
  std::vector<WindowTemplate> windows;
  constexpr bool operator==(const TemplateBlock&) const = default;
};

// ---- Kind data, one struct per kind. Field names follow the stored order. ----

struct WindowData {
  static constexpr KindId kKind = KindId::Window;
  static constexpr std::uint32_t kHighestVersion = 6;
  std::uint32_t version = kHighestVersion;
  std::int32_t border = 0;  // 0 none; 1..6 framed (1, 3, 5 sizable; 3, 4 tool; 5, 6 client edge)
  std::int32_t pick1 = 1;
  std::uint32_t backColour = kDefaultColour;
  std::int32_t maxButton = 0;
  std::int32_t minButton = 0;
  std::int32_t systemMenu = 1;
  std::int32_t startPosition = 1;  // 0 stored, 1 centred on screen, 2 minimised, 3 maximised
  std::int32_t movable = 1;
  std::int32_t pick2 = 0;
  std::int32_t flags1[3] = {0, 1, 0};
  std::int32_t int1 = 0;
  std::int32_t flag2 = 1;
  std::int32_t dragToMove = 1;
  std::int32_t pick3 = 0;
  std::int32_t alwaysOnTop = 0;
  std::int32_t flag3 = 0;
  std::string text6;  // version >= 6
  Bytes backgroundPicture;
  Bytes icon;
  Bytes backgroundSound;
  std::string title;
  std::string fileName;
  constexpr bool operator==(const WindowData&) const = default;
};

struct EditBoxData {
  static constexpr KindId kKind = KindId::EditBox;
  static constexpr std::uint32_t kHighestVersion = 2;
  std::uint32_t version = kHighestVersion;
  std::int32_t border = 0;  // border codes: 0 none, 1 sunken, 2 raised, 3 shallow, 4 1+2, 5 line
  std::uint32_t textColour = 0;
  std::uint32_t backColour = kDefaultColour;
  std::int32_t hideSelection = 1;
  std::int32_t maxLength = 0;
  std::int32_t multiLine = 0;
  std::int32_t scrollBars = 0;  // 0 none, 1 horizontal, 2 vertical, 3 both
  std::int32_t alignment = 0;   // 0 left, 1 centre, 2 right
  std::int32_t inputMode = 0;   // 0 normal, 1 read-only, 2 password
  std::uint16_t passwordChar = '*';
  std::int32_t caseConversion = 0;  // 0 none, 1 lower, 2 upper
  std::int32_t spinnerMode = 0;
  std::int32_t spinnerMin = 0;
  std::int32_t spinnerMax = 100;
  std::int32_t selectionStart = 0;
  std::int32_t selectionLength = 0;
  StoredFont font;
  std::string content;
  std::string extraText1;  // version >= 2
  std::string extraText2;
  constexpr bool operator==(const EditBoxData&) const = default;
};

struct LabelData {
  static constexpr KindId kKind = KindId::Label;
  static constexpr std::uint32_t kHighestVersion = 2;
  std::uint32_t version = kHighestVersion;
  std::int32_t effect = 0;
  std::int32_t depth = 8;
  std::int32_t border = 0;
  std::uint32_t effectColours[3] = {0x00808080, 0x00FFFFFF, 0x00808080};
  std::uint32_t textColour = 0;
  std::uint32_t backColour = kDefaultColour;
  std::int32_t picks[2] = {1, 0};
  std::uint32_t moreColours[3] = {0x00808080, 0x00FFFFFF, 0x00808080};
  std::int32_t hAlign = 0;  // 0 left, 1 centre, 2 right
  std::int32_t vAlign = 0;  // 0 top, 1 centre, 2 bottom
  std::int32_t wordWrap = 0;
  StoredFont font;
  Bytes picture;
  std::string caption;
  std::string extraText1;  // version >= 2
  std::string extraText2;
  constexpr bool operator==(const LabelData&) const = default;
};

struct TransLabelData {
  static constexpr KindId kKind = KindId::TransLabel;
  static constexpr std::uint32_t kHighestVersion = 1;
  std::uint32_t version = kHighestVersion;
  std::int32_t effect = 0;
  std::uint32_t textColour = 0;
  std::int32_t hAlign = 1;
  std::int32_t vAlign = 1;
  std::int32_t wordWrap = 0;
  StoredFont font;
  std::string caption;
  constexpr bool operator==(const TransLabelData&) const = default;
};

struct ButtonData {
  static constexpr KindId kKind = KindId::Button;
  static constexpr std::uint32_t kHighestVersion = 1;
  std::uint32_t version = kHighestVersion;
  std::int32_t type = 0;  // 0 push button, 1 default push button
  std::int32_t hAlign = 1;
  std::int32_t vAlign = 1;
  Bytes picture;
  StoredFont font;
  std::string caption;
  constexpr bool operator==(const ButtonData&) const = default;
};

struct RadioBoxData {
  static constexpr KindId kKind = KindId::RadioBox;
  static constexpr std::uint32_t kHighestVersion = 1;
  std::uint32_t version = kHighestVersion;
  std::int32_t pushLike = 0;
  std::int32_t flat = 1;
  std::int32_t textOnLeft = 0;
  std::int32_t hAlign = 0;
  std::int32_t vAlign = 1;
  std::uint32_t textColour = 0;
  std::uint32_t backColour = kDefaultColour;
  std::int32_t checked = 0;
  Bytes picture;
  StoredFont font;
  std::string caption;
  constexpr bool operator==(const RadioBoxData&) const = default;
};

struct ComboBoxData {
  static constexpr KindId kKind = KindId::ComboBox;
  static constexpr std::uint32_t kHighestVersion = 3;
  std::uint32_t version = kHighestVersion;
  std::int32_t type = 2;  // 0 simple, 1 drop-down, 2 drop-down list
  std::int32_t maxLength = 0;
  std::int32_t editSelectionStart = 0;
  std::int32_t editSelectionLength = 0;
  std::int32_t sorted = 0;
  std::int32_t extraItemHeight = 0;
  std::uint32_t textColour = 0;
  std::uint32_t backColour = 0x00FFFFFF;
  std::int32_t currentSelection = -1;
  StoredFont font;
  Bytes itemValues;  // u32 per item, or empty
  std::string content;
  std::vector<std::string> items;
  std::string extraText1;  // version >= 2
  std::string extraText2;
  std::uint32_t extraValue = 0;  // version >= 3
  constexpr bool operator==(const ComboBoxData&) const = default;
};

struct DrawPanelData {
  static constexpr KindId kKind = KindId::DrawPanel;
  static constexpr std::uint32_t kHighestVersion = 1;
  std::uint32_t version = kHighestVersion;
  std::int32_t border = 0;
  std::uint32_t backColour = kDefaultColour;
  std::uint32_t drawingDefaults[11] = {1, 0, 0, 1, 12, 0, 0, 1, 0x00FFFFFF, 0, 0xFF000000};
  StoredFont font;
  Bytes picture;
  constexpr bool operator==(const DrawPanelData&) const = default;
};

// ---- Field lists. `a` is a reader or a writer; every call returns false when the reader runs out. ----

template <class A, class D>
constexpr bool KindFields(A& a, D& d) {
  using T = std::remove_const_t<D>;
  if constexpr (std::is_same_v<T, WindowData>) {
    return a.I32(d.border) && a.I32(d.pick1) && a.U32(d.backColour) && a.I32(d.maxButton) &&
           a.I32(d.minButton) && a.I32(d.systemMenu) && a.I32(d.startPosition) && a.I32(d.movable) &&
           a.I32(d.pick2) && a.I32(d.flags1[0]) && a.I32(d.flags1[1]) && a.I32(d.flags1[2]) &&
           a.I32(d.int1) && a.I32(d.flag2) && a.I32(d.dragToMove) && a.I32(d.pick3) && a.I32(d.alwaysOnTop) &&
           a.I32(d.flag3) && (d.version < 6 || a.String(d.text6)) && a.Block(d.backgroundPicture) &&
           a.Block(d.icon) && a.Block(d.backgroundSound) && a.String(d.title) && a.String(d.fileName);
  } else if constexpr (std::is_same_v<T, EditBoxData>) {
    return a.I32(d.border) && a.U32(d.textColour) && a.U32(d.backColour) && a.I32(d.hideSelection) &&
           a.I32(d.maxLength) && a.I32(d.multiLine) && a.I32(d.scrollBars) && a.I32(d.alignment) &&
           a.I32(d.inputMode) && a.U16(d.passwordChar) && a.I32(d.caseConversion) && a.I32(d.spinnerMode) &&
           a.I32(d.spinnerMin) && a.I32(d.spinnerMax) && a.I32(d.selectionStart) &&
           a.I32(d.selectionLength) && a.Font(d.font) && a.String(d.content) &&
           (d.version < 2 || (a.String(d.extraText1) && a.String(d.extraText2)));
  } else if constexpr (std::is_same_v<T, LabelData>) {
    return a.I32(d.effect) && a.I32(d.depth) && a.I32(d.border) && a.U32(d.effectColours[0]) &&
           a.U32(d.effectColours[1]) && a.U32(d.effectColours[2]) && a.U32(d.textColour) &&
           a.U32(d.backColour) && a.I32(d.picks[0]) && a.I32(d.picks[1]) && a.U32(d.moreColours[0]) &&
           a.U32(d.moreColours[1]) && a.U32(d.moreColours[2]) && a.I32(d.hAlign) && a.I32(d.vAlign) &&
           a.I32(d.wordWrap) && a.Font(d.font) && a.Block(d.picture) && a.String(d.caption) &&
           (d.version < 2 || (a.String(d.extraText1) && a.String(d.extraText2)));
  } else if constexpr (std::is_same_v<T, TransLabelData>) {
    return a.I32(d.effect) && a.U32(d.textColour) && a.I32(d.hAlign) && a.I32(d.vAlign) &&
           a.I32(d.wordWrap) && a.Font(d.font) && a.String(d.caption);
  } else if constexpr (std::is_same_v<T, ButtonData>) {
    return a.I32(d.type) && a.I32(d.hAlign) && a.I32(d.vAlign) && a.Block(d.picture) && a.Font(d.font) &&
           a.String(d.caption);
  } else if constexpr (std::is_same_v<T, RadioBoxData>) {
    return a.I32(d.pushLike) && a.I32(d.flat) && a.I32(d.textOnLeft) && a.I32(d.hAlign) && a.I32(d.vAlign) &&
           a.U32(d.textColour) && a.U32(d.backColour) && a.I32(d.checked) && a.Block(d.picture) &&
           a.Font(d.font) && a.String(d.caption);
  } else if constexpr (std::is_same_v<T, ComboBoxData>) {
    return a.I32(d.type) && a.I32(d.maxLength) && a.I32(d.editSelectionStart) &&
           a.I32(d.editSelectionLength) && a.I32(d.sorted) && a.I32(d.extraItemHeight) &&
           a.U32(d.textColour) && a.U32(d.backColour) && a.I32(d.currentSelection) && a.Font(d.font) &&
           a.Block(d.itemValues) && a.String(d.content) && a.Items(d.items) &&
           (d.version < 2 || (a.String(d.extraText1) && a.String(d.extraText2))) &&
           (d.version < 3 || a.U32(d.extraValue));
  } else {
    static_assert(std::is_same_v<T, DrawPanelData>, "a kind without a field list");
    bool ok = a.I32(d.border) && a.U32(d.backColour);
    for (auto& value : d.drawingDefaults) ok = ok && a.U32(value);
    return ok && a.Font(d.font) && a.Block(d.picture);
  }
}

// The body of a unit record up to its kind data, which is the rest of the body.
template <class A, class U>
constexpr bool UnitBodyFields(A& a, U& u) {
  std::uint32_t nativeSlot = 0, pointerSlot = 0, reserved = 0;
  return a.Kind(u.kind) && a.Zeros(20) && a.CText(u.name) && a.CText(u.comment) && a.U32(nativeSlot) &&
         a.I32(u.left) && a.I32(u.top) && a.I32(u.width) && a.I32(u.height) && a.U32(pointerSlot) &&
         a.U32(u.parent) && a.Ids(u.children) && a.Block(u.cursor) && a.CText(u.tag) && a.U32(reserved) &&
         a.U32(u.flags) && a.U32(reserved) && a.Events(u.events) && a.Zeros(20);
}

// ---- The constexpr writer. ----

class Writer {
 public:
  constexpr bool U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return true;
  }
  constexpr bool I32(std::int32_t v) { return U32(static_cast<std::uint32_t>(v)); }
  constexpr bool U16(std::uint16_t v) {
    out_.push_back(static_cast<std::uint8_t>(v));
    out_.push_back(static_cast<std::uint8_t>(v >> 8));
    return true;
  }
  constexpr bool U8(std::uint8_t v) {
    out_.push_back(v);
    return true;
  }
  constexpr bool Kind(KindId k) { return U32(static_cast<std::uint32_t>(k)); }
  constexpr bool Zeros(std::size_t n) {
    out_.insert(out_.end(), n, std::uint8_t{0});
    return true;
  }
  constexpr bool Raw(const std::string& s) {
    for (char c : s) out_.push_back(static_cast<std::uint8_t>(c));
    return true;
  }
  constexpr bool Raw(const Bytes& b) {
    out_.insert(out_.end(), b.begin(), b.end());
    return true;
  }
  constexpr bool CText(const std::string& s) { return Raw(s) && U8(0); }
  constexpr bool String(const std::string& s) { return U32(static_cast<std::uint32_t>(s.size())) && Raw(s); }
  constexpr bool Block(const Bytes& b) { return U32(static_cast<std::uint32_t>(b.size())) && Raw(b); }
  constexpr bool Ids(const std::vector<std::uint32_t>& ids) {
    U32(static_cast<std::uint32_t>(ids.size()));
    for (std::uint32_t id : ids) U32(id);
    return true;
  }
  constexpr bool Events(const std::vector<EventBinding>& events) {
    U32(static_cast<std::uint32_t>(events.size()));
    for (const EventBinding& e : events) U32(e.eventIndex) && U32(e.handlerOffset);
    return true;
  }
  constexpr bool Items(const std::vector<std::string>& items) {
    if (items.size() < 0xFFFF) {
      U16(static_cast<std::uint16_t>(items.size()));
    } else {
      U16(0xFFFF) && U32(static_cast<std::uint32_t>(items.size()));
    }
    for (const std::string& item : items) String(item);
    return true;
  }
  constexpr bool Font(const StoredFont& f) {
    if (!f.present) return U32(0);
    U32(kLogFontSize) && I32(f.height) && I32(f.width) && I32(f.escapement) && I32(f.orientation) &&
        I32(f.weight) && U8(f.italic) && U8(f.underline) && U8(f.strikeOut) && U8(f.charSet) &&
        U8(f.outPrecision) && U8(f.clipPrecision) && U8(f.quality) && U8(f.pitchAndFamily);
    const std::size_t face = f.faceName.size() < kFaceNameSize ? f.faceName.size() : kFaceNameSize - 1;
    for (std::size_t i = 0; i < face; ++i) U8(static_cast<std::uint8_t>(f.faceName[i]));
    return Zeros(kFaceNameSize - face);
  }

  constexpr std::size_t size() const { return out_.size(); }
  constexpr void PatchU32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out_[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  constexpr Bytes Take() { return static_cast<Bytes&&>(out_); }

 private:
  Bytes out_;
};

// The kind data of one unit: version, then the kind's fields.
template <class D>
constexpr Bytes EncodeKindData(const D& data) {
  Writer w;
  w.U32(data.version);
  KindFields(w, data);
  return w.Take();
}

// One unit record: body length, then the body.
constexpr Bytes EncodeUnitRecord(const UnitRecord& unit) {
  Writer w;
  w.U32(0);
  UnitBodyFields(w, unit);
  w.Raw(unit.kindData);
  w.PatchU32(0, static_cast<std::uint32_t>(w.size() - 4));
  return w.Take();
}

// The whole template block.
constexpr Bytes EncodeTemplateBlock(const TemplateBlock& block) {
  Writer w;
  w.U32(static_cast<std::uint32_t>(8 * block.windows.size()));
  for (const WindowTemplate& window : block.windows) w.U32(window.windowId) && w.U32(window.slot);
  for (const WindowTemplate& window : block.windows) {
    w.U32(window.leadValues[0]) && w.U32(window.leadValues[1]) && w.String(window.leadText1) &&
        w.String(window.leadText2);
    w.U32(static_cast<std::uint32_t>(window.units.size()));
    const std::size_t lengthAt = w.size();
    w.U32(0);
    for (const UnitRecord& unit : window.units) w.U32(unit.id);
    std::uint32_t offset = 0;
    std::vector<Bytes> records;
    for (const UnitRecord& unit : window.units) {
      records.push_back(EncodeUnitRecord(unit));
      w.U32(offset);
      offset += static_cast<std::uint32_t>(records.back().size());
    }
    for (const Bytes& record : records) w.Raw(record);
    w.PatchU32(lengthAt, static_cast<std::uint32_t>(w.size() - lengthAt - 4));
  }
  return w.Take();
}

// A constexpr byte vector as a constant array (the size is computed by a first evaluation).
template <std::size_t N>
constexpr std::array<std::uint8_t, N> ToArray(const Bytes& bytes) {
  std::array<std::uint8_t, N> out{};
  for (std::size_t i = 0; i < N && i < bytes.size(); ++i) out[i] = bytes[i];
  return out;
}

}  // namespace zv::tpl
