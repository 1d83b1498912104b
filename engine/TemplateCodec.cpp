// The bounds-checked reader: walks the same field lists as the writer. A count is checked against the
// bytes left before anything is reserved for it, so a hostile count cannot make the reader allocate.
#include "engine/TemplateCodec.h"

#include <cstring>

namespace zv::tpl {
namespace {

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}

  std::size_t left() const { return static_cast<std::size_t>(end_ - p_); }
  const std::uint8_t* position() const { return p_; }

  bool U32(std::uint32_t& v) {
    if (left() < 4) return false;
    v = static_cast<std::uint32_t>(p_[0]) | static_cast<std::uint32_t>(p_[1]) << 8 |
        static_cast<std::uint32_t>(p_[2]) << 16 | static_cast<std::uint32_t>(p_[3]) << 24;
    p_ += 4;
    return true;
  }
  bool I32(std::int32_t& v) {
    std::uint32_t u = 0;
    if (!U32(u)) return false;
    v = static_cast<std::int32_t>(u);
    return true;
  }
  bool U16(std::uint16_t& v) {
    if (left() < 2) return false;
    v = static_cast<std::uint16_t>(p_[0] | p_[1] << 8);
    p_ += 2;
    return true;
  }
  bool U8(std::uint8_t& v) {
    if (left() < 1) return false;
    v = *p_++;
    return true;
  }
  bool Kind(KindId& k) {
    std::uint32_t v = 0;
    if (!U32(v)) return false;
    k = static_cast<KindId>(v);
    return true;
  }
  bool Zeros(std::size_t n) { return Skip(n); }
  bool Skip(std::size_t n) {
    if (left() < n) return false;
    p_ += n;
    return true;
  }
  bool CText(std::string& s) {
    const void* nul = std::memchr(p_, 0, left());
    if (nul == nullptr) return false;
    const auto* stop = static_cast<const std::uint8_t*>(nul);
    s.assign(reinterpret_cast<const char*>(p_), static_cast<std::size_t>(stop - p_));
    p_ = stop + 1;
    return true;
  }
  bool String(std::string& s) {
    std::uint32_t n = 0;
    if (!U32(n) || left() < n) return false;
    s.assign(reinterpret_cast<const char*>(p_), n);
    p_ += n;
    return true;
  }
  bool Block(Bytes& b) {
    std::uint32_t n = 0;
    if (!U32(n) || left() < n) return false;
    b.assign(p_, p_ + n);
    p_ += n;
    return true;
  }
  bool Ids(std::vector<std::uint32_t>& ids) {
    std::uint32_t n = 0;
    if (!U32(n) || left() / 4 < n) return false;
    ids.resize(n);
    for (std::uint32_t& id : ids) U32(id);
    return true;
  }
  bool Events(std::vector<EventBinding>& events) {
    std::uint32_t n = 0;
    if (!U32(n) || left() / 8 < n) return false;
    events.resize(n);
    for (EventBinding& e : events) U32(e.eventIndex) && U32(e.handlerOffset);
    return true;
  }
  bool Items(std::vector<std::string>& items) {
    std::uint16_t shortCount = 0;
    if (!U16(shortCount)) return false;
    std::uint32_t n = shortCount;
    if (shortCount == 0xFFFF && !U32(n)) return false;
    if (left() / 4 < n) return false;  // every item needs at least its length
    items.resize(n);
    for (std::string& item : items) {
      if (!String(item)) return false;
    }
    return true;
  }
  bool Font(StoredFont& f) {
    std::uint32_t n = 0;
    if (!U32(n)) return false;
    if (n == 0) {
      f = StoredFont{};
      return true;
    }
    if (n != kLogFontSize || left() < n) return false;
    f.present = true;
    I32(f.height) && I32(f.width) && I32(f.escapement) && I32(f.orientation) && I32(f.weight) &&
        U8(f.italic) && U8(f.underline) && U8(f.strikeOut) && U8(f.charSet) && U8(f.outPrecision) &&
        U8(f.clipPrecision) && U8(f.quality) && U8(f.pitchAndFamily);
    std::size_t face = 0;
    while (face < kFaceNameSize - 1 && p_[face] != 0) ++face;
    f.faceName.assign(reinterpret_cast<const char*>(p_), face);
    p_ += kFaceNameSize;
    return true;
  }

