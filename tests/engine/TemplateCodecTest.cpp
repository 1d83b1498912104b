// The template decoder: refusing every malformed block and kind data it is given (starting from the
// shipped wizard template), and reading back every form the writer produces.
#include <gtest/gtest.h>

#include <cstring>

#include "app/WizardControls.h"
#include "app/WizardWindow.h"
#include "engine/TemplateCodec.h"
#include "tests/engine/ShippedTemplate.h"

namespace zv::tpl {
namespace {

using namespace zv::tpl::test;

void PutU32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool Decodes(const Bytes& b) {
  TemplateBlock block;
  return DecodeTemplateBlock(b.data(), b.size(), block);
}

TEST(TemplateDecoder, RefusesEveryTruncationOfTheShippedBlock) {
  const Bytes b = Shipped();
  for (std::size_t length = 0; length < b.size(); ++length) {
    TemplateBlock block;
    ASSERT_FALSE(DecodeTemplateBlock(b.data(), length, block)) << length;
  }
}

TEST(TemplateDecoder, RefusesAWindowTableThatIsNotWholeEntries) {
  Bytes b = Shipped();
  PutU32(b, 0, 7);
  EXPECT_FALSE(Decodes(b));
}

TEST(TemplateDecoder, RefusesASectionLongerThanTheBlock) {
  Bytes b = Shipped();
  PutU32(b, kSectionLengthAt, U32At(b, kSectionLengthAt) + 1);
  EXPECT_FALSE(Decodes(b));
}

TEST(TemplateDecoder, RefusesAUnitCountWhoseIdsDoNotFit) {
  Bytes b = Shipped();
  PutU32(b, kUnitCountAt, 0x20000000);
  EXPECT_FALSE(Decodes(b));
}

TEST(TemplateDecoder, RefusesARecordOffsetPastTheSection) {
  Bytes b = Shipped();
  const Layout layout = LayoutOf(b);
  PutU32(b, layout.offsetsAt + 4, static_cast<std::uint32_t>(b.size()));
  EXPECT_FALSE(Decodes(b));
}

TEST(TemplateDecoder, RefusesARecordBodyLongerThanWhatFollows) {
  Bytes b = Shipped();
  const Layout layout = LayoutOf(b);
  const std::uint32_t last = U32At(b, layout.offsetsAt + 4 * (layout.unitCount - 1));
  PutU32(b, layout.recordsAt + last, U32At(b, layout.recordsAt + last) + 1);
  EXPECT_FALSE(Decodes(b));
}

TEST(TemplateDecoder, RefusesANameWithoutItsTerminator) {
  // The window record's name and comment are single NULs; the last record's name runs to the end.
  TemplateBlock block = wizard::DescribeWizardWindow();
  Bytes b = EncodeTemplateBlock(block);
  const Layout layout = LayoutOf(b);
  const std::uint32_t last = U32At(b, layout.offsetsAt + 4 * (layout.unitCount - 1));
  const std::size_t nameAt = layout.recordsAt + last + 4 + 4 + 20;
  const std::uint32_t bodyLength = U32At(b, layout.recordsAt + last);
  for (std::size_t i = nameAt; i < layout.recordsAt + last + 4 + bodyLength; ++i) b[i] = 'x';
  EXPECT_FALSE(Decodes(b));
}

TEST(TemplateDecoder, RefusesAChildCountLargerThanTheBody) {
  TemplateBlock block = wizard::DescribeWizardWindow();
  Bytes b = EncodeTemplateBlock(block);
  // The children count sits after kind, 20 reserved, the two c-texts and 7 u32 fields.
  const Layout layout = LayoutOf(b);
  const std::uint32_t last = U32At(b, layout.offsetsAt + 4 * (layout.unitCount - 1));
  const std::size_t body = layout.recordsAt + last + 4;
  const std::size_t name = block.windows[0].units.back().name.size() + 1;
  const std::size_t countAt = body + 4 + 20 + name + 1 + 4 * 7;
  ASSERT_EQ(U32At(b, countAt), block.windows[0].units.back().children.size());
  PutU32(b, countAt, 0x40000000);
  EXPECT_FALSE(Decodes(b));
}

TEST(TemplateDecoder, KeepsKindDataRawSoThatAnUnknownVersionStillParses) {
  TemplateBlock block = wizard::DescribeWizardWindow();
  block.windows[0].units[1].kindData[0] = 9;  // the disclaimer's version
  const Bytes b = EncodeTemplateBlock(block);
  TemplateBlock decoded;
  ASSERT_TRUE(DecodeTemplateBlock(b.data(), b.size(), decoded));
  EXPECT_TRUE(decoded == block);
}

TEST(TemplateDecoder, HandlesEmptyInput) {
  TemplateBlock block;
  EXPECT_FALSE(DecodeTemplateBlock(nullptr, 0, block));
  const std::uint8_t zeros[4] = {};
  EXPECT_TRUE(DecodeTemplateBlock(zeros, sizeof zeros, block));  // a table with no windows
  EXPECT_TRUE(block.windows.empty());
}

// Every kind's data with every optional part present (a font, a picture, texts, items), each
// truncated at every length: nothing short of the whole is accepted, the whole reads back equal.
template <class D>
void ExpectEveryTruncationRefused(D data) {
  const Bytes bytes = EncodeKindData(data);
  for (std::size_t length = 0; length < bytes.size(); ++length) {
    const Bytes cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
    KindData out;
    ASSERT_EQ(DecodeKindData(D::kKind, cut, out), KindDataStatus::Malformed)
        << length << " of " << bytes.size();
  }
  KindData out;
  ASSERT_EQ(DecodeKindData(D::kKind, bytes, out), KindDataStatus::Ok);
  EXPECT_TRUE(std::get<D>(out) == data);
}

TEST(KindDataDecoder, RefusesEveryTruncationOfEachKind) {
  StoredFont font;
  font.present = true;
  // Each field its own value, so that two fields read into each other's places show.
  font.height = -12;
  font.width = 3;
  font.escapement = 4;
  font.orientation = 5;
  font.weight = 700;
  font.italic = 1;
  font.underline = 2;
  font.strikeOut = 3;
  font.charSet = 134;
  font.outPrecision = 5;
  font.clipPrecision = 6;
  font.quality = 7;
  font.pitchAndFamily = 8;
  font.faceName = "宋体";
  WindowData window;
  window.text6 = "t";
  window.icon = {1, 2};
  window.title = "Zorvik";
  ExpectEveryTruncationRefused(window);
  EditBoxData edit;
  edit.font = font;
  edit.content = "abc";
  edit.extraText2 = "e";
  ExpectEveryTruncationRefused(edit);
  LabelData label;
  label.font = font;
  label.picture = {7};
  label.caption = "昵称：";
  label.extraText1 = "x";
  ExpectEveryTruncationRefused(label);
  TransLabelData trans;
  trans.font = font;
  trans.caption = "c";
  ExpectEveryTruncationRefused(trans);
  ButtonData button;
  button.picture = {1};
  button.font = font;
  button.caption = "b";
  ExpectEveryTruncationRefused(button);
  RadioBoxData radio;
  radio.font = font;
  radio.caption = "r";
  ExpectEveryTruncationRefused(radio);
  ComboBoxData combo;
  combo.font = font;
  combo.itemValues = {1, 0, 0, 0, 2, 0, 0, 0};
  combo.content = "c";
  combo.items = {"男", "女"};
  combo.extraText1 = "x";
  combo.extraValue = 5;
  ExpectEveryTruncationRefused(combo);
  DrawPanelData panel;
  panel.font = font;
  panel.picture = {9, 9};
  ExpectEveryTruncationRefused(panel);
}

TEST(KindDataDecoder, RefusesAVersionAboveTheKindsHighest) {
  EditBoxData edit;
  edit.version = EditBoxData::kHighestVersion + 1;
  KindData out;
  EXPECT_EQ(DecodeKindData(KindId::EditBox, EncodeKindData(edit), out), KindDataStatus::VersionTooHigh);
  WindowData window;
  window.version = WindowData::kHighestVersion + 1;
  EXPECT_EQ(DecodeKindData(KindId::Window, EncodeKindData(window), out), KindDataStatus::VersionTooHigh);
}

TEST(KindDataDecoder, ReadsAnOlderVersionWithoutItsLaterFields) {
  EditBoxData edit;
  edit.version = 1;
  edit.content = "abc";
  const Bytes bytes = EncodeKindData(edit);
  EditBoxData current;
  current.content = "abc";
  EXPECT_EQ(bytes.size() + 8, EncodeKindData(current).size());  // no two trailing texts
  KindData out;
  ASSERT_EQ(DecodeKindData(KindId::EditBox, bytes, out), KindDataStatus::Ok);
  EXPECT_EQ(std::get<EditBoxData>(out).content, "abc");
}

TEST(KindDataDecoder, RefusesLeftOverBytes) {
  Bytes bytes = EncodeKindData(ButtonData{});
  bytes.push_back(0);
  KindData out;
  EXPECT_EQ(DecodeKindData(KindId::Button, bytes, out), KindDataStatus::Malformed);
}

TEST(KindDataDecoder, RefusesAFontThatIsNeitherEmptyNorALogFont) {
  TransLabelData label;
  label.font.present = true;
  Bytes bytes = EncodeKindData(label);
  // version, effect, colour, three ints: the font length follows.
  const std::size_t fontAt = 4 * 6;
  ASSERT_EQ(U32At(bytes, fontAt), kLogFontSize);
  PutU32(bytes, fontAt, kLogFontSize - 1);
  KindData out;
  EXPECT_EQ(DecodeKindData(KindId::TransLabel, bytes, out), KindDataStatus::Malformed);
}

TEST(KindDataDecoder, RefusesAnUnknownKind) {
  KindData out;
  EXPECT_EQ(DecodeKindData(static_cast<KindId>(0x00010099), EncodeKindData(ButtonData{}), out),
            KindDataStatus::UnknownKind);
}

TEST(KindDataDecoder, RoundTripsAFontWithAFullFaceName) {
  LabelData label;
  label.font.present = true;
  label.font.height = -12;
  label.font.faceName = std::string(31, 'F');
  KindData out;
  ASSERT_EQ(DecodeKindData(KindId::Label, EncodeKindData(label), out), KindDataStatus::Ok);
  EXPECT_TRUE(std::get<LabelData>(out) == label);
}

TEST(KindDataDecoder, RoundTripsMoreItemsThanTheShortCountHolds) {
  ComboBoxData combo;
  combo.items.assign(0x10000, "x");
  const Bytes bytes = EncodeKindData(combo);
  KindData out;
  ASSERT_EQ(DecodeKindData(KindId::ComboBox, bytes, out), KindDataStatus::Ok);
  EXPECT_EQ(std::get<ComboBoxData>(out).items.size(), 0x10000u);
}

TEST(KindDataDecoder, RefusesAnItemCountLargerThanTheData) {
  ComboBoxData combo;
  combo.items = {"a"};
  Bytes bytes = EncodeKindData(combo);
  // The u16 item count precedes the single item (4-byte length, 1 byte) and the trailing 3 fields.
  const std::size_t countAt = bytes.size() - (4 + 1) - (4 + 4 + 4) - 2;
  ASSERT_EQ(bytes[countAt], 1);
  bytes[countAt] = 0xFE;
  KindData out;
  EXPECT_EQ(DecodeKindData(KindId::ComboBox, bytes, out), KindDataStatus::Malformed);
}

}  // namespace
}  // namespace zv::tpl
