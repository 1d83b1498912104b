// The click handlers of the wizard's four buttons, bound to them through the window template's
// handler table. They touch the window only through the control property operations.
#pragma once

namespace zv::wizard {

void OnSelectionNext();       // 选择下一步按钮1: uninstall, reinstall or go to page 2
void OnSelectionCancel();     // 取消选择按钮2: end the program
void OnRegistrationNext();    // 安装下一步按钮4: dismiss the disclaimer, check the nickname, install
void OnRegistrationCancel();  // 取消安装按钮3: end the program

}  // namespace zv::wizard
