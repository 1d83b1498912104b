// The wizard end to end: the real ZorvikSetup.exe, driven from outside through its window, on every
// path. Each case starts from a clean machine (no C:\zor, no desktop shortcut, no suite program
// running) and checks what a user would find afterwards: files, configuration, shortcut, running
// programs, the messages shown and the exit code. The cases share C:\zor, so they run one at a time.
#include <windows.h>
#include <tlhelp32.h>
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "payload/StandIn.h"
#include "tests/e2e/WizardDriver.h"
#include "tests/support/Faults.h"
#include "tests/support/ShortcutReader.h"
#include "tests/support/WinTestSupport.h"

namespace zv::test {
namespace {

const char* const kPayloadNames[] = {"zvmain.exe", "zvmix.exe", "zvtune.exe", "zvlock.exe", "zvaux.exe", "zvchat.exe"};
const char kInstallDir[] = "C:\\zor\\vik";
const char kConfigFile[] = "C:\\zor\\vik\\zvconf.ini";
const char kUninstalled[] = "卸载以完成 稍后你可以手动删除此安装包和桌面快捷方式";
const char kDone[] = "操作以完成";
const char kDoneCaption[] = "恭喜你！！！";
const char kTooLong[] = "老大 你写的也太多了吧，昵称不能大于5个汉字或者10个字符";
const char kBlank[] = "亲，昵称不能空白或者包含空格哦！";
const char kSorry[] = "抱歉";
const char kDamaged[] = "此安装包已损坏，无法安装。\r\n请重新获取一份新的安装包。";
const char kInfoCaption[] = "信息：";
// The advice after a list of files that could not be written or deleted, by cause.
const char kInUseAdvice[] = "\r\n请关闭正在运行的 Zorvik 程序后重试";
const char kDiskFullAdvice[] = "\r\n磁盘空间不足，请释放空间后重试（安装时需要同时容纳新旧两套程序）";
// (Wine runs every program as an administrator, so the advice to run as one never fits there; the
// tests of the causes give it a token without those rights.)
const char kReadOnlyAdvice[] = "\r\n文件为只读，请取消其只读属性后重试";

std::string InstalledPath(const char* name) { return std::string(kInstallDir) + "\\" + name; }
std::string PayloadSource(const char* name) { return std::string(ZV_PAYLOAD_SOURCE_DIR) + "\\" + name; }
std::string ShortcutPath() { return DesktopFolder() + "\\Zorvik.lnk"; }

std::string ReadConfig(const char* key) {
  char value[256] = {};
  GetPrivateProfileStringA("yonghuzu", key, "<missing>", value, sizeof value, kConfigFile);
  return value;
}

std::vector<DWORD> ProcessesNamed(const char* name) {
  std::vector<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (lstrcmpiA(entry.szExeFile, name) == 0) ids.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return ids;
}

void StopSuitePrograms() {
  for (const char* name : {"zvmain.exe", "zvmix.exe", "zvtune.exe", "zvlock.exe", "zvaux.exe", "zvchat.exe"}) {
    for (DWORD id : ProcessesNamed(name)) {
      HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
      if (process == nullptr) continue;
      TerminateProcess(process, 0);
      WaitForSingleObject(process, 5000);
      CloseHandle(process);
    }
  }
}

// Waits a little for a program that the wizard started without waiting for it.
std::vector<DWORD> WaitForProcessesNamed(const char* name, size_t count) {
  std::vector<DWORD> ids;
  for (int i = 0; i < 100; ++i) {
    ids = ProcessesNamed(name);
    if (ids.size() >= count) break;
    Sleep(50);
  }
  return ids;
}

// Every box of the wizard is shown with flags 0, to which the runtime adds task-modality: read from the
// box itself, it has the given caption, one button (OK) and no icon, it is not a topmost (system-modal)
// box, its text reads left to right, and while it is up the wizard's window is disabled.
void ExpectPlainBox(const MessageBox& box, const std::string& caption, HWND wizard) {
  ASSERT_NE(box.window, nullptr) << "no box";
  EXPECT_EQ(box.caption, caption);
  EXPECT_EQ(box.buttonIds, std::vector<int>{IDOK}) << "buttons: " << ::testing::PrintToString(box.buttons);
  EXPECT_FALSE(box.hasIcon);
  EXPECT_FALSE(box.topmost);
  EXPECT_EQ(box.exStyle & (WS_EX_RIGHT | WS_EX_RTLREADING | WS_EX_LAYOUTRTL), 0);
  EXPECT_NE(box.textStyle & SS_TYPEMASK, static_cast<LONG>(SS_RIGHT));
  EXPECT_FALSE(IsWindowEnabled(wizard)) << "the box does not hold the wizard's window";
}

// The system time, in 100 ns units.
ULONGLONG Now() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// When the system recorded the end of a process (0 while it runs).
ULONGLONG EndOf(HANDLE process) {
  FILETIME created, ended, kernel, user;
  if (!GetProcessTimes(process, &created, &ended, &kernel, &user)) return 0;
  return (static_cast<ULONGLONG>(ended.dwHighDateTime) << 32) | ended.dwLowDateTime;
}

// Watches a file from another thread, every few milliseconds, and notes when it was first missing.
class DisappearanceWatch {
 public:
  explicit DisappearanceWatch(std::string path) : path_(std::move(path)) {
    thread_ = CreateThread(nullptr, 0, &DisappearanceWatch::Run, this, 0, nullptr);
  }
  ~DisappearanceWatch() {
    stop_ = true;
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
  }
  // The system time at which the file was first seen missing; 0 when it was still there after `ms`.
  ULONGLONG GoneAt(DWORD ms = 30000) {
    WaitForSingleObject(thread_, ms);
    return goneAt_;
  }

 private:
  static DWORD WINAPI Run(void* parameter) {
    auto* self = static_cast<DisappearanceWatch*>(parameter);
    while (!self->stop_) {
      if (GetFileAttributesA(self->path_.c_str()) == INVALID_FILE_ATTRIBUTES) {
        self->goneAt_ = Now();
        return 0;
      }
      Sleep(2);
    }
    return 0;
  }
  std::string path_;
  HANDLE thread_ = nullptr;
  std::atomic<bool> stop_{false};
  std::atomic<ULONGLONG> goneAt_{0};
};

class Wizard : public testing::Test {
 protected:
  void SetUp() override { CleanMachine(); }
  void TearDown() override { CleanMachine(); }

  static void CleanMachine() {
    StopSuitePrograms();
    RemoveTree("C:\\zor");
    DeleteFileA(ShortcutPath().c_str());
  }

  void StartWizard() { ASSERT_TRUE(driver_.Start(ZV_SETUP_EXE)); }

  // Page 1 with install chosen, then the disclaimer dismissed.
  void OpenRegistration() {
    driver_.Click(WizardControl::SelectionNext);
    ASSERT_TRUE(driver_.IsShown(WizardControl::RegistrationPanel));
    ASSERT_FALSE(driver_.IsShown(WizardControl::SelectionPanel));
    ASSERT_TRUE(driver_.IsShown(WizardControl::Disclaimer));
    driver_.Click(WizardControl::RegistrationNext);
    ASSERT_FALSE(driver_.IsShown(WizardControl::Disclaimer));
  }

  // Types a nickname, clicks Next and returns the message box that follows.
  MessageBox SubmitNickname(const std::string& nickname, int gender = 0) {
    driver_.TypeNickname(nickname);
    driver_.PickGender(gender);
    driver_.Click(WizardControl::RegistrationNext);
    return driver_.NextMessageBox();
  }

  // Page 1 with uninstall chosen, then Next: the message box that follows.
  MessageBox ChooseUninstall() {
    driver_.Click(WizardControl::UninstallRadio);
    driver_.Click(WizardControl::SelectionNext);
    return driver_.NextMessageBox();
  }

  // Installs with `nickname` on a clean machine: the completion message, then exit code 0.
  void InstallAs(const std::string& nickname, int gender = 0) {
    StartWizard();
    OpenRegistration();
    MessageBox box = SubmitNickname(nickname, gender);
    ExpectPlainBox(box, kDoneCaption);
    EXPECT_EQ(box.text, kDone);
    PressOk(box);
    EXPECT_EQ(driver_.WaitForExit(), 0u);
  }

