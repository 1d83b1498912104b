// The wizard window and its controls as the program addresses them: the WindowId and one ControlId
// per control (the names in the comments are the controls' names in the window template), and the
// slots of the program's handler table that the template's click bindings point at.
#pragma once

#include <cstdint>

namespace zv::wizard {

inline constexpr std::uint32_t kWindowId = 0x52010001;  // the wizard window (its own unit: kWindowUnit)
inline constexpr std::uint32_t kWindowUnit = 0x06010000;

// Page 1: install or uninstall.
inline constexpr std::uint32_t kSelectionPanel = 0x16010004;   // 选择画板1
inline constexpr std::uint32_t kInstallRadio = 0x16010006;     // 单选框安装2 "安装"
inline constexpr std::uint32_t kUninstallRadio = 0x16010007;   // 单选框卸载3 "卸载"
inline constexpr std::uint32_t kSelectionPrompt = 0x16010008;  // 标签1
inline constexpr std::uint32_t kSelectionNext = 0x1601000A;    // 选择下一步按钮1 "下一步"
inline constexpr std::uint32_t kSelectionCancel = 0x1601000B;  // 取消选择按钮2 "取消"
// Page 2: disclaimer, then registration.
inline constexpr std::uint32_t kRegistrationPanel = 0x1601000F;   // 安装画板2
inline constexpr std::uint32_t kRegistrationCancel = 0x16010010;  // 取消安装按钮3 "取消"
inline constexpr std::uint32_t kRegistrationNext = 0x16010011;    // 安装下一步按钮4 "下一步"
inline constexpr std::uint32_t kDisclaimerEdit = 0x1601343E;      // 编辑框1
inline constexpr std::uint32_t kNicknameLabel = 0x1601343F;       // 标签2 "昵称："
inline constexpr std::uint32_t kNicknameEdit = 0x16013440;        // 编辑框昵称
inline constexpr std::uint32_t kGenderLabel = 0x16013441;         // 标签3 "性别："
inline constexpr std::uint32_t kGenderCombo = 0x16013443;         // 组合框性别
inline constexpr std::uint32_t kGreetingLabel = 0x16013444;       // 标签4
inline constexpr std::uint32_t kWarningLabel = 0x16013445;        // 标签5
// Title and footer bands, on the window itself.
inline constexpr std::uint32_t kTitleLabel = 0x16011A0D;   // 透明标签1
inline constexpr std::uint32_t kFooterLabel = 0x16011A0E;  // 透明标签2

// Slots of the program's handler table (the code base that the template's handler offsets count from).
enum HandlerSlot : std::uint32_t {
  kSelectionNextSlot,
  kSelectionCancelSlot,
  kRegistrationNextSlot,
  kRegistrationCancelSlot,
  kHandlerSlotCount,
};

}  // namespace zv::wizard
