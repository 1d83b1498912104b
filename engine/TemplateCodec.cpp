// The bounds-checked reader: walks the same field lists as the writer. A count is checked against the
// bytes left before anything is reserved for it, so a hostile count cannot make the reader allocate.
#include "engine/TemplateCodec.h"

#include <cstring>

namespace zv::tpl {
namespace {

// The reader's state and its field readers. Each field reader is a function of its own, called
// once per field of every field list: as free functions local to this file they take their
// arguments in registers, where member functions would take `this` the Windows way (on 32-bit
// Windows, in ecx and with the stack popped by the callee), some 10 bytes more at each of the 150
// call sites.
//
// A failed read leaves the cursor failed and empty, so every later read fails too: a field list runs
// to its end without a test after each field, and its caller asks once whether all of it was there.
struct Cursor {
  const std::uint8_t* p;
  const std::uint8_t* end;
  bool failed = false;
  std::size_t left() const { return static_cast<std::size_t>(end - p); }
};

bool Fail(Cursor& c) {
  c.end = c.p;
  c.failed = true;
  return false;
}

#define ZV_FIELD_READER [[gnu::noinline]] bool

ZV_FIELD_READER ReadU32(Cursor& c, std::uint32_t& v) {
  if (c.left() < 4) return Fail(c);
  v = static_cast<std::uint32_t>(c.p[0]) | static_cast<std::uint32_t>(c.p[1]) << 8 |
      static_cast<std::uint32_t>(c.p[2]) << 16 | static_cast<std::uint32_t>(c.p[3]) << 24;
  c.p += 4;
  return true;
}
ZV_FIELD_READER ReadU16(Cursor& c, std::uint16_t& v) {
  if (c.left() < 2) return Fail(c);
  v = static_cast<std::uint16_t>(c.p[0] | c.p[1] << 8);
  c.p += 2;
  return true;
}
ZV_FIELD_READER Skip(Cursor& c, std::size_t n) {
  if (c.left() < n) return Fail(c);
  c.p += n;
  return true;
}
ZV_FIELD_READER ReadCText(Cursor& c, std::string& s) {
  const void* nul = std::memchr(c.p, 0, c.left());
  if (nul == nullptr) return Fail(c);
  const auto* stop = static_cast<const std::uint8_t*>(nul);
  s.assign(reinterpret_cast<const char*>(c.p), static_cast<std::size_t>(stop - c.p));
  c.p = stop + 1;
  return true;
}
ZV_FIELD_READER ReadString(Cursor& c, std::string& s) {
  std::uint32_t n = 0;
  if (!ReadU32(c, n) || c.left() < n) return Fail(c);
  s.assign(reinterpret_cast<const char*>(c.p), n);
  c.p += n;
  return true;
}
ZV_FIELD_READER ReadBlock(Cursor& c, Bytes& b) {
  std::uint32_t n = 0;
  if (!ReadU32(c, n) || c.left() < n) return Fail(c);
  b.assign(c.p, c.p + n);
  c.p += n;
  return true;
}
ZV_FIELD_READER ReadIds(Cursor& c, std::vector<std::uint32_t>& ids) {
  std::uint32_t n = 0;
  if (!ReadU32(c, n) || c.left() / 4 < n) return Fail(c);
  ids = std::vector<std::uint32_t>(n);
  for (std::uint32_t& id : ids) ReadU32(c, id);
  return true;
}
ZV_FIELD_READER ReadEvents(Cursor& c, std::vector<EventBinding>& events) {
  std::uint32_t n = 0;
  if (!ReadU32(c, n) || c.left() / 8 < n) return Fail(c);
  events = std::vector<EventBinding>(n);
  for (EventBinding& e : events) ReadU32(c, e.eventIndex) && ReadU32(c, e.handlerOffset);
  return true;
}
ZV_FIELD_READER ReadItems(Cursor& c, std::vector<std::string>& items) {
  std::uint16_t shortCount = 0;
  if (!ReadU16(c, shortCount)) return Fail(c);
  std::uint32_t n = shortCount;
  if (shortCount == 0xFFFF && !ReadU32(c, n)) return Fail(c);
  if (c.left() / 4 < n) return Fail(c);  // every item needs at least its length
  items = std::vector<std::string>(n);
  for (std::string& item : items) {
    if (!ReadString(c, item)) return Fail(c);
  }
  return true;
}
// Every kind's data is decoded into a fresh object, so an absent font (length 0) is already what
// `f` holds.
ZV_FIELD_READER ReadFont(Cursor& c, StoredFont& f) {
  std::uint32_t n = 0;
  if (!ReadU32(c, n)) return false;
  if (n == 0) return true;
  if (n != kLogFontSize || c.left() < n) return Fail(c);
  // The 60 bytes are there: five 32-bit fields, eight bytes, the face name.
  f.present = true;
  ReadU32(c, reinterpret_cast<std::uint32_t&>(f.height));
  ReadU32(c, reinterpret_cast<std::uint32_t&>(f.width));
  ReadU32(c, reinterpret_cast<std::uint32_t&>(f.escapement));
  ReadU32(c, reinterpret_cast<std::uint32_t&>(f.orientation));
  ReadU32(c, reinterpret_cast<std::uint32_t&>(f.weight));
  const std::uint8_t* b = c.p;
  f.italic = b[0];
  f.underline = b[1];
  f.strikeOut = b[2];
  f.charSet = b[3];
  f.outPrecision = b[4];
  f.clipPrecision = b[5];
  f.quality = b[6];
  f.pitchAndFamily = b[7];
  b += 8;
  std::size_t face = 0;
  while (face < kFaceNameSize - 1 && b[face] != 0) ++face;
  f.faceName.assign(reinterpret_cast<const char*>(b), face);
  c.p = b + kFaceNameSize;
  return true;
}

#undef ZV_FIELD_READER

// The "archive" that the field lists walk when they decode. Its reads always answer true, so the
// field lists' && chains cost nothing; ok() says afterwards whether every field was there.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : c_{data, data + size} {}