  void ExpectPayloadsInstalled() {
    for (const char* name : kPayloadNames) {
      const std::string installed = ReadWholeFile(InstalledPath(name));
      EXPECT_FALSE(installed.empty()) << name;
      EXPECT_TRUE(installed == ReadWholeFile(PayloadSource(name))) << name << " differs from the embedded payload";
    }
  }

  void ExpectShortcutToMainProgram() {
    const ShortcutInfo link = ReadShortcut(ShortcutPath());
    ASSERT_TRUE(link.loaded) << ShortcutPath();
    EXPECT_STREQ(link.target.c_str(), "C:\\zor\\vik\\zvmain.exe");
    EXPECT_STREQ(link.workingDirectory.c_str(), "C:\\zor\\vik\\");
    EXPECT_STREQ(link.iconPath.c_str(), "C:\\zor\\vik\\zvmain.exe");
    EXPECT_EQ(link.iconIndex, 0);
    EXPECT_EQ(link.showCommand, SW_SHOWNORMAL);
  }

  // A machine on which a user "小明" installed the suite.
  static void PrepareInstalledMachine(const char* nickname = "小明") {
    CreateDirectoryA("C:\\zor", nullptr);
    CreateDirectoryA(kInstallDir, nullptr);
    for (const char* name : kPayloadNames) WriteWholeFile(InstalledPath(name), ReadWholeFile(PayloadSource(name)));
    WritePrivateProfileStringA("yonghuzu", "nicheng", nickname, kConfigFile);
    WritePrivateProfileStringA("yonghuzu", "xingbie", "男性", kConfigFile);
  }

  void ExpectPlainBox(const MessageBox& box, const std::string& caption) {
    test::ExpectPlainBox(box, caption, driver_.window());
  }

  // The box says the installation (uninstallation) is incomplete, names exactly these files in this
  // order, and ends with exactly this advice ("" for none).
  static void ExpectIncomplete(const MessageBox& box, const std::string& heading, const std::vector<std::string>& files,
                               const std::string& advice, HWND wizard) {
    test::ExpectPlainBox(box, kSorry, wizard);
    std::string expected = heading;
    for (const std::string& file : files) expected += file + "\r\n";
    EXPECT_EQ(box.text, expected + advice);
  }
  void ExpectNotInstalled(const MessageBox& box, const std::vector<std::string>& files, const std::string& advice) {
    ExpectIncomplete(box, "安装未完成，以下文件无法写入：\r\n", files, advice, driver_.window());
  }
  void ExpectNotUninstalled(const MessageBox& box, const std::vector<std::string>& files, const std::string& advice) {
    ExpectIncomplete(box, "卸载未完成，以下文件无法删除：\r\n", files, advice, driver_.window());
  }

  // The completion box: the main program is started only once the user has acknowledged it.
  void AcknowledgeCompletion(const MessageBox& box) {
    ExpectPlainBox(box, kDoneCaption);
    EXPECT_EQ(box.text, kDone);
    // A program started before the box would be listed by now: starting it waits for it to be ready.
    EXPECT_TRUE(ProcessesNamed("zvmain.exe").empty()) << "the main program runs while the box is up";
    PressOk(box);
    EXPECT_EQ(driver_.WaitForExit(), 0u);
    EXPECT_EQ(WaitForProcessesNamed("zvmain.exe", 1).size(), 1u) << "the main program was not started";
  }

  WizardDriver driver_;
};

TEST_F(Wizard, InstallsOnACleanMachine) {
  StartWizard();
  OpenRegistration();
  MessageBox box = SubmitNickname("小明", 1);
  AcknowledgeCompletion(box);

  ExpectPayloadsInstalled();
  EXPECT_EQ(ReadConfig("nicheng"), "小明");
  EXPECT_EQ(ReadConfig("xingbie"), "男性");
  ExpectShortcutToMainProgram();
}

TEST_F(Wizard, InstallingAgainReinstallsWithoutRegistration) {
  PrepareInstalledMachine();
  WriteWholeFile(InstalledPath("zvmix.exe"), "old");
  const std::string configBefore = ReadWholeFile(kConfigFile);
  StartWizard();
  driver_.Click(WizardControl::SelectionNext);
  MessageBox box = driver_.NextMessageBox();
  EXPECT_FALSE(driver_.IsShown(WizardControl::RegistrationPanel));
  AcknowledgeCompletion(box);

  ExpectPayloadsInstalled();
  EXPECT_EQ(ReadWholeFile(kConfigFile), configBefore);
  ExpectShortcutToMainProgram();
}

TEST_F(Wizard, UninstallStopsTheSuiteAndDeletesItsFilesButKeepsTheConfiguration) {
  PrepareInstalledMachine();
  for (const char* extra : {"zvplay.exe", "zvmix.htm", "zvsky.htm", "zvstat.htm"}) WriteWholeFile(InstalledPath(extra), "x");
  // What a killed installation leaves: a program staged beside its target, and an old one kept aside.
  for (const char* left : {"zvw0123456789ABCDEF.tmp", "zvwFEDCBA9876543210.tmp"}) WriteWholeFile(InstalledPath(left), "x");
  ChildProcess first, second;
  ASSERT_TRUE(first.Start("\"" + InstalledPath("zvmain.exe") + "\""));
  ASSERT_TRUE(second.Start("\"" + InstalledPath("zvmain.exe") + "\""));
  ASSERT_EQ(WaitForProcessesNamed("zvmain.exe", 2).size(), 2u);

  StartWizard();
  MessageBox box = ChooseUninstall();
  ExpectPlainBox(box, kInfoCaption);
  EXPECT_EQ(box.text, kUninstalled);
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 0u);

  EXPECT_FALSE(first.IsRunning());
  EXPECT_FALSE(second.IsRunning());
  for (const char* name : kPayloadNames) EXPECT_FALSE(PathExists(InstalledPath(name))) << name;
  for (const char* extra : {"zvplay.exe", "zvmix.htm", "zvsky.htm", "zvstat.htm"}) {
    EXPECT_FALSE(PathExists(InstalledPath(extra))) << extra;
  }
  EXPECT_EQ(FilesIn(kInstallDir), std::vector<std::string>{"zvconf.ini"});
  EXPECT_EQ(ReadConfig("nicheng"), "小明");
}

TEST_F(Wizard, UninstallStopsEveryCopyOfTheFourProgramsAndDeletesTwoSecondsAfterTheLastHasEnded) {
  PrepareInstalledMachine();
  // Copies of a suite program under the names of the suite, some in letter cases of their own, run
  // from a folder of the test's: the installed files themselves are free, so that what decides when
  // they can go is the uninstallation's own order.
  const std::string folder = MakeTestRoot("RunningSuite");
  const struct {
    const char* image;
    int copies;
    bool stopped;
  } programs[] = {
      {"zvmain.exe", 2, true}, {"ZVMIX.EXE", 1, true},  {"zvtune.exe", 1, true},
      {"ZvAux.exe", 2, true},  {"zvlock.exe", 1, false}, {"zvchat.exe", 1, false},
  };
  std::vector<ChildProcess> stopped(6), kept(2);
  std::size_t nextStopped = 0, nextKept = 0;
  for (const auto& program : programs) {
    const std::string image = folder + "\\" + program.image;
    ASSERT_TRUE(CopyFileA(PayloadSource("zvmain.exe").c_str(), image.c_str(), FALSE));
    for (int i = 0; i < program.copies; ++i) {
      ChildProcess& process = program.stopped ? stopped[nextStopped++] : kept[nextKept++];
      ASSERT_TRUE(process.Start("\"" + image + "\"")) << program.image;
      WaitForInputIdle(process.handle(), 10000);
    }
  }

  DisappearanceWatch firstDeletion(InstalledPath("zvmain.exe"));
  StartWizard();
  MessageBox box = ChooseUninstall();
  ExpectPlainBox(box, kInfoCaption);
  EXPECT_EQ(box.text, kUninstalled);
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 0u);

