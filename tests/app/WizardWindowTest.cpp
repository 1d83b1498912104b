// The wizard window's template as the program ships it: the block's layout (the record offsets and
// lengths that the format fixes), the round trip between the description and the stored bytes, and
// what the description says about the units (texts, bindings, children).
#include "app/WizardWindow.h"

#include <gtest/gtest.h>

#include "app/WizardControls.h"
#include "engine/TemplateCodec.h"
#include "tests/engine/ShippedTemplate.h"

namespace zv::tpl {
namespace {

using namespace zv::tpl::test;

TEST(ShippedTemplate, SectionLengthCoversTheRestOfTheBlock) {
  const Bytes b = Shipped();
  ASSERT_GT(b.size(), kIdsAt);
  EXPECT_EQ(U32At(b, 0), 8u);  // one window in the table
  EXPECT_EQ(U32At(b, 4), wizard::kWindowId);
  EXPECT_EQ(U32At(b, kSectionLengthAt), b.size() - kIdsAt);
}

TEST(ShippedTemplate, HasTheWindowUnitAndEighteenControlsInRecordOrder) {
  const Bytes b = Shipped();
  const Layout layout = LayoutOf(b);
  ASSERT_EQ(layout.unitCount, 19u);
  const std::uint32_t expected[] = {
      wizard::kWindowUnit,       wizard::kDisclaimerEdit,    wizard::kWarningLabel,
      wizard::kGreetingLabel,    wizard::kGenderCombo,       wizard::kGenderLabel,
      wizard::kNicknameEdit,     wizard::kNicknameLabel,     wizard::kFooterLabel,
      wizard::kTitleLabel,       wizard::kRegistrationPanel, wizard::kRegistrationCancel,
      wizard::kRegistrationNext, wizard::kSelectionCancel,   wizard::kSelectionNext,
      wizard::kSelectionPrompt,  wizard::kUninstallRadio,    wizard::kInstallRadio,
      wizard::kSelectionPanel};
  for (std::uint32_t i = 0; i < layout.unitCount; ++i) EXPECT_EQ(U32At(b, kIdsAt + 4 * i), expected[i]) << i;
}

TEST(ShippedTemplate, RecordOffsetsMatchTheRecordLengths) {
  const Bytes b = Shipped();
  const Layout layout = LayoutOf(b);
  EXPECT_EQ(U32At(b, layout.offsetsAt + 0), 0u);
  EXPECT_EQ(U32At(b, layout.offsetsAt + 4), 0xDEu);  // the window record holds the 15-byte GBK title
  EXPECT_EQ(U32At(b, layout.offsetsAt + 8), 0x2AEu);
  // Each record is its 4-byte length and its body, and the next one follows at once.
  for (std::uint32_t i = 0; i + 1 < layout.unitCount; ++i) {
    const std::uint32_t at = U32At(b, layout.offsetsAt + 4 * i);
    const std::uint32_t next = U32At(b, layout.offsetsAt + 4 * (i + 1));
    EXPECT_EQ(next - at, 4 + U32At(b, layout.recordsAt + at)) << i;
  }
  const std::uint32_t last = U32At(b, layout.offsetsAt + 4 * (layout.unitCount - 1));
  EXPECT_EQ(layout.recordsAt + last + 4 + U32At(b, layout.recordsAt + last), b.size());
}

TEST(ShippedTemplate, DecodesToTheDescription) {
  TemplateBlock decoded;
  const Bytes b = Shipped();
  ASSERT_TRUE(DecodeTemplateBlock(b.data(), b.size(), decoded));
  EXPECT_TRUE(decoded == wizard::DescribeWizardWindow());
}

TEST(ShippedTemplate, EncodingTheDecodedBlockGivesTheSameBytes) {
  TemplateBlock decoded;
  const Bytes b = Shipped();
  ASSERT_TRUE(DecodeTemplateBlock(b.data(), b.size(), decoded));
  EXPECT_EQ(EncodeTemplateBlock(decoded), b);
}

TEST(ShippedTemplate, EveryUnitsKindDataDecodesAtItsKindsHighestVersion) {
  const TemplateBlock block = wizard::DescribeWizardWindow();
  for (const UnitRecord& unit : block.windows[0].units) {
    KindData data;
    ASSERT_EQ(DecodeKindData(unit.kind, unit.kindData, data), KindDataStatus::Ok) << unit.name;
    const std::uint32_t version = std::visit([](const auto& d) { return d.version; }, data);
    const std::uint32_t highest = std::visit([](const auto& d) { return d.kHighestVersion; }, data);
    EXPECT_EQ(version, highest) << unit.name;
  }
}

const UnitRecord& UnitById(const TemplateBlock& block, std::uint32_t id) {
  for (const UnitRecord& unit : block.windows[0].units) {
    if (unit.id == id) return unit;
  }
  ADD_FAILURE() << "no unit " << id;
  return block.windows[0].units[0];
}

TEST(ShippedTemplate, DisclaimerIsFiveParagraphsOf208Bytes) {
  const TemplateBlock block = wizard::DescribeWizardWindow();
  const UnitRecord& unit = UnitById(block, wizard::kDisclaimerEdit);
  KindData data;
  ASSERT_EQ(DecodeKindData(unit.kind, unit.kindData, data), KindDataStatus::Ok);
  const auto& edit = std::get<EditBoxData>(data);
  EXPECT_EQ(edit.content.size(), 208u);
  std::size_t paragraphs = 0;
  for (std::size_t at = edit.content.find("\r\n\r\n"); at != std::string::npos;
       at = edit.content.find("\r\n\r\n", at + 4)) {
    ++paragraphs;
  }
  EXPECT_EQ(paragraphs, 5u);
  EXPECT_EQ(edit.content.substr(edit.content.size() - 4), "\r\n\r\n");
  EXPECT_EQ(edit.multiLine, 1);
}

TEST(ShippedTemplate, OnlyTheFourButtonsHaveBoundClicks) {
  const TemplateBlock block = wizard::DescribeWizardWindow();
  int bound = 0;
  for (const UnitRecord& unit : block.windows[0].units) {
    if (unit.events.empty()) continue;
    ++bound;
    EXPECT_EQ(unit.kind, KindId::Button) << unit.name;
    ASSERT_EQ(unit.events.size(), 1u);
    EXPECT_EQ(unit.events[0].eventIndex, 0u);
    EXPECT_EQ(unit.events[0].handlerOffset % sizeof(HandlerRoutine), 0u);
  }
  EXPECT_EQ(bound, 4);
}

TEST(ShippedTemplate, PanelsListTheirChildrenAndEveryChildNamesItsPanel) {
  const TemplateBlock block = wizard::DescribeWizardWindow();
  for (const UnitRecord& unit : block.windows[0].units) {
    for (std::uint32_t child : unit.children) EXPECT_EQ(UnitById(block, child).parent, unit.id) << unit.name;
  }
  EXPECT_EQ(UnitById(block, wizard::kSelectionPanel).children.size(), 5u);
  EXPECT_EQ(UnitById(block, wizard::kRegistrationPanel).children.size(), 9u);
}

}  // namespace
}  // namespace zv::tpl
