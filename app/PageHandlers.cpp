// The page handlers: what the wizard's four buttons do. They touch the window only through the
// control property operations, read properties afresh at every use, and reach the system only through
// the installation services and the runtime. Every path but the page switch, the disclaimer and the
// three failed nickname checks ends the program.
//
// A copy of the program whose embedded payloads no longer match their recorded checksums installs
// nothing: the user is told to get a new copy, and the exit code is 1. Nor does a wizard running as
// an administrator write or delete through an install folder that is a link another user planted, or
// write into one that another user owns or whose permissions it cannot confirm.
//
// When anything of an installation could not be written, or a file of an uninstallation that exists
// could not be deleted, the user is told which files and what to do about it (close the programs
// that hold a file, free disk space, run with the rights to write), nothing is started, and the exit
// code is 1: saying "done" then would send the user off with a broken suite.
//
// The install folders are held open from their check to the end of the program, so that the files
// written, deleted and started are those of the folders that were checked.
#include "app/PageHandlers.h"

#include <span>

#include "app/WizardControls.h"
#include "runtime/ControlProperties.h"
#include "runtime/FileOperations.h"
#include "runtime/Lifecycle.h"
#include "runtime/ProcessOperations.h"
#include "runtime/TextOperations.h"
#include "services/DesktopShortcut.h"
#include "services/FailedFiles.h"
#include "runtime/WideText.h"
#include "services/FailureCauses.h"
#include "services/InstallFolder.h"
#include "services/MainProgramStart.h"
#include "services/PayloadStore.h"
#include "services/ProcessTermination.h"
#include "services/Registration.h"
#include "services/TextHelpers.h"