  ULONGLONG lastEnd = 0;
  for (std::size_t i = 0; i < stopped.size(); ++i) {
    ASSERT_EQ(stopped[i].Wait(0), 0u) << "copy " << i << " of the stop list still runs, or did not end with 0";
    const ULONGLONG end = EndOf(stopped[i].handle());
    ASSERT_NE(end, 0u) << "the system keeps no end time for copy " << i;
    lastEnd = std::max(lastEnd, end);
  }
  for (ChildProcess& process : kept) EXPECT_TRUE(process.IsRunning()) << "a program off the stop list was stopped";
  const ULONGLONG gone = firstDeletion.GoneAt();
  ASSERT_NE(gone, 0u);
  // The first deletion comes no earlier than two seconds after the last copy has ended (a little
  // leeway for the two clocks' granularity).
  EXPECT_GE(static_cast<LONGLONG>(gone - lastEnd), 2000 * 10000LL - 30 * 10000LL)
      << "the first file went " << static_cast<LONGLONG>(gone - lastEnd) / 10000 << " ms after the last copy ended";
  for (const char* name : kPayloadNames) EXPECT_FALSE(PathExists(InstalledPath(name))) << name;
  for (ChildProcess& process : kept) {
    process.Terminate();
    process.Wait(5000);
  }
  RemoveTree(folder);
}

TEST_F(Wizard, UninstallOfAReadOnlyFileSaysThatItIsReadOnly) {
  PrepareInstalledMachine();
  {
    ReadOnlyFile readOnly(InstalledPath("zvchat.exe"));
    ASSERT_TRUE(readOnly.ok()) << readOnly.whyNot();
    StartWizard();
    MessageBox box = ChooseUninstall();
    ExpectNotUninstalled(box, {InstalledPath("zvchat.exe")}, kReadOnlyAdvice);
    PressOk(box);
    EXPECT_EQ(driver_.WaitForExit(), 1u);
  }
  EXPECT_TRUE(PathExists(InstalledPath("zvchat.exe")));
  EXPECT_FALSE(PathExists(InstalledPath("zvmain.exe")));
}

TEST_F(Wizard, UninstallWhileAProgramOffTheStopListRunsAsksToCloseIt) {
  PrepareInstalledMachine();
  ChildProcess lock;
  ASSERT_TRUE(lock.Start("\"" + InstalledPath("zvlock.exe") + "\""));
  ASSERT_EQ(WaitForProcessesNamed("zvlock.exe", 1).size(), 1u);
  StartWizard();
  MessageBox box = ChooseUninstall();
  ExpectNotUninstalled(box, {InstalledPath("zvlock.exe")}, kInUseAdvice);
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 1u);
  EXPECT_TRUE(lock.IsRunning());
}

TEST_F(Wizard, UninstallWithNothingInstalledStillReportsCompletion) {
  StartWizard();
  MessageBox box = ChooseUninstall();
  ExpectPlainBox(box, kInfoCaption);
  EXPECT_EQ(box.text, kUninstalled);
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 0u);
  EXPECT_FALSE(PathExists("C:\\zor"));
}

TEST_F(Wizard, FirstNextOnTheRegistrationPageOnlyHidesTheDisclaimer) {
  StartWizard();
  driver_.Click(WizardControl::SelectionNext);
  driver_.TypeNickname("小明");
  driver_.Click(WizardControl::RegistrationNext);
  EXPECT_FALSE(driver_.IsShown(WizardControl::Disclaimer));
  EXPECT_TRUE(driver_.IsShown(WizardControl::NicknameEdit));
  EXPECT_TRUE(driver_.IsRunning());
  EXPECT_FALSE(PathExists("C:\\zor"));
  driver_.Click(WizardControl::RegistrationCancel);
  EXPECT_EQ(driver_.WaitForExit(), 0u);
}

TEST_F(Wizard, NicknameLongerThanTenBytesIsRefusedAndCleared) {
  StartWizard();
  OpenRegistration();
  MessageBox box = SubmitNickname("一二三四五a");
  ExpectPlainBox(box, kSorry);
  EXPECT_EQ(box.text, kTooLong);
  PressOk(box);
  driver_.Settle();
  EXPECT_EQ(driver_.Text(WizardControl::NicknameEdit), "");
  EXPECT_TRUE(driver_.IsRunning());
  // Both too long and with a space: the length check comes first.
  box = SubmitNickname("一二三 四五");
  EXPECT_EQ(box.text, kTooLong);
  PressOk(box);
  driver_.Settle();
  driver_.Click(WizardControl::RegistrationCancel);
  EXPECT_EQ(driver_.WaitForExit(), 0u);
  EXPECT_FALSE(PathExists("C:\\zor"));
}

TEST_F(Wizard, NicknameWithSpacesOrEmptyIsRefusedAndCleared) {
  StartWizard();
  OpenRegistration();
  for (const std::string nickname : {" ab", "a b", "ab ", "a　b", "　", ""}) {
    MessageBox box = SubmitNickname(nickname);
    ExpectPlainBox(box, kSorry);
    EXPECT_EQ(box.text, kBlank) << nickname;
    PressOk(box);
    driver_.Settle();
    EXPECT_EQ(driver_.Text(WizardControl::NicknameEdit), "") << nickname;
  }
  driver_.Click(WizardControl::RegistrationCancel);
  EXPECT_EQ(driver_.WaitForExit(), 0u);
  EXPECT_FALSE(PathExists("C:\\zor"));
}

TEST_F(Wizard, FiveDoubleByteCharactersPass) {
  InstallAs("一二三四五", 2);
  EXPECT_EQ(ReadConfig("nicheng"), "一二三四五");
  EXPECT_EQ(ReadConfig("xingbie"), "人妖");
}

TEST_F(Wizard, NicknameWithATabPasses) {
  InstallAs("a\tb");
  EXPECT_EQ(ReadConfig("nicheng"), "a\tb");
  EXPECT_EQ(ReadConfig("xingbie"), "女性");
}

TEST_F(Wizard, BracketsAreCleanedFromTheStoredNickname) {
  InstallAs("【ab】");
  EXPECT_EQ(ReadConfig("nicheng"), "ab");
}

TEST_F(Wizard, MarkerOnlyNicknameIsStoredEmptySoTheNextRunRegistersAgain) {
  InstallAs("@#%$");
  EXPECT_EQ(ReadConfig("nicheng"), "");
  StopSuitePrograms();

  WizardDriver again;
  ASSERT_TRUE(again.Start(ZV_SETUP_EXE));
  again.Click(WizardControl::SelectionNext);
  EXPECT_TRUE(again.IsShown(WizardControl::RegistrationPanel));
  again.Click(WizardControl::RegistrationCancel);
  EXPECT_EQ(again.WaitForExit(), 0u);
}

TEST_F(Wizard, CancelEndsTheProgramOnEitherPageWritingNothing) {
  {
    WizardDriver page1;
    ASSERT_TRUE(page1.Start(ZV_SETUP_EXE));
    page1.Click(WizardControl::SelectionCancel);
    EXPECT_EQ(page1.WaitForExit(), 0u);
  }
  {
    WizardDriver disclaimer;
    ASSERT_TRUE(disclaimer.Start(ZV_SETUP_EXE));
    disclaimer.Click(WizardControl::SelectionNext);
    disclaimer.Click(WizardControl::RegistrationCancel);
    EXPECT_EQ(disclaimer.WaitForExit(), 0u);
  }
  {
    WizardDriver registration;
    ASSERT_TRUE(registration.Start(ZV_SETUP_EXE));
    registration.Click(WizardControl::SelectionNext);
    registration.Click(WizardControl::RegistrationNext);
    registration.TypeNickname("小明");
    registration.Click(WizardControl::RegistrationCancel);
    EXPECT_EQ(registration.WaitForExit(), 0u);
  }
  EXPECT_FALSE(PathExists("C:\\zor"));
  EXPECT_FALSE(PathExists(ShortcutPath()));
}