  bool ok() const { return !c_.failed; }
  std::size_t left() const { return c_.left(); }
  const std::uint8_t* position() const { return c_.p; }

  bool U32(std::uint32_t& v) { return ReadU32(c_, v), true; }
  bool I32(std::int32_t& v) { return ReadU32(c_, reinterpret_cast<std::uint32_t&>(v)), true; }
  bool U16(std::uint16_t& v) { return ReadU16(c_, v), true; }
  bool Kind(KindId& k) {
    std::uint32_t v = 0;
    ReadU32(c_, v);
    k = static_cast<KindId>(v);
    return true;
  }
  bool Zeros(std::size_t n) { return zv::tpl::Skip(c_, n), true; }
  bool Skip(std::size_t n) { return zv::tpl::Skip(c_, n), true; }
  bool CText(std::string& s) { return ReadCText(c_, s), true; }
  bool String(std::string& s) { return ReadString(c_, s), true; }
  bool Block(Bytes& b) { return ReadBlock(c_, b), true; }
  bool Ids(std::vector<std::uint32_t>& ids) { return ReadIds(c_, ids), true; }
  bool Events(std::vector<EventBinding>& events) { return ReadEvents(c_, events), true; }
  bool Items(std::vector<std::string>& items) { return ReadItems(c_, items), true; }
  bool Font(StoredFont& f) { return ReadFont(c_, f), true; }

 private:
  Cursor c_;
};

// One window's section: `section` is exactly the bytes that its length field covers.
// Out of line, as the unit preparation and the template loader are: each is called once, and inlined
// into the program's entry they would share its frame and spill more.
[[gnu::noinline]] bool DecodeWindowSection(const std::uint8_t* section, std::size_t length,
                                           std::uint32_t unitCount, WindowTemplate& window) {
  Reader r(section, length);
  if (length / 8 < unitCount) return false;
  window.units = std::vector<UnitRecord>(unitCount);
  for (UnitRecord& unit : window.units) r.U32(unit.id);
  std::vector<std::uint32_t> offsets(unitCount);
  for (std::uint32_t& offset : offsets) r.U32(offset);
  const std::uint8_t* records = r.position();
  const std::size_t recordsSize = r.left();
  for (std::uint32_t i = 0; i < unitCount; ++i) {
    if (offsets[i] > recordsSize) return false;
    Reader record(records + offsets[i], recordsSize - offsets[i]);
    std::uint32_t bodyLength = 0;
    record.U32(bodyLength);
    if (!record.ok() || record.left() < bodyLength) return false;
    Reader body(record.position(), bodyLength);
    UnitRecord& unit = window.units[i];
    UnitBodyFields(body, unit);
    if (!body.ok()) return false;
    unit.kindData.assign(body.position(), body.position() + body.left());
  }
  return true;
}

// Decodes straight into the variant's alternative: no second copy to move and destroy, which for
// eight kinds of strings and vectors is most of the decoder's code. One function per kind, called
// from one switch: inlined into it, the eight would share one frame and spill more.
template <class D>
[[gnu::noinline]] KindDataStatus DecodeAs(const Bytes& bytes, KindData& out) {
  Reader r(bytes.data(), bytes.size());
  D& data = out.emplace<D>();
  r.U32(data.version);
  if (!r.ok()) return KindDataStatus::Malformed;
  if (data.version > D::kHighestVersion) return KindDataStatus::VersionTooHigh;
  KindFields(r, data);
  if (!r.ok() || r.left() != 0) return KindDataStatus::Malformed;
  return KindDataStatus::Ok;
}

}  // namespace

bool DecodeTemplateBlock(const std::uint8_t* data, std::size_t size, TemplateBlock& out) {
  out = TemplateBlock{};
  if (data == nullptr) return false;
  Reader r(data, size);
  std::uint32_t tableLength = 0;
  r.U32(tableLength);
  if (!r.ok() || tableLength % 8 != 0 || r.left() < tableLength) return false;
  out.windows = std::vector<WindowTemplate>(tableLength / 8);
  for (WindowTemplate& window : out.windows) r.U32(window.windowId) && r.U32(window.slot);
  for (WindowTemplate& window : out.windows) {
    std::uint32_t unitCount = 0, sectionLength = 0;
    r.U32(window.leadValues[0]) && r.U32(window.leadValues[1]) && r.String(window.leadText1) &&
        r.String(window.leadText2) && r.U32(unitCount) && r.U32(sectionLength);
    if (!r.ok() || r.left() < sectionLength) return false;
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