 private:
  const std::uint8_t* p_;
  const std::uint8_t* end_;
};

// One window's section: `section` is exactly the bytes that its length field covers.
bool DecodeWindowSection(const std::uint8_t* section, std::size_t length, std::uint32_t unitCount,
                         WindowTemplate& window) {
  Reader r(section, length);
  if (length / 8 < unitCount) return false;
  window.units.resize(unitCount);
  for (UnitRecord& unit : window.units) r.U32(unit.id);
  std::vector<std::uint32_t> offsets(unitCount);
  for (std::uint32_t& offset : offsets) r.U32(offset);
  const std::uint8_t* records = r.position();
  const std::size_t recordsSize = r.left();
  for (std::uint32_t i = 0; i < unitCount; ++i) {
    if (offsets[i] > recordsSize) return false;
    Reader record(records + offsets[i], recordsSize - offsets[i]);
    std::uint32_t bodyLength = 0;
    if (!record.U32(bodyLength) || record.left() < bodyLength) return false;
    Reader body(record.position(), bodyLength);
    UnitRecord& unit = window.units[i];
    if (!UnitBodyFields(body, unit)) return false;
    unit.kindData.assign(body.position(), body.position() + body.left());
  }
  return true;
}

// Decodes straight into the variant's alternative: no second copy to move and destroy, which for
// eight kinds of strings and vectors is most of the decoder's code.
template <class D>
KindDataStatus DecodeAs(const Bytes& bytes, KindData& out) {
  Reader r(bytes.data(), bytes.size());
  D& data = out.emplace<D>();
  if (!r.U32(data.version)) return KindDataStatus::Malformed;
  if (data.version > D::kHighestVersion) return KindDataStatus::VersionTooHigh;
  if (!KindFields(r, data) || r.left() != 0) return KindDataStatus::Malformed;
  return KindDataStatus::Ok;
}

}  // namespace

bool DecodeTemplateBlock(const std::uint8_t* data, std::size_t size, TemplateBlock& out) {
  out = TemplateBlock{};
  if (data == nullptr) return false;
  Reader r(data, size);
  std::uint32_t tableLength = 0;
  if (!r.U32(tableLength) || tableLength % 8 != 0 || r.left() < tableLength) return false;
  out.windows.resize(tableLength / 8);
  for (WindowTemplate& window : out.windows) r.U32(window.windowId) && r.U32(window.slot);
  for (WindowTemplate& window : out.windows) {
    std::uint32_t unitCount = 0, sectionLength = 0;
    if (!r.U32(window.leadValues[0]) || !r.U32(window.leadValues[1]) || !r.String(window.leadText1) ||
        !r.String(window.leadText2) || !r.U32(unitCount) || !r.U32(sectionLength) ||
        r.left() < sectionLength) {
      return false;
    }
    if (!DecodeWindowSection(r.position(), sectionLength, unitCount, window)) return false;
    r.Skip(sectionLength);
  }
  return true;
}

KindDataStatus DecodeKindData(KindId kind, const Bytes& bytes, KindData& out) {
  switch (kind) {
    case KindId::Window:
      return DecodeAs<WindowData>(bytes, out);
    case KindId::EditBox:
      return DecodeAs<EditBoxData>(bytes, out);
    case KindId::Label:
      return DecodeAs<LabelData>(bytes, out);
    case KindId::TransLabel:
      return DecodeAs<TransLabelData>(bytes, out);
    case KindId::Button:
      return DecodeAs<ButtonData>(bytes, out);
    case KindId::RadioBox:
      return DecodeAs<RadioBoxData>(bytes, out);
    case KindId::ComboBox:
      return DecodeAs<ComboBoxData>(bytes, out);
    case KindId::DrawPanel:
      return DecodeAs<DrawPanelData>(bytes, out);
  }
  return KindDataStatus::UnknownKind;
}

}  // namespace zv::tpl