TEST_F(Wizard, InstallWithTheMainProgramHeldOpenSaysSoAndEndsWithOne) {
  CreateDirectoryA("C:\\zor", nullptr);
  CreateDirectoryA(kInstallDir, nullptr);
  WriteWholeFile(InstalledPath("zvmain.exe"), "old main program");
  HANDLE held = CreateFileA(InstalledPath("zvmain.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);

  StartWizard();
  OpenRegistration();
  MessageBox box = SubmitNickname("小明");
  ExpectNotInstalled(box, {InstalledPath("zvmain.exe")}, kInUseAdvice);
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 1u);
  CloseHandle(held);

  // All six programs or none; the configuration is written as before.
  EXPECT_EQ(ReadWholeFile(InstalledPath("zvmain.exe")), "old main program");
  EXPECT_EQ(FilesIn(kInstallDir), (std::vector<std::string>{"zvconf.ini", "zvmain.exe"}));
  EXPECT_EQ(ReadConfig("nicheng"), "小明");
  Sleep(500);
  EXPECT_TRUE(ProcessesNamed("zvmain.exe").empty());
}

TEST_F(Wizard, UninstallWithAFileHeldOpenSaysSoAndEndsWithOne) {
  PrepareInstalledMachine();
  HANDLE held = CreateFileA(InstalledPath("zvlock.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);

  StartWizard();
  MessageBox box = ChooseUninstall();
  ExpectNotUninstalled(box, {InstalledPath("zvlock.exe")}, kInUseAdvice);
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 1u);
  CloseHandle(held);

  EXPECT_TRUE(PathExists(InstalledPath("zvlock.exe")));
  EXPECT_FALSE(PathExists(InstalledPath("zvmain.exe")));
  EXPECT_EQ(ReadConfig("nicheng"), "小明");
}

// A copy of the setup program in a test folder with one byte changed in the middle of the embedded
// zvaux.exe, as a download cut or corrupted on the way would leave it; the program itself still runs.
std::string MakeDamagedCopy(const std::string& folder) {
  std::string image = ReadWholeFile(ZV_SETUP_EXE);
  const std::string payload = ReadWholeFile(PayloadSource("zvaux.exe"));
  const std::size_t at = image.find(payload);
  if (image.empty() || payload.empty() || at == std::string::npos) return "";
  image[at + payload.size() / 2] ^= 0x01;
  const std::string copy = folder + "\\ZorvikSetup.exe";
  return WriteWholeFile(copy, image) ? copy : "";
}

TEST_F(Wizard, ADamagedCopyInstallsNothingAndSaysSo) {
  const std::string folder = MakeTestRoot("DamagedInstall");
  const std::string damaged = MakeDamagedCopy(folder);
  ASSERT_FALSE(damaged.empty());
  ASSERT_TRUE(driver_.Start(damaged));
  OpenRegistration();
  MessageBox box = SubmitNickname("小明");
  ExpectPlainBox(box, kSorry);
  EXPECT_EQ(box.text, kDamaged);
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 1u);

  EXPECT_FALSE(PathExists("C:\\zor"));
  EXPECT_FALSE(PathExists(ShortcutPath()));
  Sleep(500);
  EXPECT_TRUE(ProcessesNamed("zvmain.exe").empty());
  RemoveTree(folder);
}

TEST_F(Wizard, ADamagedCopyLeavesAnInstalledSuiteAsItIs) {
  PrepareInstalledMachine();
  WriteWholeFile(InstalledPath("zvmix.exe"), "an older zvmix");
  std::vector<std::string> before;
  for (const char* name : kPayloadNames) before.push_back(ReadWholeFile(InstalledPath(name)));
  const std::string configBefore = ReadWholeFile(kConfigFile);
  const std::string folder = MakeTestRoot("DamagedReinstall");
  const std::string damaged = MakeDamagedCopy(folder);
  ASSERT_FALSE(damaged.empty());

  ASSERT_TRUE(driver_.Start(damaged));
  driver_.Click(WizardControl::SelectionNext);
  MessageBox box = driver_.NextMessageBox();
  ExpectPlainBox(box, kSorry);
  EXPECT_EQ(box.text, kDamaged);
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 1u);

  for (std::size_t i = 0; i < std::size(kPayloadNames); ++i) {
    EXPECT_TRUE(ReadWholeFile(InstalledPath(kPayloadNames[i])) == before[i]) << kPayloadNames[i];
  }
  EXPECT_EQ(ReadWholeFile(kConfigFile), configBefore);
  EXPECT_FALSE(PathExists(ShortcutPath()));
  RemoveTree(folder);
}

// ---- Faults during an installation: the user is told which files, in a "抱歉" box, and the exit
// code is 1; no file that was there before is damaged and no scratch file is left.


// C:\zor as a link to a folder of the small drive, for as long as the object lives. Made and removed
// on the Linux side: Windows has no call that makes such a link under Wine.
class InstallRootOnSmallDrive {
 public:
  InstallRootOnSmallDrive(SmallDrive& drive) {
    const std::string folder = drive.MakeFolder("zor");
    target_ = UnixPathOf(folder);
    link_ = UnixPathOf("C:\\zor");
    if (target_.empty() || link_.empty()) return;
    RunLinuxProgram("/bin/ln -s \"" + target_ + "\" \"" + link_ + "\"");
    for (int i = 0; i < 250 && !PathExists("C:\\zor"); ++i) Sleep(20);
    made_ = PathExists("C:\\zor");
  }
  ~InstallRootOnSmallDrive() {
    if (link_.empty()) return;
    RunLinuxProgram("/bin/rm -f \"" + link_ + "\"");
    for (int i = 0; i < 250 && PathExists("C:\\zor"); ++i) Sleep(20);
  }
  bool made() const { return made_; }

 private:
  std::string target_;
  std::string link_;
  bool made_ = false;
};

TEST_F(Wizard, InstallOntoADiskThatFillsUpSaysWhatWasNotWrittenAndKeepsTheOldFiles) {
  SmallDrive drive;
  if (!drive.available()) GTEST_SKIP() << drive.whyNot();
  InstallRootOnSmallDrive root(drive);
  ASSERT_TRUE(root.made());
  // A link is a reparse point, and an installation running as an administrator (as every program
  // under Wine does) rightly refuses to write through one that another user owns; Wine has no way
  // to make it the administrators'. Only a run without administrator rights follows it, which
  // Windows can show. The full-disk cases of the file and configuration writes (FileOperationsTest,
  // IniTest) cover each write on a full disk here.
  if ((GetFileAttributesA("C:\\zor") & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    GTEST_SKIP() << "the small drive's folder at C:\\zor is a reparse point here, which the installation refuses";
  ASSERT_TRUE(CreateDirectoryA(kInstallDir, nullptr));
  ASSERT_TRUE(WriteWholeFile(InstalledPath("zvlock.exe"), "old zvlock"));
  // Room for zvmain.exe, zvmix.exe and half of zvtune.exe, in 4 KB pages.
  auto pages = [](std::size_t bytes) { return (bytes + 4095) / 4096 * 4096; };
  const std::uint64_t room = pages(ReadWholeFile(PayloadSource("zvmain.exe")).size()) +
                             pages(ReadWholeFile(PayloadSource("zvmix.exe")).size()) +
                             pages(ReadWholeFile(PayloadSource("zvtune.exe")).size() / 2);
  if (room > drive.FreeBytes()) GTEST_SKIP() << "the embedded payloads are too large for the small drive";
  ASSERT_TRUE(drive.LeaveFree(room));

  StartWizard();
  OpenRegistration();
  MessageBox box = SubmitNickname("小明");
  ExpectNotInstalled(box, {InstalledPath("zvtune.exe"), InstalledPath("zvlock.exe"),
                           InstalledPath("zvaux.exe"), InstalledPath("zvchat.exe"), kConfigFile},
                     kDiskFullAdvice);
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 1u);

  // All six programs or none: not even those that fitted.
  EXPECT_EQ(ReadWholeFile(InstalledPath("zvlock.exe")), "old zvlock");
  EXPECT_EQ(FilesIn(kInstallDir), std::vector<std::string>{"zvlock.exe"});
  Sleep(500);
  EXPECT_TRUE(ProcessesNamed("zvmain.exe").empty());
}

TEST_F(Wizard, InstallOverAReadOnlyProgramSaysSoAndKeepsIt) {
  CreateDirectoryA("C:\\zor", nullptr);
  CreateDirectoryA(kInstallDir, nullptr);
  ASSERT_TRUE(WriteWholeFile(InstalledPath("zvtune.exe"), "old zvtune"));
  ReadOnlyFile readOnly(InstalledPath("zvtune.exe"));
  ASSERT_TRUE(readOnly.ok()) << readOnly.whyNot();

  StartWizard();
  OpenRegistration();
  MessageBox box = SubmitNickname("小明");
  ExpectNotInstalled(box, {InstalledPath("zvtune.exe")}, kReadOnlyAdvice);
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 1u);

  // All six programs or none; the configuration is written as before.
  EXPECT_EQ(ReadWholeFile(InstalledPath("zvtune.exe")), "old zvtune");
  EXPECT_EQ(FilesIn(kInstallDir), (std::vector<std::string>{"zvconf.ini", "zvtune.exe"}));
}

