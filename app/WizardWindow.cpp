// The wizard window as the user sees it, written as data: one entry per unit, in record order (the
// first control is the topmost of its siblings). The encoder in engine/TemplateFormat.h turns it into
// the stored block at compile time; the window engine reads that block back at start-up. Texts are
// GBK (the sources are compiled with -fexec-charset=GBK).
#include "app/WizardWindow.h"

#include "app/WizardControls.h"

namespace zv::wizard {
namespace {

using tpl::KindId;
using tpl::StoredFont;
using tpl::UnitRecord;

constexpr std::uint32_t kBlack = 0x00000000;
constexpr std::uint32_t kWhite = 0x00FFFFFF;
constexpr std::uint32_t kBlue = 0x00FF0000;
constexpr std::uint32_t kRed = 0x000000FF;
constexpr std::uint32_t kGreen = 0x0000FF00;
constexpr std::uint32_t kCyan = 0x00FFFF00;
constexpr std::uint32_t kDarkRed = 0x00000080;
constexpr std::uint32_t kButtonFace = tpl::kDefaultColour;

constexpr std::uint32_t kVisible = tpl::kUnitVisible;
constexpr std::uint32_t kDisabled = tpl::kUnitDisabled;
constexpr std::uint32_t kTabStop = tpl::kUnitTabStop;

constexpr char kDisclaimer[] =
    "这是一款私人制作 非营利型应用\r\n\r\n"
    "可能会导致部分杀毒软件的误报，你可以选择取消安装\r\n\r\n"
    "这个安装程序同时也是卸载程序，所以请保留它\r\n\r\n"
    "相信这个应用 愿意自己承担一切后果 请点击 下一步\r\n\r\n"
    "否则请点击【取消】按钮\r\n\r\n";
static_assert(sizeof kDisclaimer - 1 == 208, "the disclaimer is 208 bytes of GBK");

// 宋体 at the given height: the face of the page-1 prompt and the radio buttons.
constexpr StoredFont SongTi(std::int32_t height) {
  StoredFont f;
  f.present = true;
  f.height = height;
  f.weight = 400;
  f.charSet = 134;  // GB2312
  f.outPrecision = 3;
  f.clipPrecision = 2;
  f.quality = 1;
  f.pitchAndFamily = 0x02;
  f.faceName = "宋体";
  return f;
}

// Bold 楷体_GB2312: the title and footer bands.
constexpr StoredFont BandFont() {
  StoredFont f = SongTi(-20);
  f.weight = 700;
  f.pitchAndFamily = 0x31;
  f.faceName = "楷体_GB2312";
  return f;
}

// The disclaimer's font: height and charset only; the system picks the face.
constexpr StoredFont DisclaimerFont() {
  StoredFont f;
  f.present = true;
  f.height = -14;
  f.weight = 400;
  f.charSet = 134;
  return f;
}

constexpr UnitRecord Unit(std::uint32_t id, KindId kind, const char* name, std::int32_t left,
                          std::int32_t top, std::int32_t width, std::int32_t height, std::uint32_t parent,
                          std::uint32_t flags, tpl::Bytes kindData) {
  UnitRecord u;
  u.id = id;
  u.kind = kind;
  u.name = name;
  u.left = left;
  u.top = top;
  u.width = width;
  u.height = height;
  u.parent = parent;
  u.flags = flags;
  u.cursor = tpl::Bytes(4, 0);  // the default arrow
  u.kindData = static_cast<tpl::Bytes&&>(kindData);
  return u;
}

// Binds the unit's Clicked event (index 0) to a slot of the handler table. (The units are changed in
// place: GCC 12 cannot return a by-value parameter holding strings in constant evaluation.)
constexpr void BindClick(UnitRecord& u, HandlerSlot slot) {
  u.events.push_back(tpl::EventBinding{0, tpl::HandlerOffset(slot)});
}

constexpr tpl::Bytes Label(const char* caption, std::uint32_t textColour, std::int32_t hAlign,
                           StoredFont font = {}) {
  tpl::LabelData d;
  d.caption = caption;
  d.textColour = textColour;
  d.backColour = kButtonFace;
  d.hAlign = hAlign;
  d.vAlign = 1;
  d.font = font;
  return tpl::EncodeKindData(d);
}

constexpr tpl::Bytes TransLabel(const char* caption, std::uint32_t textColour) {
  tpl::TransLabelData d;
  d.caption = caption;
  d.textColour = textColour;
  d.hAlign = 1;
  d.vAlign = 1;
  d.font = BandFont();
  return tpl::EncodeKindData(d);
}

constexpr tpl::Bytes PushButton(const char* caption) {
  tpl::ButtonData d;
  d.caption = caption;
  return tpl::EncodeKindData(d);
}

constexpr tpl::Bytes Radio(const char* caption, bool checked) {
  tpl::RadioBoxData d;
  d.caption = caption;
  d.flat = 1;
  d.hAlign = 0;
  d.vAlign = 1;
  d.textColour = kBlack;
  d.backColour = kButtonFace;
  d.checked = checked ? 1 : 0;
  d.font = SongTi(-16);
  return tpl::EncodeKindData(d);
}

constexpr tpl::Bytes Panel() {
  return tpl::EncodeKindData(tpl::DrawPanelData{});
}

constexpr tpl::Bytes WindowKind() {
  tpl::WindowData d;
  d.border = 0;
  d.backColour = kDarkRed;
  d.startPosition = 1;
  d.dragToMove = 1;
  // Not drawn (the window has no caption), but the taskbar, Alt+Tab and screen readers show it.
  d.title = "Zorvik 安装向导";
  return tpl::EncodeKindData(d);
}

constexpr tpl::Bytes DisclaimerEdit() {
  tpl::EditBoxData d;
  d.border = 0;
  d.textColour = kBlack;
  d.backColour = kButtonFace;
  d.multiLine = 1;
  d.font = DisclaimerFont();
  d.content = kDisclaimer;
  return tpl::EncodeKindData(d);
}

constexpr tpl::Bytes NicknameEdit() {
  tpl::EditBoxData d;
  d.border = 5;  // one-pixel line
  d.textColour = kBlack;
  d.backColour = kWhite;
  return tpl::EncodeKindData(d);
}

constexpr tpl::Bytes GenderCombo() {
  tpl::ComboBoxData d;
  d.type = 2;  // drop-down list
  d.extraItemHeight = 1;
  d.textColour = kBlack;
  d.backColour = kWhite;
  d.currentSelection = 0;
  d.items = {"女性", "男性", "人妖"};
  return tpl::EncodeKindData(d);
}

constexpr tpl::TemplateBlock Describe() {
  const std::uint32_t kOnWindow = 0;
  tpl::WindowTemplate w;
  w.windowId = kWindowId;
  w.leadValues[0] = 0x0012EBD4;
  w.leadValues[1] = 0x1901000C;
  auto& u = w.units;
  u.push_back(Unit(kWindowUnit, KindId::Window, "", 50, 50, 360, 244, kOnWindow, kVisible, WindowKind()));
  u.push_back(Unit(kDisclaimerEdit, KindId::EditBox, "编辑框1", 21, 11, 344, 130, kRegistrationPanel,
                   kVisible | kDisabled | kTabStop, DisclaimerEdit()));
  u.push_back(Unit(kWarningLabel, KindId::Label, "标签5", 69, 111, 240, 24, kRegistrationPanel, kVisible,
                   Label("以上信息注册后不可更改！！！", kRed, 1)));
  u.push_back(Unit(kGreetingLabel, KindId::Label, "标签4", 64, 10, 240, 24, kRegistrationPanel, kVisible,
                   Label("你好 先给自己简单的注册一个个性的昵称吧", kBlue, 1)));
  u.push_back(Unit(kGenderCombo, KindId::ComboBox, "组合框性别", 160, 82, 88, 20, kRegistrationPanel,
                   kVisible | kTabStop, GenderCombo()));
  u.push_back(Unit(kGenderLabel, KindId::Label, "标签3", 120, 80, 32, 24, kRegistrationPanel, kVisible,
                   Label("性别：", kBlack, 0)));
  u.push_back(Unit(kNicknameEdit, KindId::EditBox, "编辑框昵称", 160, 50, 88, 24, kRegistrationPanel,
                   kVisible | kTabStop, NicknameEdit()));
  u.push_back(Unit(kNicknameLabel, KindId::Label, "标签2", 120, 50, 32, 24, kRegistrationPanel, kVisible,
                   Label("昵称：", kBlack, 0)));
  u.push_back(Unit(kFooterLabel, KindId::TransLabel, "透明标签2", 0, 214, 360, 32, kOnWindow, kVisible,
                   TransLabel(" 便捷 强大 绿色 的桌面扩展", kGreen)));
  u.push_back(Unit(kTitleLabel, KindId::TransLabel, "透明标签1", 48, 0, 264, 32, kOnWindow, kVisible,
                   TransLabel("Z O R V I K", kCyan)));
  u.push_back(
      Unit(kRegistrationPanel, KindId::DrawPanel, "安装画板2", 0, 30, 360, 184, kOnWindow, 0, Panel()));
  u.back().children = {kWarningLabel,  kGreetingLabel,  kGenderCombo,        kGenderLabel,     kNicknameEdit,
                       kNicknameLabel, kDisclaimerEdit, kRegistrationCancel, kRegistrationNext};
  u.push_back(Unit(kRegistrationCancel, KindId::Button, "取消安装按钮3", 15, 146, 88, 32, kRegistrationPanel,
                   kVisible | kTabStop, PushButton("取消")));
  BindClick(u.back(), kRegistrationCancelSlot);
  u.push_back(Unit(kRegistrationNext, KindId::Button, "安装下一步按钮4", 254, 146, 88, 32, kRegistrationPanel,
                   kVisible | kTabStop, PushButton("下一步")));
  BindClick(u.back(), kRegistrationNextSlot);
  u.push_back(Unit(kSelectionCancel, KindId::Button, "取消选择按钮2", 64, 136, 88, 32, kSelectionPanel,
                   kVisible | kTabStop, PushButton("取消")));
  BindClick(u.back(), kSelectionCancelSlot);
  u.push_back(Unit(kSelectionNext, KindId::Button, "选择下一步按钮1", 192, 136, 88, 32, kSelectionPanel,
                   kVisible | kTabStop, PushButton("下一步")));
  BindClick(u.back(), kSelectionNextSlot);
  u.push_back(Unit(kSelectionPrompt, KindId::Label, "标签1", 40, 24, 272, 32, kSelectionPanel, kVisible,
                   Label("请选择你要执行的项目 然后点击 下一步", kBlue, 1, SongTi(-14))));
  u.push_back(Unit(kUninstallRadio, KindId::RadioBox, "单选框卸载3", 205, 90, 80, 24, kSelectionPanel,
                   kVisible | kTabStop, Radio("卸载", false)));
  u.push_back(Unit(kInstallRadio, KindId::RadioBox, "单选框安装2", 69, 88, 80, 24, kSelectionPanel,
                   kVisible | kTabStop, Radio("安装", true)));
  u.push_back(
      Unit(kSelectionPanel, KindId::DrawPanel, "选择画板1", 0, 30, 360, 184, kOnWindow, kVisible, Panel()));
  u.back().children = {kSelectionCancel, kSelectionNext, kSelectionPrompt, kUninstallRadio, kInstallRadio};
  tpl::TemplateBlock block;
  block.windows.push_back(static_cast<tpl::WindowTemplate&&>(w));
  return block;
}

constexpr std::size_t kTemplateSize = tpl::EncodeTemplateBlock(Describe()).size();
alignas(4) constexpr std::array<std::uint8_t, kTemplateSize> kTemplate =
    tpl::ToArray<kTemplateSize>(tpl::EncodeTemplateBlock(Describe()));

}  // namespace

tpl::TemplateBlock DescribeWizardWindow() {
  return Describe();
}
const std::uint8_t* WizardTemplateData() {
  return kTemplate.data();
}
std::size_t WizardTemplateSize() {
  return kTemplate.size();
}

}  // namespace zv::wizard
