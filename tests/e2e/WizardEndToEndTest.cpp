// The wizard end to end: the real ZorvikSetup.exe, driven from outside through its window, on every
// path. Each case starts from a clean machine (no C:\zor, no desktop shortcut, no suite program
// running) and checks what a user would find afterwards: files, configuration, shortcut, running
// programs, the messages shown and the exit code. The cases share C:\zor, so they run one at a time.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/WizardDriver.h"
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

  WizardDriver driver_;
};

TEST_F(Wizard, InstallsOnACleanMachine) {
  StartWizard();
  OpenRegistration();
  MessageBox box = SubmitNickname("小明", 1);
  EXPECT_EQ(box.caption, kDoneCaption);
  EXPECT_EQ(box.text, kDone);
  EXPECT_FALSE(box.hasIcon);
  EXPECT_EQ(box.buttons.size(), 1u);
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 0u);

  ExpectPayloadsInstalled();
  EXPECT_EQ(ReadConfig("nicheng"), "小明");
  EXPECT_EQ(ReadConfig("xingbie"), "男性");
  ExpectShortcutToMainProgram();
  EXPECT_EQ(WaitForProcessesNamed("zvmain.exe", 1).size(), 1u);
}

TEST_F(Wizard, InstallingAgainReinstallsWithoutRegistration) {
  PrepareInstalledMachine();
  WriteWholeFile(InstalledPath("zvmix.exe"), "old");
  const std::string configBefore = ReadWholeFile(kConfigFile);
  StartWizard();
  driver_.Click(WizardControl::SelectionNext);
  MessageBox box = driver_.NextMessageBox();
  EXPECT_EQ(box.caption, kDoneCaption);
  EXPECT_EQ(box.text, kDone);
  EXPECT_FALSE(driver_.IsShown(WizardControl::RegistrationPanel));
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 0u);

  ExpectPayloadsInstalled();
  EXPECT_EQ(ReadWholeFile(kConfigFile), configBefore);
  ExpectShortcutToMainProgram();
  EXPECT_EQ(WaitForProcessesNamed("zvmain.exe", 1).size(), 1u);
}

TEST_F(Wizard, UninstallStopsTheSuiteAndDeletesItsFilesButKeepsTheConfiguration) {
  PrepareInstalledMachine();
  for (const char* extra : {"zvplay.exe", "zvmix.htm", "zvsky.htm", "zvstat.htm"}) WriteWholeFile(InstalledPath(extra), "x");
  ChildProcess first, second;
  ASSERT_TRUE(first.Start("\"" + InstalledPath("zvmain.exe") + "\""));
  ASSERT_TRUE(second.Start("\"" + InstalledPath("zvmain.exe") + "\""));
  ASSERT_EQ(WaitForProcessesNamed("zvmain.exe", 2).size(), 2u);

  StartWizard();
  driver_.Click(WizardControl::UninstallRadio);
  driver_.Click(WizardControl::SelectionNext);
  MessageBox box = driver_.NextMessageBox();
  EXPECT_EQ(box.caption, "信息：");
  EXPECT_EQ(box.text, kUninstalled);
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 0u);

  EXPECT_FALSE(first.IsRunning());
  EXPECT_FALSE(second.IsRunning());
  for (const char* name : kPayloadNames) EXPECT_FALSE(PathExists(InstalledPath(name))) << name;
  for (const char* extra : {"zvplay.exe", "zvmix.htm", "zvsky.htm", "zvstat.htm"}) {
    EXPECT_FALSE(PathExists(InstalledPath(extra))) << extra;
  }
  EXPECT_EQ(ReadConfig("nicheng"), "小明");
  EXPECT_TRUE(PathExists(kInstallDir));
}

TEST_F(Wizard, UninstallWithNothingInstalledStillReportsCompletion) {
  StartWizard();
  driver_.Click(WizardControl::UninstallRadio);
  driver_.Click(WizardControl::SelectionNext);
  MessageBox box = driver_.NextMessageBox();
  EXPECT_EQ(box.caption, "信息：");
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
  EXPECT_EQ(box.caption, kSorry);
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
    EXPECT_EQ(box.caption, kSorry) << nickname;
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
  StartWizard();
  OpenRegistration();
  MessageBox box = SubmitNickname("一二三四五", 2);
  EXPECT_EQ(box.text, kDone);
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 0u);
  EXPECT_EQ(ReadConfig("nicheng"), "一二三四五");
  EXPECT_EQ(ReadConfig("xingbie"), "人妖");
}

TEST_F(Wizard, NicknameWithATabPasses) {
  StartWizard();
  OpenRegistration();
  MessageBox box = SubmitNickname("a\tb");
  EXPECT_EQ(box.text, kDone);
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 0u);
  EXPECT_EQ(ReadConfig("nicheng"), "a\tb");
  EXPECT_EQ(ReadConfig("xingbie"), "女性");
}

TEST_F(Wizard, BracketsAreCleanedFromTheStoredNickname) {
  StartWizard();
  OpenRegistration();
  MessageBox box = SubmitNickname("【ab】");
  EXPECT_EQ(box.text, kDone);
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 0u);
  EXPECT_EQ(ReadConfig("nicheng"), "ab");
}

TEST_F(Wizard, MarkerOnlyNicknameIsStoredEmptySoTheNextRunRegistersAgain) {
  StartWizard();
  OpenRegistration();
  MessageBox box = SubmitNickname("@#%$");
  EXPECT_EQ(box.text, kDone);
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 0u);
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
  EXPECT_EQ(box.caption, kSorry);
  EXPECT_EQ(box.text.rfind("安装未完成", 0), 0u) << box.text;
  EXPECT_NE(box.text.find("C:\\zor\\vik\\zvmain.exe"), std::string::npos) << box.text;
  EXPECT_EQ(box.text.find("zvmix.exe"), std::string::npos) << box.text;
  PressOk(box);
  EXPECT_EQ(driver_.WaitForExit(), 1u);
  CloseHandle(held);

  EXPECT_EQ(ReadWholeFile(InstalledPath("zvmain.exe")), "old main program");
  for (const char* name : kPayloadNames) {
    if (std::string(name) == "zvmain.exe") continue;
    EXPECT_EQ(ReadWholeFile(InstalledPath(name)), ReadWholeFile(PayloadSource(name))) << name;
  }
  EXPECT_EQ(ReadConfig("nicheng"), "小明");
  Sleep(500);
  EXPECT_TRUE(ProcessesNamed("zvmain.exe").empty());
}

TEST_F(Wizard, UninstallWithAFileHeldOpenSaysSoAndEndsWithOne) {
  PrepareInstalledMachine();
  HANDLE held = CreateFileA(InstalledPath("zvlock.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);

  StartWizard();
  driver_.Click(WizardControl::UninstallRadio);
  driver_.Click(WizardControl::SelectionNext);
  MessageBox box = driver_.NextMessageBox();
  EXPECT_EQ(box.caption, kSorry);
  EXPECT_EQ(box.text.rfind("卸载未完成", 0), 0u) << box.text;
  EXPECT_NE(box.text.find("C:\\zor\\vik\\zvlock.exe"), std::string::npos) << box.text;
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
  EXPECT_EQ(box.caption, kSorry);
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
  EXPECT_EQ(box.caption, kSorry);
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

}  // namespace
}  // namespace zv::test