TEST_F(Wizard, InstallWhereTheInstallFolderIsAFileSaysSoAndKeepsTheFile) {
  CreateDirectoryA("C:\\zor", nullptr);
  ASSERT_TRUE(WriteWholeFile(kInstallDir, "a file named vik"));

  StartWizard();
  OpenRegistration();
  MessageBox box = SubmitNickname("小明");
  std::vector<std::string> all;
  for (const char* name : kPayloadNames) all.push_back(InstalledPath(name));
  all.push_back(kConfigFile);
  ExpectNotInstalled(box, all, "");  // no cause the user could act on
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 1u);

  EXPECT_EQ(ReadWholeFile(kInstallDir), "a file named vik");
  EXPECT_EQ(FilesIn("C:\\zor"), std::vector<std::string>{"vik"});
}

TEST_F(Wizard, InstallWithAReadOnlyConfigurationSaysSoAndKeepsIt) {
  CreateDirectoryA("C:\\zor", nullptr);
  CreateDirectoryA(kInstallDir, nullptr);
  const std::string before = "[zvchat]\r\nserver=chat.example\r\n";
  ASSERT_TRUE(WriteWholeFile(kConfigFile, before));
  ReadOnlyFile readOnly(kConfigFile);
  ASSERT_TRUE(readOnly.ok()) << readOnly.whyNot();

  StartWizard();
  OpenRegistration();
  MessageBox box = SubmitNickname("小明");
  ExpectNotInstalled(box, {kConfigFile}, kReadOnlyAdvice);
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 1u);

  EXPECT_EQ(ReadWholeFile(kConfigFile), before);
  ExpectPayloadsInstalled();
}

TEST_F(Wizard, InstallWhenTheShortcutCannotBeSavedSaysSo) {
  // A folder of the shortcut's name can be neither deleted as a file nor written over.
  ASSERT_TRUE(CreateDirectoryA(ShortcutPath().c_str(), nullptr));
  StartWizard();
  OpenRegistration();
  MessageBox box = SubmitNickname("小明");
  ExpectNotInstalled(box, {ShortcutPath()}, "");  // a folder in the way is no question of rights
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 1u);
  RemoveDirectoryA(ShortcutPath().c_str());
  ExpectPayloadsInstalled();
  EXPECT_EQ(ReadConfig("nicheng"), "小明");
}

// ---- What a nickname can do to the configuration file.

// Every section of the configuration file with its keys and values, as the profile reader of the
// system sees the file afresh (through a copy of a new name, so that no cached view answers).
std::map<std::string, std::map<std::string, std::string>> ConfigurationAsRead() {
  const std::string copy = std::string(kConfigFile) + ".read";
  std::map<std::string, std::map<std::string, std::string>> sections;
  if (!CopyFileA(kConfigFile, copy.c_str(), FALSE)) return sections;
  std::vector<char> names(65536), pairs(65536);
  GetPrivateProfileSectionNamesA(names.data(), static_cast<DWORD>(names.size()), copy.c_str());
  for (const char* name = names.data(); *name != '\0'; name += std::strlen(name) + 1) {
    GetPrivateProfileSectionA(name, pairs.data(), static_cast<DWORD>(pairs.size()), copy.c_str());
    for (const char* pair = pairs.data(); *pair != '\0'; pair += std::strlen(pair) + 1) {
      const char* eq = std::strchr(pair, '=');
      sections[name][eq ? std::string(pair, eq) : std::string(pair)] = eq ? eq + 1 : "";
    }
  }
  DeleteFileA(copy.c_str());
  return sections;
}

TEST_F(Wizard, ANicknameWithSectionAndKeySyntaxIsStoredAsItIs) {
  StartWizard();
  OpenRegistration();
  MessageBox box = SubmitNickname("[x]=y;#");
  ExpectPlainBox(box, kDoneCaption);
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 0u);
  using Keys = std::map<std::string, std::string>;
  EXPECT_EQ(ConfigurationAsRead(),
            (std::map<std::string, Keys>{{"yonghuzu", Keys{{"nicheng", "[x]=y;#"}, {"xingbie", "女性"}}}}));
}

TEST_F(Wizard, ANicknameWithALineBreakCannotAddSectionsOrKeys) {
  // Ten bytes, no space: the nickname checks let it through. (Typed into the edit box by the driver as
  // a program would; a person can paste it.)
  for (const std::string nickname : {"a\r\n[x]", "b\nxingbie=", "c\rk=v"}) {
    CleanMachine();
    WizardDriver driver;
    ASSERT_TRUE(driver.Start(ZV_SETUP_EXE));
    driver.Click(WizardControl::SelectionNext);
    driver.Click(WizardControl::RegistrationNext);
    driver.TypeNickname(nickname);
    driver.Click(WizardControl::RegistrationNext);
    MessageBox box = driver.NextMessageBox();
    ExpectIncomplete(box, "安装未完成，以下文件无法写入：\r\n", {kConfigFile}, "", driver.window());
    PressOk(box);
    EXPECT_EQ(driver.WaitForExit(), 1u);
    using Keys = std::map<std::string, std::string>;
    EXPECT_EQ(ConfigurationAsRead(), (std::map<std::string, Keys>{{"yonghuzu", Keys{{"xingbie", "女性"}}}}))
        << ::testing::PrintToString(nickname);
  }
}

// ---- Libraries and type libraries planted beside the program and in the folder it is started from.

// ---- The install folder under the security model ---------------------------------------------
// Wine runs the wizard as an administrator, and a Linux symbolic link, which it reports as a reparse
// point, belongs to the prefix user: a link that another user could have planted.

class LinkedInstallFolder : public Wizard {
 protected:
  void SetUp() override {
    Wizard::SetUp();
    RemoveTree(kElsewhere);
    ASSERT_TRUE(CreateDirectoryA(kElsewhere, nullptr));
    ASSERT_TRUE(CreateDirectoryA("C:\\zor", nullptr));
    if (!MakeLinuxLink(kInstallDir, kElsewhere)) GTEST_SKIP() << "no Linux symbolic link could be made here";
  }
  void TearDown() override {
    RemoveLinuxLink(kInstallDir);
    Wizard::TearDown();
    RemoveTree(kElsewhere);
  }
  static constexpr char kElsewhere[] = "C:\\zvelsewhere";
};

TEST_F(LinkedInstallFolder, AnInstallationWritesNothingThroughItAndSaysSo) {
  StartWizard();
  driver_.Click(WizardControl::SelectionNext);  // refused here, before page 2
  MessageBox box = driver_.NextMessageBox();
  ExpectPlainBox(box, kSorry);
  EXPECT_EQ(box.text, "安装未完成：\r\nC:\\zor\\vik 是指向其他位置的链接，为安全起见未写入任何文件。");
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 1u);
  EXPECT_TRUE(FilesIn(kElsewhere).empty()) << "written through the link";
  EXPECT_FALSE(PathExists(ShortcutPath()));
  EXPECT_TRUE(ProcessesNamed("zvmain.exe").empty());
}