namespace zv::wizard {
namespace {

constexpr char kInstallRoot[] = "C:\\zor";
constexpr char kInstallDirectory[] = "C:\\zor\\vik";
constexpr char kConfigFile[] = "C:\\zor\\vik\\zvconf.ini";
constexpr char kMainProgram[] = "C:\\zor\\vik\\zvmain.exe";
constexpr char kShortcutName[] = "Zorvik";
constexpr std::int32_t kShortcutWindowNormal = 1;
constexpr std::int32_t kMaxNicknameBytes = 10;
constexpr std::int32_t kUninstallWaitMs = 2000;
// How long the uninstallation waits, in all, for the copies it terminated to end before the fixed pause.
constexpr std::uint32_t kStopWaitMs = 5000;

// The folders of the suite, parent first.
constexpr const char* kInstallFolders[] = {kInstallRoot, kInstallDirectory};

// The programs that the uninstallation stops, and the files it deletes, in this order.
constexpr const char* kProgramsToStop[] = {"zvmain.exe", "zvmix.exe", "zvtune.exe", "zvaux.exe"};
// The suite's files: its ten files, then the configuration (which the uninstallation leaves).
constexpr const char* kSuiteFiles[] = {
    "C:\\zor\\vik\\zvmain.exe",
    "C:\\zor\\vik\\zvmix.exe",
    "C:\\zor\\vik\\zvtune.exe",
    "C:\\zor\\vik\\zvaux.exe",
    "C:\\zor\\vik\\zvlock.exe",
    "C:\\zor\\vik\\zvmix.htm",
    "C:\\zor\\vik\\zvplay.exe",
    "C:\\zor\\vik\\zvsky.htm",
    "C:\\zor\\vik\\zvstat.htm",
    "C:\\zor\\vik\\zvchat.exe",
    kConfigFile,
};
constexpr std::span<const char* const> kFilesToDelete{kSuiteFiles, 10};

// Messages: every box has one OK button and no icon.
constexpr std::int32_t kPlainBox = 0;
constexpr char kUninstalledMessage[] = "卸载以完成 稍后你可以手动删除此安装包和桌面快捷方式";
constexpr char kDoneMessage[] = "操作以完成";
constexpr char kDoneStartFromDesktop[] = "操作以完成\r\n请从桌面快捷方式启动 Zorvik。";
constexpr char kDoneCaption[] = "恭喜你！！！";
constexpr char kSorryCaption[] = "抱歉";
constexpr char kTooLongMessage[] = "老大 你写的也太多了吧，昵称不能大于5个汉字或者10个字符";
constexpr char kBlankMessage[] = "亲，昵称不能空白或者包含空格哦！";
constexpr char kUnsavableMessage[] = "亲，昵称里有无法保存的字符哦！";
constexpr char kNotInstalledMessage[] = "安装未完成，以下文件无法写入：\r\n";
constexpr char kNotUninstalledMessage[] = "卸载未完成，以下文件无法删除：\r\n";
// The advice after the list of files, one line for each cause among the failures; none where the
// system gave no cause.
constexpr char kCloseAndRetry[] = "\r\n请关闭正在运行的 Zorvik 程序后重试";
constexpr char kFreeSpaceAndRetry[] = "\r\n磁盘空间不足，请释放空间后重试（安装时需要同时容纳新旧两套程序）";
constexpr char kRunAsAdministratorAndRetry[] = "\r\n没有写入权限，请以管理员身份运行后重试";
constexpr char kClearReadOnlyAndRetry[] = "\r\n文件为只读，请取消其只读属性后重试";
// A folder of the suite that is a link somebody else could have planted: nothing is written or deleted.
constexpr char kNotInstalledHeading[] = "安装未完成：\r\n";
constexpr char kNotUninstalledHeading[] = "卸载未完成：\r\n";
constexpr char kLinkedFolderNotWritten[] = " 是指向其他位置的链接，为安全起见未写入任何文件。";
constexpr char kLinkedFolderNotDeleted[] = " 是指向其他位置的链接，为安全起见未删除任何文件。";
// A folder that somebody the wizard cannot trust owns, or whose owner and list could not be confirmed.
constexpr char kForeignFolderNotWritten[] = "属于其他用户，为安全起见未写入任何文件。请删除该文件夹后重试。";
constexpr char kUnconfirmedFolderNotWritten[] = "的权限无法确认，为安全起见未写入任何文件。";
constexpr char kUnconfirmedFolderNotDeleted[] = "的权限无法确认，为安全起见未删除任何文件。";
// Entries that others left in a folder that is being protected: listed one per line after the heading.
constexpr char kForeignEntriesNotWritten[] = "为安全起见未写入任何文件。请删除以上文件后重试。";
constexpr char kDamagedMessage[] = "此安装包已损坏，无法安装。\r\n请重新获取一份新的安装包。";

bool IsChecked(ControlId control) { return ReadControlInt(kWindowId, control, kRadioBoxChecked) == 1; }
bool IsVisible(ControlId control) { return ReadControlInt(kWindowId, control, kPropertyVisible) == 1; }
void SetVisible(ControlId control, bool visible) {
  WriteControlInt(kWindowId, control, kPropertyVisible, visible ? 1 : 0);
}
Text Nickname() { return ReadControlText(kWindowId, kNicknameEdit, kEditBoxContent); }

[[noreturn]] void ReportFailedFiles(const char* heading, const FailedFiles& failed) {
  const Text message = JoinTexts({heading, failed.Listing(), failed.Has(FailureCause::kInUse) ? kCloseAndRetry : "",
                                  failed.Has(FailureCause::kDiskFull) ? kFreeSpaceAndRetry : "",
                                  failed.Has(FailureCause::kAccessDenied) ? kRunAsAdministratorAndRetry : "",
                                  failed.Has(FailureCause::kReadOnly) ? kClearReadOnlyAndRetry : ""});
  ShowMessage(message, kPlainBox, TextArg(kSorryCaption));
  EndProgram(1);
}

// Before the first write of an installation or reinstallation: a damaged program must not put a
// broken suite over a working one.
void RequireIntactPayloads() {
  if (VerifyPayloads()) return;
  ShowMessage(kDamagedMessage, kPlainBox, TextArg(kSorryCaption));
  EndProgram(1);
}

// The install folders, held from their inspection (page 1's 下一步, or the uninstallation) until the
// program ends (see InstallFolder.h).
HeldFolders g_folders;

// A folder that may not be used ends the program, with nothing written, deleted or started.
void RequireUsableFolders(FolderRefusal refusal, bool deleting) {
  if (refusal == FolderRefusal::kNone) return;
  const char* why = deleting ? kLinkedFolderNotDeleted : kLinkedFolderNotWritten;
  if (refusal == FolderRefusal::kForeignOwner) why = kForeignFolderNotWritten;
  if (refusal == FolderRefusal::kUnconfirmed)
    why = deleting ? kUnconfirmedFolderNotDeleted : kUnconfirmedFolderNotWritten;
  const Text message =
      refusal == FolderRefusal::kForeignEntries
          ? JoinTexts({kNotInstalledHeading, g_folders.entries(), kForeignEntriesNotWritten})
          : JoinTexts({deleting ? kNotUninstalledHeading : kNotInstalledHeading, g_folders.refused(), why});
  ShowMessage(message, kPlainBox, TextArg(kSorryCaption));
  EndProgram(1);
}

// The payloads and the shortcut: what both the installation and the reinstallation write.
void WriteSuiteFiles(FailedFiles& failed) {
  WriteAllPayloads(&failed);
  Text shortcut = Text::Copy(kShortcutName);
  WideText path;  // the shortcut's path as the system named the desktop: GBK may not hold it
  // The shell object writes the file; what it met on the way is not known here, so the file is asked.
  if (!CreateDesktopShortcut(shortcut, kMainProgram, {}, {}, kShortcutWindowNormal, {}, {}, &path)) {
    failed.Add(path.c_str(), CauseOfFailureAt(path.c_str()));
  }
}

[[noreturn]] void FinishInstallation(FailedFiles& failed) {
  // A folder that moved or became a link since it was checked: what is there now is not started.
  if (!g_folders.InPlace()) failed.Add(kMainProgram, FailureCause::kUnknown);
  if (!failed.empty()) ReportFailedFiles(kNotInstalledMessage, failed);
  // The route is known before the box, which tells the user where to start the suite when the
  // wizard may not start it with its own rights.
  MainProgramStart start;
  ShowMessage(start.WillStart() ? kDoneMessage : kDoneStartFromDesktop, kPlainBox, TextArg(kDoneCaption));
  start.Start(kMainProgram, kInstallDirectory);
  EndProgram(0);
}

[[noreturn]] void Uninstall() {
  HoldInputWhileWorking(kWindowId);  // nothing seems clickable while the work runs
  RequireUsableFolders(g_folders.Prepare(kInstallFolders, FolderUse::kDelete), true);
  // What a killed installation left (its scratch files) goes first.
  RemoveLeftScratchFiles(kInstallDirectory);
  // Every running copy, each terminated once, and waited for; a copy that cannot be stopped shows up as
  // a file that cannot be deleted.
  StopProgramsByName(kProgramsToStop, false, kStopWaitMs);
  Delay(kUninstallWaitMs);
  // The pause is when the folder's owner could have turned it into a mount point: checked again.
  if (!g_folders.InPlace()) RequireUsableFolders(FolderRefusal::kLinked, true);
  FailedFiles failed;
  for (const char* path : kFilesToDelete) {
    // A file that is not there is not a failure; one that is there and stays is.
    ForgetLastError();
    if (RemoveFile(path)) continue;
    const FailureCause cause = CauseOfLastFailure(path);
    if (FileExists(path)) failed.Add(path, cause);
  }
  if (!failed.empty()) ReportFailedFiles(kNotUninstalledMessage, failed);
  ShowMessage(kUninstalledMessage, kPlainBox);
  EndProgram(0);
}

// A registered user's installation is written again as it stands; the configuration is not touched.
[[noreturn]] void Reinstall() {
  HoldInputWhileWorking(kWindowId);  // nothing seems clickable while the work runs
  RequireIntactPayloads();
  RequireUsableFolders(g_folders.MakeReady(kSuiteFiles), false);
  FailedFiles failed;
  WriteSuiteFiles(failed);
  FinishInstallation(failed);
}

// A failed nickname check tells the user, empties the edit box and keeps the page open.
bool RefuseNickname(const char* message) {
  ShowMessage(message, kPlainBox, TextArg(kSorryCaption));
  WriteControlText(kWindowId, kNicknameEdit, kEditBoxContent, "");
  return false;
}

// The nickname as typed: every character one that GBK holds (what it cannot hold would be stored as
// "?"), at most ten bytes, not empty, no ASCII or full-width space.
bool NicknameIsAcceptable() {
  bool held = true;
  ReadControlText(kWindowId, kNicknameEdit, kEditBoxContent, &held);
  if (!held) return RefuseNickname(kUnsavableMessage);
  if (TextLength(Nickname()) > kMaxNicknameBytes) return RefuseNickname(kTooLongMessage);
  const Text withoutSpaces = RemoveAllSpaces(Nickname());
  bool blank = CompareTexts(Nickname().get(), withoutSpaces.get()) != 0;
  if (!blank) blank = CompareTexts(Nickname().get(), "") == 0;
  if (blank) return RefuseNickname(kBlankMessage);
  return true;
}

[[noreturn]] void Install() {
  HoldInputWhileWorking(kWindowId);  // nothing seems clickable while the work runs
  RequireIntactPayloads();
  // Missing folders are made and open ones protected only now, when the writing starts.
  RequireUsableFolders(g_folders.MakeReady(kSuiteFiles), false);
  FailedFiles failed;
  WriteSuiteFiles(failed);
  const Text nickname = ReplaceSubtextPairs(Nickname(), {}, {}, {}, "【", "", TextArg("】"), TextArg(""),
                                            TextArg("@#%$"), TextArg(""));
  const Text gender = ReadControlText(kWindowId, kGenderCombo, kComboBoxContent);
  if (g_folders.InPlace()) {
    WriteRegistration(kConfigFile, nickname, gender, failed);
  } else {
    failed.Add(kConfigFile, FailureCause::kUnknown);
  }
  FinishInstallation(failed);
}

}  // namespace

void OnSelectionNext() {
  if (IsChecked(kUninstallRadio)) Uninstall();
  // The folders are held and looked at before the registration is read in them; nothing is made or
  // changed yet, so that 取消 on page 2 still leaves the disk as it was.
  RequireUsableFolders(g_folders.Inspect(kInstallFolders, FolderUse::kCreateAndWrite), false);
  if (g_folders.present() && IsRegistered(kConfigFile)) Reinstall();
  SetVisible(kRegistrationPanel, true);
  SetVisible(kSelectionPanel, false);
}

void OnSelectionCancel() { EndProgram(0); }

void OnRegistrationNext() {
  if (IsVisible(kDisclaimerEdit)) {
    SetVisible(kDisclaimerEdit, false);
    return;
  }
  if (!NicknameIsAcceptable()) return;
  Install();
}

void OnRegistrationCancel() { EndProgram(0); }

}  // namespace zv::wizard
