// The control property contract on the live wizard window: the common properties, the kind entries
// the wizard uses, the value conversions, live visibility through the panels, and the fatal errors.
#include "runtime/ControlProperties.h"

#include "tests/engine/WizardEngineFixture.h"

namespace zv::test {
namespace {

// The wizard window loaded in this process, read and written through the contract.
using ControlProperties = WizardEngine;

TEST_F(ControlProperties, InstallRadioStartsCheckedAndUninstallUnchecked) {
  EXPECT_EQ(Read(kInstallRadio, kRadioBoxChecked), 1);
  EXPECT_EQ(Read(kUninstallRadio, kRadioBoxChecked), 0);
}

TEST_F(ControlProperties, ClickingARadioButtonMovesTheCheckedState) {
  Click(kUninstallRadio);
  EXPECT_EQ(Read(kUninstallRadio, kRadioBoxChecked), 1);
  EXPECT_EQ(Read(kInstallRadio, kRadioBoxChecked), 0);
  Click(kInstallRadio);
  EXPECT_EQ(Read(kUninstallRadio, kRadioBoxChecked), 0);
  EXPECT_EQ(Read(kInstallRadio, kRadioBoxChecked), 1);
}

TEST_F(ControlProperties, WritingCheckedSetsTheButtonAndAnyNonZeroCountsAsChecked) {
  Write(kUninstallRadio, kRadioBoxChecked, 7);
  EXPECT_EQ(SendMessageA(Native(kUninstallRadio), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(Read(kUninstallRadio, kRadioBoxChecked), 1);
  Write(kUninstallRadio, kRadioBoxChecked, 0);
  EXPECT_EQ(SendMessageA(Native(kUninstallRadio), BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

TEST_F(ControlProperties, PageTwoControlsReadInvisibleWhileTheirPanelIsHidden) {
  EXPECT_EQ(Read(kRegistrationPanel, kPropertyVisible), 0);
  EXPECT_EQ(Read(kDisclaimerEdit, kPropertyVisible), 0);
  EXPECT_EQ(Read(kNicknameEdit, kPropertyVisible), 0);
  EXPECT_EQ(Read(kInstallRadio, kPropertyVisible), 1);
}

TEST_F(ControlProperties, DisclaimerReadsVisibleOnPageTwoUntilHidden) {
  ShowPageTwo();
  EXPECT_EQ(Read(kDisclaimerEdit, kPropertyVisible), 1);
  EXPECT_EQ(Read(kNicknameEdit, kPropertyVisible), 1);  // its own flag: shown, though covered
  EXPECT_EQ(Read(kInstallRadio, kPropertyVisible), 0);
  Write(kDisclaimerEdit, kPropertyVisible, 0);
  EXPECT_EQ(Read(kDisclaimerEdit, kPropertyVisible), 0);
  EXPECT_FALSE(IsWindowVisible(Native(kDisclaimerEdit)));
}

TEST_F(ControlProperties, ShowingThePanelAgainDoesNotBringTheDisclaimerBack) {
  ShowPageTwo();
  Write(kDisclaimerEdit, kPropertyVisible, 0);
  Write(kRegistrationPanel, kPropertyVisible, 0);
  Write(kRegistrationPanel, kPropertyVisible, 1);
  EXPECT_EQ(Read(kDisclaimerEdit, kPropertyVisible), 0);
  EXPECT_EQ(Read(kNicknameEdit, kPropertyVisible), 1);
}

TEST_F(ControlProperties, GenderComboReadsItsSelectedItem) {
  EXPECT_EQ(ReadText(kGenderCombo, kComboBoxContent), "女性");
  SendMessageA(Native(kGenderCombo), CB_SETCURSEL, 2, 0);
  EXPECT_EQ(ReadText(kGenderCombo, kComboBoxContent), "人妖");
}

TEST_F(ControlProperties, EmptyNicknameReadsNullNotAnEmptyBlock) {
  Text t = ReadControlText(kWindowId, kNicknameEdit, kEditBoxContent);
  EXPECT_TRUE(t.IsNull());
}

TEST_F(ControlProperties, WritingContentSetsTheEditTextAndTheEmptyTextClearsIt) {
  WriteControlText(kWindowId, kNicknameEdit, kEditBoxContent, "小明abc");
  wchar_t shown[64] = {};
  GetWindowTextW(Native(kNicknameEdit), shown, 64);
  EXPECT_STREQ(shown, L"\u5c0f\u660e" L"abc");  // 小明abc
  EXPECT_EQ(ReadText(kNicknameEdit, kEditBoxContent), "小明abc");
  WriteControlText(kWindowId, kNicknameEdit, kEditBoxContent, "");
  EXPECT_TRUE(ReadControlText(kWindowId, kNicknameEdit, kEditBoxContent).IsNull());
  WriteControlText(kWindowId, kNicknameEdit, kEditBoxContent, "x");
  WriteControlText(kWindowId, kNicknameEdit, kEditBoxContent, nullptr);
  EXPECT_TRUE(ReadControlText(kWindowId, kNicknameEdit, kEditBoxContent).IsNull());
}

// What an input method types arrives as UTF-16 and reads as GBK; a character that GBK has none for
// reads as "?" and the read says so. "€" is one: GBK's single byte 0x80 for it would be taken for the
// first byte of a two-byte character (and "€ a" would hide its space).
TEST_F(ControlProperties, TypedTextReadsAsGbkAndSaysWhetherGbkHoldsIt) {
  const struct {
    const char* name;
    const wchar_t* typed;
    const char* gbk;  // null: not checked (how many "?" a surrogate pair becomes is the system's choice)
    bool held;
  } cases[] = {{"小明", L"\u5c0f\u660e", "小明", true},
               {"full-width space", L"a\u3000b", "a　b", true},
               {"euro, space, a", L"\u20ac a", "? a", false},
               {"a, euro", L"a\u20ac", "a?", false},
               {"Korean syllable", L"\ud55c", "?", false},
               {"emoji", L"\xd83d\xde00", nullptr, false}};
  ShowPageTwo();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteControlText(kWindowId, kNicknameEdit, kEditBoxContent, "");
    Type(kNicknameEdit, c.typed);
    wchar_t shown[16] = {};
    GetWindowTextW(Native(kNicknameEdit), shown, 16);
    EXPECT_STREQ(shown, c.typed);
    bool held = !c.held;
    const Text read = ReadControlText(kWindowId, kNicknameEdit, kEditBoxContent, &held);
    EXPECT_EQ(held, c.held);
    if (c.gbk != nullptr) {
      EXPECT_STREQ(read.c_str(), c.gbk);
    }
    EXPECT_EQ(std::string(read.c_str()).find('\x80'), std::string::npos);
  }
}

TEST_F(ControlProperties, EveryTextReadIsANewBlockOwnedByTheCaller) {
  Text first = ReadControlText(kWindowId, kGenderCombo, kComboBoxContent);
  Text second = ReadControlText(kWindowId, kGenderCombo, kComboBoxContent);
  ASSERT_FALSE(first.IsNull());
  EXPECT_NE(first.get(), second.get());
}

TEST_F(ControlProperties, GeometryReadsTheLiveControlRelativeToItsPanel) {
  EXPECT_EQ(Read(kInstallRadio, kPropertyLeft), 69);
  EXPECT_EQ(Read(kInstallRadio, kPropertyTop), 88);
  EXPECT_EQ(Read(kInstallRadio, kPropertyWidth), 80);
  EXPECT_EQ(Read(kInstallRadio, kPropertyHeight), 24);
  EXPECT_EQ(Read(kWindowUnit, kPropertyWidth), 360);
  EXPECT_EQ(Read(kWindowUnit, kPropertyHeight), 244);
}

TEST_F(ControlProperties, WritingLeftMovesTheControlAndKeepsItsSize) {
  Write(kInstallRadio, kPropertyLeft, 10);
  RECT r;
  GetWindowRect(Native(kInstallRadio), &r);
  MapWindowPoints(HWND_DESKTOP, Native(kSelectionPanel), reinterpret_cast<POINT*>(&r), 2);
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.top, 88);
  EXPECT_EQ(r.right - r.left, 80);
  EXPECT_EQ(r.bottom - r.top, 24);
}

TEST_F(ControlProperties, SizesAreClampedAtZero) {
  Write(kSelectionPrompt, kPropertyWidth, -40);
  EXPECT_EQ(Read(kSelectionPrompt, kPropertyWidth), 0);
  EXPECT_EQ(Read(kSelectionPrompt, kPropertyHeight), 32);
}

TEST_F(ControlProperties, TagIsEmptyAtStartAndKeepsWhatIsWritten) {
  EXPECT_TRUE(ReadControlText(kWindowId, kNicknameEdit, kPropertyTag).IsNull());
  WriteControlText(kWindowId, kNicknameEdit, kPropertyTag, "标记");
  EXPECT_EQ(ReadText(kNicknameEdit, kPropertyTag), "标记");
}

TEST_F(ControlProperties, DisableReadsAndSetsTheEnabledState) {
  EXPECT_EQ(Read(kDisclaimerEdit, kPropertyDisable), 1);
  EXPECT_EQ(Read(kNicknameEdit, kPropertyDisable), 0);
  Write(kNicknameEdit, kPropertyDisable, 1);
  EXPECT_FALSE(IsWindowEnabled(Native(kNicknameEdit)));
  EXPECT_EQ(Read(kNicknameEdit, kPropertyDisable), 1);
}

TEST_F(ControlProperties, MousePointerReadsACopyOfTheStoredCursorData) {
  const PropertyValue v = ReadControlProperty(kWindowId, kNicknameEdit, kPropertyMousePointer);
  OwnedByteArray bytes;
  bytes.reset(reinterpret_cast<ByteArray*>(static_cast<std::uintptr_t>(v.low)));
  ASSERT_NE(bytes.get(), nullptr);
  EXPECT_EQ(bytes->length, 4);
  EXPECT_EQ(bytes->bytes()[0] | bytes->bytes()[1] | bytes->bytes()[2] | bytes->bytes()[3], 0);
}

// ---- Fatal errors, in child processes ----

ZV_CHILD_SCENARIO(ReadBeforeLoad) {
  InitRuntime();
  LoadWindowTemplates(Templates(ShippedBlock()));
  ReadControlProperty(kWindowId, kUninstallRadio, kRadioBoxChecked);
}

ZV_CHILD_SCENARIO(ReadUnknownControl) {
  InitRuntime();
  LoadWindowTemplates(Templates(ShippedBlock()));
  LoadWindow(kWindowId);
  ReadControlProperty(kWindowId, 0x16019999, kEditBoxContent);
}

TEST(PropertyErrors, ReadingAWindowThatIsNotLoadedIsFatal) {
  ChildProcess child;
  StartScenario(child, "ReadBeforeLoad");
  ExpectFatalBox(child, "未载入欲访问窗口组件所在的窗口");
}

TEST(PropertyErrors, KindPropertyOfAControlWithoutNativeWindowIsFatal) {
  ChildProcess child;
  StartScenario(child, "ReadUnknownControl");
  MessageBox box = WaitForMessageBox(child.id());
  EXPECT_EQ(box.text, "运行时出错!\r\n\r\n错误信息：指定窗口尚未载入\r\n");
  PressOk(box);
  EXPECT_EQ(child.Wait(), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace zv::test