TEST_F(LinkedInstallFolder, AReinstallationWritesNothingThroughIt) {
  ASSERT_TRUE(WriteWholeFile(std::string(kElsewhere) + "\\zvmain.exe", "someone's zvmain"));
  WritePrivateProfileStringA("yonghuzu", "nicheng", "小明", (std::string(kElsewhere) + "\\zvconf.ini").c_str());
  StartWizard();
  driver_.Click(WizardControl::SelectionNext);
  MessageBox box = driver_.NextMessageBox();
  ExpectPlainBox(box, kSorry);
  EXPECT_EQ(box.text, "安装未完成：\r\nC:\\zor\\vik 是指向其他位置的链接，为安全起见未写入任何文件。");
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 1u);
  EXPECT_EQ(FilesIn(kElsewhere), (std::vector<std::string>{"zvconf.ini", "zvmain.exe"}));
  EXPECT_EQ(ReadWholeFile(std::string(kElsewhere) + "\\zvmain.exe"), "someone's zvmain");
  EXPECT_FALSE(PathExists(ShortcutPath()));
}

TEST_F(LinkedInstallFolder, AnUninstallationDeletesNothingThroughItAndSaysSo) {
  for (const char* name : kPayloadNames)
    ASSERT_TRUE(WriteWholeFile(std::string(kElsewhere) + "\\" + name, "someone's file"));
  StartWizard();
  MessageBox box = ChooseUninstall();
  ExpectPlainBox(box, kSorry);
  EXPECT_EQ(box.text, "卸载未完成：\r\nC:\\zor\\vik 是指向其他位置的链接，为安全起见未删除任何文件。");
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 1u);
  EXPECT_EQ(FilesIn(kElsewhere).size(), std::size(kPayloadNames));
}

// From its check to its last deletion the uninstallation holds both folders: another program that
// tries to move them aside during the pause (to put a link in their place, which would turn the
// deletions against other files) is refused, and the deletions happen in the real folder.
struct FolderMoves {
  HANDLE stopped = nullptr;  // the running copy that the uninstallation stops before its pause
  DWORD errors[2] = {};      // MoveFileExA's error for C:\zor\vik and C:\zor (0: moved)
  std::vector<HWND> buttons;  // the page's buttons, none of which may take input during the work
  int enabled = 0;
  static DWORD WINAPI Run(void* parameter) {
    auto* self = static_cast<FolderMoves*>(parameter);
    if (WaitForSingleObject(self->stopped, 30000) != WAIT_OBJECT_0) return 1;
    for (HWND button : self->buttons) self->enabled += IsWindowEnabled(button) ? 1 : 0;
    const char* const moves[2][2] = {{kInstallDir, "C:\\zor\\vik.moved"}, {"C:\\zor", "C:\\zor.moved"}};
    for (int i = 0; i < 2; ++i) {
      const bool moved = MoveFileExA(moves[i][0], moves[i][1], 0);
      self->errors[i] = moved ? 0 : GetLastError();
      if (moved) MoveFileExA(moves[i][1], moves[i][0], 0);
    }
    return 0;
  }
};

TEST_F(Wizard, NeitherInstallFolderCanBeMovedWhileAnUninstallationPauses) {
  PrepareInstalledMachine();
  ChildProcess running;
  ASSERT_TRUE(running.Start("\"" + InstalledPath("zvmain.exe") + "\""));
  WaitForInputIdle(running.handle(), 10000);
  FolderMoves moves{running.handle()};
  StartWizard();
  for (const WizardControl button : {WizardControl::InstallRadio, WizardControl::UninstallRadio,
                                     WizardControl::SelectionNext, WizardControl::SelectionCancel})
    moves.buttons.push_back(driver_.Control(button));
  HANDLE thread = CreateThread(nullptr, 0, &FolderMoves::Run, &moves, 0, nullptr);
  MessageBox box = ChooseUninstall();
  ASSERT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
  CloseHandle(thread);
  EXPECT_EQ(box.text, kUninstalled);
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 0u);
  EXPECT_NE(moves.errors[0], 0u) << "C:\\zor\\vik was moved during the pause";
  EXPECT_NE(moves.errors[1], 0u) << "C:\\zor was moved during the pause";
  EXPECT_EQ(moves.enabled, 0) << "buttons that take input while the uninstallation works";
  for (const char* name : kPayloadNames) EXPECT_FALSE(PathExists(InstalledPath(name))) << name;
  EXPECT_EQ(ReadConfig("nicheng"), "小明");
}

// Holding a folder does not keep its owner from turning it into a mount point in place. Wine's share
// modes do not bind Linux processes, so the folder is replaced from outside during the pause (moved
// aside, a link to another folder in its place): the uninstallation notices, says so and deletes
// nothing, neither in the other folder nor in the real one.
struct MountDuringPause {
  HANDLE stopped = nullptr;
  std::string command;  // run on the Linux side once the stopped copy has ended
  static DWORD WINAPI Run(void* parameter) {
    auto* self = static_cast<MountDuringPause*>(parameter);
    if (WaitForSingleObject(self->stopped, 30000) != WAIT_OBJECT_0) return 1;
    return RunLinuxProgram(self->command) ? 0 : 1;
  }
};

TEST_F(LinkedInstallFolder, AFolderTurnedIntoALinkDuringThePauseHasNothingDeletedAnywhere) {
  RemoveLinuxLink(kInstallDir);
  PrepareInstalledMachine();
  for (const char* name : kPayloadNames)
    ASSERT_TRUE(WriteWholeFile(std::string(kElsewhere) + "\\" + name, "someone's file"));
  ChildProcess running;
  ASSERT_TRUE(running.Start("\"" + InstalledPath("zvmain.exe") + "\""));
  WaitForInputIdle(running.handle(), 10000);
  const std::string real = UnixPathOf(kInstallDir);
  // (One argument in the system's quoting: the Linux paths of the test prefix hold no blanks.)
  MountDuringPause mount{running.handle(), "/bin/sh -c \"mv " + real + " " + real + ".real && ln -s " +
                                               UnixPathOf(kElsewhere) + " " + real + "\""};
  HANDLE thread = CreateThread(nullptr, 0, &MountDuringPause::Run, &mount, 0, nullptr);
  StartWizard();
  MessageBox box = ChooseUninstall();
  DWORD moved = 1;
  ASSERT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
  GetExitCodeThread(thread, &moved);
  CloseHandle(thread);
  ASSERT_EQ(moved, 0u) << "the folder could not be replaced from outside";
  EXPECT_EQ(box.text, "卸载未完成：\r\nC:\\zor\\vik 是指向其他位置的链接，为安全起见未删除任何文件。");
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 1u);
  for (const char* name : kPayloadNames) {
    EXPECT_EQ(ReadWholeFile(std::string(kElsewhere) + "\\" + name), "someone's file") << name;
    EXPECT_TRUE(PathExists(std::string(kInstallDir) + ".real\\" + name)) << name << " in the real folder";
  }
  RunLinuxProgram("/bin/rm -rf \"" + real + ".real\"");
}

// A folder that cannot be looked at (here: held by another program without sharing) is not used:
// nothing is written or deleted there, and the user is told why.
TEST_F(Wizard, AnInstallFolderThatCannotBeCheckedIsNotUsed) {
  for (const bool installing : {true, false}) {
    SCOPED_TRACE(installing ? "installing" : "uninstalling");
    CleanMachine();
    PrepareInstalledMachine();
    const std::string before = ReadWholeFile(InstalledPath("zvmain.exe"));
    DeleteFileA(kConfigFile);
    HANDLE held = CreateFileA(kInstallDir, FILE_LIST_DIRECTORY, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                              nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    StartWizard();
    MessageBox box;
    if (installing) {  // refused at page 1's 下一步, before the registration is read
      driver_.Click(WizardControl::SelectionNext);
      box = driver_.NextMessageBox();
    } else {
      box = ChooseUninstall();
    }
    ExpectPlainBox(box, kSorry);
    EXPECT_EQ(box.text, installing ? "安装未完成：\r\nC:\\zor\\vik的权限无法确认，为安全起见未写入任何文件。"
                                   : "卸载未完成：\r\nC:\\zor\\vik的权限无法确认，为安全起见未删除任何文件。");
    PressOk(box);
    EXPECT_EQ(driver_.WaitForExit(), 1u);
    CloseHandle(held);
    EXPECT_EQ(ReadWholeFile(InstalledPath("zvmain.exe")), before);
    EXPECT_FALSE(PathExists(kConfigFile));
    EXPECT_FALSE(PathExists(ShortcutPath()));
  }
}

// The access list of a path as the system reports it, in the descriptor language.
std::string AccessListOf(const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                            nullptr, &descriptor) != ERROR_SUCCESS)
    return "";
  char* text = nullptr;
  ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                       &text, nullptr);
  std::string result = text != nullptr ? text : "";
  LocalFree(text);
  LocalFree(descriptor);
  return result;
}

