// The desktop shortcut against the real shell object, read back through the shell's own shortcut
// reader, and the path helpers against the real system folders. Each case uses a shortcut name of its
// own, so that parallel cases never share a file.
#include "services/DesktopShortcut.h"

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "runtime/DeclaredCalls.h"
#include "tests/support/Faults.h"
#include "tests/support/ShortcutReader.h"
#include "tests/support/WinTestSupport.h"

namespace zv {
namespace {

class DesktopShortcutTest : public testing::Test {
 protected:
  void SetUp() override {
    OleInitialize(nullptr);
    RegisterDeclaredCommands(ProgramDeclaredCommands());
  }
  void TearDown() override {
    for (const std::string& f : created_) DeleteFileA(f.c_str());
    OleUninitialize();
  }
  std::string OnDesktop(const std::string& file) {
    created_.push_back(test::DesktopFolder() + "\\" + file);
    return created_.back();
  }
  std::vector<std::string> created_;
};

const char kTarget[] = "C:\\zor\\vik\\zvmain.exe";

TEST_F(DesktopShortcutTest, WritesTheWizardsShortcutAndNamesItsPath) {
  const std::string expected = OnDesktop("ZvWizard.lnk");
  Text name = Text::Copy("ZvWizard");
  EXPECT_TRUE(CreateDesktopShortcut(name, kTarget, {}, {}, 1));
  EXPECT_EQ(std::string(name.c_str()), expected);
  const test::ShortcutInfo link = test::ReadShortcut(expected);
  ASSERT_TRUE(link.loaded);
  EXPECT_EQ(link.target, kTarget);
  EXPECT_EQ(link.workingDirectory, "C:\\zor\\vik\\");
  EXPECT_EQ(link.iconPath, kTarget);
  EXPECT_EQ(link.iconIndex, 0);
  EXPECT_EQ(link.showCommand, SW_SHOWNORMAL);
  EXPECT_EQ(link.arguments, "");
  EXPECT_EQ(link.description, "");
}

TEST_F(DesktopShortcutTest, ReplacesAnExistingShortcutWithoutKeepingItsProperties) {
  const std::string path = OnDesktop("ZvReplace.lnk");
  Text name = Text::Copy("ZvReplace");
  ASSERT_TRUE(CreateDesktopShortcut(name, "C:\\old\\place\\old.exe", TextArg("-x"), {}, 7, TextArg("old one")));
  Text again = Text::Copy("ZvReplace");
  ASSERT_TRUE(CreateDesktopShortcut(again, kTarget, {}, {}, 1));
  const test::ShortcutInfo link = test::ReadShortcut(path);
  ASSERT_TRUE(link.loaded);
  EXPECT_EQ(link.target, kTarget);
  EXPECT_EQ(link.arguments, "");
  EXPECT_EQ(link.description, "");
  EXPECT_EQ(link.showCommand, SW_SHOWNORMAL);
}

TEST_F(DesktopShortcutTest, AGivenExtensionIsKeptInItsOwnCase) {
  const std::string expected = OnDesktop("ZvCase.LNK");
  Text name = Text::Copy("ZvCase.LNK");
  EXPECT_TRUE(CreateDesktopShortcut(name, kTarget, {}, {}, 1));
  EXPECT_EQ(std::string(name.c_str()), expected);
  EXPECT_TRUE(test::PathExists(expected));
}

TEST_F(DesktopShortcutTest, TheDirectoryOfAGivenPathIsDropped) {
  const std::string expected = OnDesktop("ZvOld.lnk");
  Text name = Text::Copy("D:\\old\\ZvOld.lnk");
  EXPECT_TRUE(CreateDesktopShortcut(name, kTarget, {}, {}, 1));
  EXPECT_EQ(std::string(name.c_str()), expected);
  EXPECT_TRUE(test::ReadShortcut(expected).loaded);
}

TEST_F(DesktopShortcutTest, ATargetWithoutBackslashFailsAndLeavesTheOldShortcut) {
  const std::string path = OnDesktop("ZvKeep.lnk");
  Text name = Text::Copy("ZvKeep");
  ASSERT_TRUE(CreateDesktopShortcut(name, kTarget, {}, {}, 1));
  Text bad = Text::Copy("ZvKeep");
  EXPECT_FALSE(CreateDesktopShortcut(bad, "zvmain.exe", {}, {}, 1));
  EXPECT_EQ(std::string(bad.c_str()), path);
  EXPECT_EQ(test::ReadShortcut(path).target, kTarget);
}

TEST_F(DesktopShortcutTest, ATargetWithoutExtensionGetsTheShellFolderIcon) {
  const std::string path = OnDesktop("ZvFolder.lnk");
  Text name = Text::Copy("ZvFolder");
  EXPECT_TRUE(CreateDesktopShortcut(name, "C:\\zor\\vik", {}, {}, 1));
  const test::ShortcutInfo link = test::ReadShortcut(path);
  ASSERT_TRUE(link.loaded);
  EXPECT_EQ(link.iconPath, "SHELL32.dll");
  EXPECT_EQ(link.iconIndex, 4);
  EXPECT_EQ(link.workingDirectory, "C:\\zor\\");
}

TEST_F(DesktopShortcutTest, AShortcutThatCannotBeSavedIsReportedAsFailed) {
  // A folder of the shortcut's name can be neither deleted as a file nor written over.
  const std::string path = test::DesktopFolder() + "\\ZvBlocked.lnk";
  ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
  Text name = Text::Copy("ZvBlocked");
  EXPECT_FALSE(CreateDesktopShortcut(name, kTarget, {}, {}, 1));
  RemoveDirectoryA(path.c_str());
}

// The names on the desktop other than shortcuts (which other cases create and delete meanwhile),
// sorted, so that a scratch file left behind shows up.
std::vector<std::string> DesktopListing() {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((test::DesktopFolder() + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = data.cFileName;
    const bool shortcut = name.size() > 4 && lstrcmpiA(name.c_str() + name.size() - 4, ".lnk") == 0;
    if (name[0] != '.' && !shortcut) names.push_back(name);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(DesktopShortcutTest, AShortcutThatCannotBeReplacedIsReportedAndTheOldOneKept) {
  const std::string path = OnDesktop("ZvReadOnly.lnk");
  Text name = Text::Copy("ZvReadOnly");
  ASSERT_TRUE(CreateDesktopShortcut(name, "C:\\old\\place\\old.exe", {}, {}, 1));
  const std::string before = test::ReadWholeFile(path);
  auto readOnly = std::make_unique<test::ReadOnlyFile>(path);
  ASSERT_TRUE(readOnly->ok()) << readOnly->whyNot();
  const std::vector<std::string> desktopBefore = DesktopListing();

  Text again = Text::Copy("ZvReadOnly");
  EXPECT_FALSE(CreateDesktopShortcut(again, kTarget, {}, {}, 1));

  EXPECT_TRUE(test::ReadWholeFile(path) == before);
  EXPECT_EQ(test::ReadShortcut(path).target, "C:\\old\\place\\old.exe");
  EXPECT_EQ(DesktopListing(), desktopBefore);
  readOnly.reset();  // before the shortcut is deleted at the end of the case
}

TEST_F(DesktopShortcutTest, FileNamesAndExtensions) {
  EXPECT_STREQ(GetFileNameFromPath("C:\\zor\\vik\\zvmain.exe", true).c_str(), "zvmain.exe");
  EXPECT_STREQ(GetFileNameFromPath("C:\\zor\\vik\\zvmain.exe").c_str(), "zvmain");
  EXPECT_STREQ(GetFileNameFromPath("report.final.txt").c_str(), "report.final");
  EXPECT_STREQ(GetFileNameFromPath("README").c_str(), "README");
  EXPECT_STREQ(GetPathExtension("C:\\a.b\\file").c_str(), "");
  EXPECT_STREQ(GetPathExtension("C:\\a\\file.EXE").c_str(), ".EXE");
}

TEST_F(DesktopShortcutTest, SpecialFoldersEndWithABackslash) {
  const std::string desktop = test::DesktopFolder() + "\\";
  EXPECT_EQ(std::string(GetSpecialFolderPath().c_str()), desktop);
  EXPECT_EQ(std::string(GetSpecialFolderPath(0).c_str()), desktop);
  EXPECT_EQ(std::string(GetSpecialFolderPath(kFolderDesktop).c_str()), desktop);
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  EXPECT_EQ(std::string(GetSpecialFolderPath(kFolderTemp).c_str()), temp);
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, sizeof windows);
  EXPECT_EQ(std::string(GetSpecialFolderPath(kFolderWindows).c_str()), std::string(windows) + "\\");
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, sizeof system);
  EXPECT_EQ(std::string(GetSpecialFolderPath(kFolderSystem).c_str()), std::string(system) + "\\");
  EXPECT_TRUE(GetSpecialFolderPath(13).IsNull());
  EXPECT_TRUE(GetSpecialFolderPath(-1).IsNull());
}

}  // namespace
}  // namespace zv