TEST_F(Wizard, TheFoldersThatAnInstallationMakesAreNotOpenToEveryone) {
  // A folder made with the default list reads back with an entry for everyone under Wine; the
  // installation's own list has none (Users may read and run, which Wine cannot keep).
  CreateDirectoryA("C:\\zvdefault", nullptr);
  const std::string byDefault = AccessListOf("C:\\zvdefault");
  RemoveDirectoryA("C:\\zvdefault");
  if (byDefault.find(";;;WD)") == std::string::npos)
    GTEST_SKIP() << "a folder made with the default list has no entry for everyone here: " << byDefault;
  InstallAs("小明");
  for (const std::string& path : {std::string("C:\\zor"), std::string(kInstallDir)}) {
    const std::string list = AccessListOf(path);
    EXPECT_FALSE(list.empty()) << path;
    EXPECT_EQ(list.find(";;;WD)"), std::string::npos) << path << ": " << list;
  }
}


// ---- Every system language ----------------------------------------------------------------------
// The wizard's text is GBK whatever the system's ANSI code page. Each row runs in a Wine world of its
// locale (tests/CMakeLists.txt) and reads and types through the wide calls only, so that nothing is
// decoded by an ANSI code page on the test's side either; what lands on disk is compared as bytes.

struct SystemLanguage {
  const char* locale;  // LANG of the Wine world
  UINT codePage;       // the ANSI code page that Windows then has
};
void PrintTo(const SystemLanguage& language, std::ostream* out) {
  *out << language.locale << ", code page " << language.codePage;
}
const SystemLanguage kSystemLanguages[] = {
    {"zh_CN.UTF-8", 936}, {"en_US.UTF-8", 1252}, {"zh_TW.UTF-8", 950}, {"ja_JP.UTF-8", 932}, {"hi_IN.UTF-8", 65001},
};

const wchar_t kUnstorable[] = L"亲，昵称里有无法保存的字符哦！";

// A key's value in section yonghuzu of zvconf.ini, as the bytes on disk ("<missing>" without it).
std::string ConfigBytes(const std::string& key) {
  const std::string file = ReadWholeFile(kConfigFile);
  std::string section;
  for (std::size_t at = 0, end; at < file.size(); at = end + 1) {
    end = std::min(file.find('\n', at), file.size());
    std::string line = file.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
    } else if (section == "yonghuzu" && line.compare(0, key.size() + 1, key + "=") == 0) {
      return line.substr(key.size() + 1);
    }
  }
  return "<missing>";
}

// The user's desktop folder moved to C:\users\<name>\Desktop, as the shell folders of a user of that
// name read (both registry keys the shell consults), for as long as the object lives.
class DesktopOf {
 public:
  explicit DesktopOf(const std::wstring& user) : folder_(L"C:\\users\\" + user + L"\\Desktop") {
    CreateDirectoryW((L"C:\\users\\" + user).c_str(), nullptr);
    CreateDirectoryW(folder_.c_str(), nullptr);
    for (Value& v : values_) {
      RegCreateKeyExW(HKEY_CURRENT_USER, v.key, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &v.handle,
                      nullptr);
      DWORD size = sizeof v.saved;
      v.had = RegQueryValueExW(v.handle, L"Desktop", nullptr, &v.type, v.saved, &size) == ERROR_SUCCESS;
      v.size = size;
      RegSetValueExW(v.handle, L"Desktop", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder_.c_str()),
                     static_cast<DWORD>((folder_.size() + 1) * sizeof(wchar_t)));
    }
  }
  ~DesktopOf() {
    for (Value& v : values_) {
      if (v.had) RegSetValueExW(v.handle, L"Desktop", 0, v.type, v.saved, v.size);
      RegCloseKey(v.handle);
    }
    DeleteFileW(shortcut().c_str());
    RemoveDirectoryW(folder_.c_str());
    RemoveDirectoryW(folder_.substr(0, folder_.rfind(L'\\')).c_str());
  }
  std::wstring shortcut() const { return folder_ + L"\\Zorvik.lnk"; }

 private:
  struct Value {
    const wchar_t* key;
    HKEY handle = nullptr;
    bool had = false;
    DWORD type = 0, size = 0;
    BYTE saved[2 * MAX_PATH + 2] = {};
  };
  std::wstring folder_;
  Value values_[2] = {{L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders"},
                      {L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"}};
};

class AnySystemLanguage : public Wizard, public testing::WithParamInterface<SystemLanguage> {
 protected:
  void SetUp() override {
    if (GetACP() != GetParam().codePage) {
      // Under Wine each row has a world of its own locale (tests/CMakeLists.txt); on Windows itself
      // only the row of the system's code page can run.
      if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") == nullptr)
        GTEST_SKIP() << "this Windows has code page " << GetACP();
      FAIL() << "this is no Wine world of " << GetParam().locale << ": the code page is " << GetACP();
    }
    Wizard::SetUp();
  }

  // The box's caption, text and buttons as the system holds them; a plain box (flags 0) has OK only.
  void ExpectBox(const MessageBox& box, const std::wstring& caption, const std::wstring& text) {
    ASSERT_NE(box.window, nullptr) << "no box";
    EXPECT_EQ(WideText(box.window), caption);
    EXPECT_EQ(WideText(GetDlgItem(box.window, 0xFFFF)), text);
    EXPECT_EQ(box.buttonIds, std::vector<int>{IDOK});
    EXPECT_FALSE(box.hasIcon);
  }

  // The greeting of the main program that the installation started, read from its window.
  std::wstring Greeting() {
    const std::vector<DWORD> ids = WaitForProcessesNamed("zvmain.exe", 1);
    for (int i = 0; !ids.empty() && i < 200; ++i) {
      for (HWND window : TopLevelWindows(ids.front(), "zvmain"))
        return WideText(GetDlgItem(window, standin::kGreetingLabelId));
      Sleep(50);
    }
    return L"<no main program window>";
  }
};

TEST_P(AnySystemLanguage, ShowsEveryTextAsWritten) {
  const struct {
    WizardControl control;
    const wchar_t* text;
  } kPage1[] = {
      {WizardControl::TitleLabel, L"Z O R V I K"},
      {WizardControl::FooterLabel, L" 便捷 强大 绿色 的桌面扩展"},
      {WizardControl::SelectionLabel, L"请选择你要执行的项目 然后点击 下一步"},
      {WizardControl::InstallRadio, L"安装"},
      {WizardControl::UninstallRadio, L"卸载"},
      {WizardControl::SelectionNext, L"下一步"},
      {WizardControl::SelectionCancel, L"取消"},
  }, kPage2[] = {
      {WizardControl::Disclaimer, L"这是一款私人制作 非营利型应用\r\n\r\n可能会导致部分杀毒软件的误报，你可以选择取消安装\r\n\r\n"
                                  L"这个安装程序同时也是卸载程序，所以请保留它\r\n\r\n"
                                  L"相信这个应用 愿意自己承担一切后果 请点击 下一步\r\n\r\n否则请点击【取消】按钮\r\n\r\n"},
      {WizardControl::GreetingLabel, L"你好 先给自己简单的注册一个个性的昵称吧"},
      {WizardControl::NicknameLabel, L"昵称："},
      {WizardControl::GenderLabel, L"性别："},
      {WizardControl::WarningLabel, L"以上信息注册后不可更改！！！"},
      {WizardControl::RegistrationNext, L"下一步"},
      {WizardControl::RegistrationCancel, L"取消"},
  };
  StartWizard();
  EXPECT_EQ(WideText(driver_.window()), L"Zorvik 安装向导");
  for (const auto& shown : kPage1) EXPECT_EQ(driver_.WideText(shown.control), shown.text) << int(shown.control);
  driver_.Click(WizardControl::SelectionNext);
  for (const auto& shown : kPage2) EXPECT_EQ(driver_.WideText(shown.control), shown.text) << int(shown.control);
  const wchar_t* const genders[] = {L"女性", L"男性", L"人妖"};
  for (int i = 0; i < 3; ++i) {
    driver_.PickGender(i);
    EXPECT_EQ(driver_.WideText(WizardControl::GenderCombo), genders[i]);
  }
  driver_.Click(WizardControl::RegistrationCancel);
  EXPECT_EQ(driver_.WaitForExit(), 0u);
}

TEST_P(AnySystemLanguage, RefusesANicknameThatBreaksARuleAndEmptiesTheBox) {
  const struct {
    const wchar_t* typed;
    const wchar_t* message;
  } kRefused[] = {
      {L"一二三四五六", L"老大 你写的也太多了吧，昵称不能大于5个汉字或者10个字符"},  // 12 bytes of GBK
      {L"小　明", L"亲，昵称不能空白或者包含空格哦！"},                            // a full-width space
      {L"€ a", kUnstorable},  // beyond GBK comes before the space
      {L"a€", kUnstorable},
      {L"\U0001F600", kUnstorable},
      {L"한", kUnstorable},
      {L"한一二三四五", kUnstorable},  // and before the length
  };
  StartWizard();
  OpenRegistration();
  for (const auto& refused : kRefused) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(refused.typed)));
    driver_.TypeWide(refused.typed);
    MessageBox box = driver_.ClickForBox(WizardControl::RegistrationNext);
    ExpectBox(box, L"抱歉", refused.message);
    PressOk(box);
    if (PathExists("C:\\zor")) {  // taken and installed: the next row starts on a clean machine
      driver_.WaitForExit();
      WaitForProcessesNamed("zvmain.exe", 1);  // started by way of the desktop: it can come late
      CleanMachine();
      StartWizard();
      OpenRegistration();
      continue;
    }
    driver_.Settle();
    EXPECT_EQ(driver_.WideText(WizardControl::NicknameEdit), L"");
  }
  driver_.Click(WizardControl::RegistrationCancel);
  EXPECT_EQ(driver_.WaitForExit(), 0u);
  EXPECT_FALSE(PathExists("C:\\zor"));
}

TEST_P(AnySystemLanguage, InstallsATypedNicknameAsGbkWithTheShortcutOnTheUsersDesktop) {
  const struct {
    const wchar_t* user;  // whose desktop folder is named so
    const wchar_t* typed;
    int gender;
    const char* nicknameBytes;  // GBK, as the suite reads it
    const char* genderBytes;
  } kInstalls[] = {
      {L"小明", L"小明", 1, "小明", "男性"},
      {L"Jörg", L"一二三四五", 2, "一二三四五", "人妖"},  // ten bytes of GBK: the most there may be
  };
  for (const auto& install : kInstalls) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(install.user)));
    CleanMachine();
    DesktopOf desktop(install.user);
    StartWizard();
    OpenRegistration();
    driver_.TypeWide(install.typed);
    driver_.PickGender(install.gender);
    MessageBox box = driver_.ClickForBox(WizardControl::RegistrationNext);
    ExpectBox(box, L"恭喜你！！！", L"操作以完成");
    PressOk(box);
    EXPECT_EQ(driver_.WaitForExit(), 0u);

    EXPECT_EQ(ConfigBytes("nicheng"), install.nicknameBytes);
    EXPECT_EQ(ConfigBytes("xingbie"), install.genderBytes);
    EXPECT_NE(GetFileAttributesW(desktop.shortcut().c_str()), INVALID_FILE_ATTRIBUTES) << "no shortcut there";
    EXPECT_EQ(Greeting(), L"欢迎你，" + std::wstring(install.typed) + L"！");
  }
}

INSTANTIATE_TEST_SUITE_P(SystemLanguages, AnySystemLanguage, testing::ValuesIn(kSystemLanguages),
                         [](const testing::TestParamInfo<SystemLanguage>& info) {
                           const std::string locale = info.param.locale;
                           return locale.substr(0, locale.find('.'));
                         });

// A copy of the setup program in one folder, started from another; the marker library (which logs
// its loading) lies in both under the names of the system libraries that the program loads by name
// (its declared commands), and a file that is no type library lies there as wshom.ocx, the type
// library of the shell object that writes the shortcut. Wine prefers its own copies of system
// libraries, so for the copy's program name those libraries are set to native-then-builtin: a planted
// copy then wins wherever the search order reaches its folder (the control experiment is in
// tests/runtime/DeclaredCallsTest.cpp). A planted wshom.ocx that were used would break the shortcut.
class PlantedWizard : public Wizard {
 protected:
  static constexpr char kProgramName[] = "zvplanted_setup.exe";
  static constexpr char kOverridesKey[] = "Software\\Wine\\AppDefaults\\zvplanted_setup.exe";
  static constexpr const char* kLibraries[] = {"shlwapi", "mpr", "shell32"};

  void SetUp() override {
    Wizard::SetUp();
    programFolder_ = MakeTestRoot("PlantedProgram");
    startFolder_ = MakeTestRoot("PlantedStart");
    program_ = programFolder_ + "\\" + kProgramName;
    ASSERT_TRUE(CopyFileA(ZV_SETUP_EXE, program_.c_str(), FALSE));
    for (const std::string& folder : {programFolder_, startFolder_}) {
      for (const char* library : kLibraries) {
        const std::string planted = folder + "\\" + library + ".dll";
        ASSERT_TRUE(CopyFileA(BesideProgram("zv_marker.dll").c_str(), planted.c_str(), FALSE));
        planted_.push_back(planted);
      }
      ASSERT_TRUE(WriteWholeFile(folder + "\\wshom.ocx", "not a type library"));
    }
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (std::string(kOverridesKey) + "\\DllOverrides").c_str(), 0,
                              nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    static const char kNativeThenBuiltin[] = "native,builtin";
    for (const char* library : kLibraries) {
      RegSetValueExA(key, library, 0, REG_SZ, reinterpret_cast<const BYTE*>(kNativeThenBuiltin),
                     sizeof kNativeThenBuiltin);
    }
    RegCloseKey(key);
  }
  void TearDown() override {
    RegDeleteTreeA(HKEY_CURRENT_USER, kOverridesKey);
    RemoveTree(programFolder_);
    RemoveTree(startFolder_);
    Wizard::TearDown();
  }
  void ExpectNothingPlantedWasLoaded() {
    for (const std::string& planted : planted_) EXPECT_EQ(MarkerLog(planted), "") << planted << " was loaded";
  }

  std::string programFolder_;
  std::string startFolder_;
  std::string program_;
  std::vector<std::string> planted_;
};

TEST_F(PlantedWizard, AnInstallationLoadsNoPlantedLibrary) {
  ASSERT_TRUE(driver_.Start(program_, startFolder_));
  OpenRegistration();
  MessageBox box = SubmitNickname("小明");
  EXPECT_EQ(box.caption, kDoneCaption);
  EXPECT_EQ(box.text, kDone);
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 0u);
  ExpectPayloadsInstalled();
  ExpectShortcutToMainProgram();
  ExpectNothingPlantedWasLoaded();
}

TEST_F(PlantedWizard, AnUninstallationLoadsNoPlantedLibrary) {
  PrepareInstalledMachine();
  ASSERT_TRUE(driver_.Start(program_, startFolder_));
  MessageBox box = ChooseUninstall();
  EXPECT_EQ(box.text, kUninstalled);
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 0u);
  ExpectNothingPlantedWasLoaded();
}

}  // namespace
}  // namespace zv::test
