// The install folders under the security model that Windows enforces and Wine does not: Wine has one
// user, runs every program as an administrator, keeps a folder's access list only as far as Unix
// permissions can hold it, and reports a Linux symbolic link as a reparse point. So the list handed
// to the system when a folder is made is read where it is handed over (a hook on this program's
// import of CreateDirectoryA), what lands on disk is read back as far as Wine keeps it, and the
// rights and owners that Wine cannot give are given through hooks: a token without administrator
// rights, a link that Administrators or SYSTEM own, a folder list that lets a broad group write.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "services/InstallFolder.h"
#include "tests/support/Faults.h"
#include "tests/support/ImportHook.h"
#include "tests/support/WinTestSupport.h"

namespace zv {
namespace {

std::string SddlOf(PSECURITY_DESCRIPTOR descriptor, SECURITY_INFORMATION parts) {
  char* text = nullptr;
  if (descriptor == nullptr ||
      !ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, parts, &text, nullptr))
    return "";
  std::string result = text;
  LocalFree(text);
  return result;
}

std::string AccessListOnDisk(const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                            nullptr, &descriptor) != ERROR_SUCCESS)
    return "";
  std::string result = SddlOf(descriptor, DACL_SECURITY_INFORMATION);
  LocalFree(descriptor);
  return result;
}


// What the hooks saw and what they are to answer.
struct Scene {
  std::vector<std::string> made;          // folders passed to CreateDirectoryA
  std::vector<bool> existedBefore;        // whether each was there at that moment
  std::vector<std::string> madeWith;      // the list each was made with ("" for none)
  std::vector<std::string> listsSet;      // lists given to existing folders (SetNamedSecurityInfoA)
  bool administrator = true;              // CheckTokenMembership's answer, where hooked
  std::string linkOwner;                  // the owner GetSecurityInfo reports ("" for the real one)
  std::string folderList;                 // the list GetNamedSecurityInfoA reports ("" for the real one)
  test::ImportHook* createDirectory = nullptr;
  test::ImportHook* membership = nullptr;
  test::ImportHook* handleSecurity = nullptr;
  test::ImportHook* namedSecurity = nullptr;
  test::ImportHook* setNamedSecurity = nullptr;
};
Scene* g_scene = nullptr;

BOOL WINAPI SceneCreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
  g_scene->made.push_back(path);
  g_scene->existedBefore.push_back(GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES);
  g_scene->madeWith.push_back(security != nullptr ? SddlOf(security->lpSecurityDescriptor, DACL_SECURITY_INFORMATION)
                                                  : "");
  return g_scene->createDirectory->original<decltype(&CreateDirectoryA)>()(path, security);
}

BOOL WINAPI SceneCheckTokenMembership(HANDLE token, PSID sid, PBOOL member) {
  const BOOL ok = g_scene->membership->original<decltype(&CheckTokenMembership)>()(token, sid, member);
  if (ok && IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) *member = g_scene->administrator ? TRUE : FALSE;
  return ok;
}

// Descriptors made from SDDL for the hooked answers; freed with the scene's process.
PSECURITY_DESCRIPTOR FromSddl(const std::string& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr);
  return descriptor;
}

DWORD WINAPI SceneGetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts, PSID* owner,
                                  PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
  if (g_scene->linkOwner.empty() || owner == nullptr)
    return g_scene->handleSecurity->original<decltype(&GetSecurityInfo)>()(handle, type, parts, owner, group, dacl,
                                                                          sacl, descriptor);
  PSECURITY_DESCRIPTOR made = FromSddl("O:" + g_scene->linkOwner);
  BOOL defaulted = FALSE;
  GetSecurityDescriptorOwner(made, owner, &defaulted);
  *descriptor = made;
  return ERROR_SUCCESS;
}

DWORD WINAPI SceneGetNamedSecurityInfoA(LPCSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts, PSID* owner,
                                        PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
  if (g_scene->folderList.empty() || dacl == nullptr)
    return g_scene->namedSecurity->original<decltype(&GetNamedSecurityInfoA)>()(name, type, parts, owner, group, dacl,
                                                                               sacl, descriptor);
  PSECURITY_DESCRIPTOR made = FromSddl(g_scene->folderList);
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  GetSecurityDescriptorDacl(made, &present, dacl, &defaulted);
  *descriptor = made;
  return ERROR_SUCCESS;
}

DWORD WINAPI SceneSetNamedSecurityInfoA(LPSTR name, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts, PSID owner,
                                        PSID group, PACL dacl, PACL sacl) {
  SECURITY_DESCRIPTOR descriptor;
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE);
  if ((parts & PROTECTED_DACL_SECURITY_INFORMATION) != 0)
    SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  g_scene->listsSet.push_back(SddlOf(&descriptor, DACL_SECURITY_INFORMATION));
  return g_scene->setNamedSecurity->original<decltype(&SetNamedSecurityInfoA)>()(name, type, parts, owner, group,
                                                                                dacl, sacl);
}

class InstallFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(createDirectory_.ok() && membership_.ok() && handleSecurity_.ok() && namedSecurity_.ok() &&
                setNamedSecurity_.ok())
        << "the program's imports could not be hooked";
    scene_.createDirectory = &createDirectory_;
    scene_.membership = &membership_;
    scene_.handleSecurity = &handleSecurity_;
    scene_.namedSecurity = &namedSecurity_;
    scene_.setNamedSecurity = &setNamedSecurity_;
    g_scene = &scene_;
    root_ = test::MakeTestRoot(testing::UnitTest::GetInstance()->current_test_info()->name());
    scene_.made.clear();
    scene_.existedBefore.clear();
    scene_.madeWith.clear();
  }
  void TearDown() override {
    for (const std::string& link : links_) test::RemoveLinuxLink(link);
    test::RemoveTree(root_);
    g_scene = nullptr;
  }
  bool MakeLink(const std::string& link, const std::string& target) {
    links_.push_back(link);
    return test::MakeLinuxLink(link, target);
  }
  std::string Path(const std::string& name) const { return root_ + "\\" + name; }

  const char* Prepare(const std::vector<std::string>& folders, FolderUse use) {
    std::vector<const char*> names;
    for (const std::string& folder : folders) names.push_back(folder.c_str());
    return PrepareInstallFolders(names, use);
  }

  std::string root_;
  std::vector<std::string> links_;
  Scene scene_;
  test::ImportHook createDirectory_{"CreateDirectoryA", reinterpret_cast<void*>(&SceneCreateDirectoryA)};
  test::ImportHook membership_{"CheckTokenMembership", reinterpret_cast<void*>(&SceneCheckTokenMembership)};
  test::ImportHook handleSecurity_{"GetSecurityInfo", reinterpret_cast<void*>(&SceneGetSecurityInfo)};
  test::ImportHook namedSecurity_{"GetNamedSecurityInfoA", reinterpret_cast<void*>(&SceneGetNamedSecurityInfoA)};
  test::ImportHook setNamedSecurity_{"SetNamedSecurityInfoA", reinterpret_cast<void*>(&SceneSetNamedSecurityInfoA)};
};

// ---- Folders that the wizard makes ----------------------------------------------------------------

TEST_F(InstallFolderTest, MissingFoldersAreMadeParentFirstWithTheProtectedListFromTheStart) {
  const std::string parent = Path("zor");
  const std::string child = Path("zor\\vik");
  EXPECT_EQ(Prepare({parent, child}, FolderUse::kCreateAndWrite), nullptr);
  ASSERT_EQ(scene_.made, (std::vector<std::string>{parent, child}));
  const std::string user = test::OwnUserSid();
  ASSERT_FALSE(user.empty());
  // Protected from the folder above (nothing inherited), and inherited by everything made inside.
  const std::string wanted =
      "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + user + ")(A;OICI;0x1200a9;;;BU)";
  for (std::size_t i = 0; i < scene_.made.size(); ++i) {
    EXPECT_FALSE(scene_.existedBefore[i]) << scene_.made[i];
    EXPECT_EQ(scene_.madeWith[i], wanted) << scene_.made[i] << " was made with another list";
  }
  EXPECT_NE(GetFileAttributesA(child.c_str()), INVALID_FILE_ATTRIBUTES);
  // What Wine keeps of it: the owner and SYSTEM, and no entry for everyone (which it synthesises for
  // a folder made with the default list).
  for (const std::string& folder : {parent, child})
    EXPECT_EQ(AccessListOnDisk(folder).find(";;;WD)"), std::string::npos) << folder << ": " << AccessListOnDisk(folder);
}

TEST_F(InstallFolderTest, NothingIsMadeUnlessTheUseSaysSo) {
  for (const FolderUse use : {FolderUse::kWrite, FolderUse::kDelete}) {
    EXPECT_EQ(Prepare({Path("zor"), Path("zor\\vik")}, use), nullptr);
    EXPECT_TRUE(scene_.made.empty());
    EXPECT_EQ(GetFileAttributesA(Path("zor").c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

// ---- Existing folders that a broad group may change ---------------------------------------------

TEST_F(InstallFolderTest, AnExistingFolderThatABroadGroupMayChangeGetsTheProtectedList) {
  const std::string folder = Path("vik");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  // As C:\ gives a folder made below it: Modify for Authenticated Users, and so on for each group.
  for (const char* group : {"WD", "AU", "BU", "IU"}) {
    for (const char* rights : {"0x1301bf", "GW", "GA", "0x4"}) {  // Modify, generic write/all, append data
      scene_.listsSet.clear();
      scene_.folderList = std::string("D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;") + rights + ";;;" + group + ")";
      EXPECT_EQ(Prepare({folder}, FolderUse::kWrite), nullptr);
      ASSERT_EQ(scene_.listsSet.size(), 1u) << group << " with " << rights << " was left as it was";
      EXPECT_EQ(scene_.listsSet[0].rfind("D:P(A;OICI;FA;;;SY)", 0), 0u) << scene_.listsSet[0];
      EXPECT_NE(scene_.listsSet[0].find("(A;OICI;0x1200a9;;;BU)"), std::string::npos) << scene_.listsSet[0];
    }
  }
}

TEST_F(InstallFolderTest, AFolderThatOnlyItsOwnersMayChangeIsLeftAsItIs) {
  const std::string folder = Path("vik");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  // Users may read and run; the creator owner, SYSTEM and the administrators may change.
  scene_.folderList = "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;FA;;;CO)(A;OICI;0x1200a9;;;BU)(A;OICI;0x1200a9;;;AU)";
  EXPECT_EQ(Prepare({folder}, FolderUse::kWrite), nullptr);
  EXPECT_TRUE(scene_.listsSet.empty()) << scene_.listsSet[0];
}

TEST_F(InstallFolderTest, AnUninstallationChangesNoFoldersList) {
  const std::string folder = Path("vik");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  scene_.folderList = "D:(A;OICI;0x1301bf;;;AU)";
  EXPECT_EQ(Prepare({folder}, FolderUse::kDelete), nullptr);
  EXPECT_TRUE(scene_.listsSet.empty());
}

TEST_F(InstallFolderTest, WhatLandsOnDiskForAFolderOpenToEveryone) {
  // Wine keeps an entry for everyone only as the folder's Unix permissions for others: given write
  // permission on the Linux side, the folder lists everyone with the right to change it.
  const std::string folder = Path("vik");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  const std::string unixFolder = test::UnixPathOf(folder);
  if (unixFolder.empty() || !test::RunLinuxProgram("/bin/chmod 0777 \"" + unixFolder + "\""))
    GTEST_SKIP() << "the folder's Linux permissions could not be changed";
  std::string before;
  const auto everyoneMayChange = [&] {
    return before.find(";;;WD)") != std::string::npos && before.find("0x1200a9;;;WD)") == std::string::npos;
  };
  for (int i = 0; i < 100 && !everyoneMayChange(); ++i, Sleep(20)) before = AccessListOnDisk(folder);
  if (!everyoneMayChange())
    GTEST_SKIP() << "this file system keeps no write entry for everyone: " << before;
  EXPECT_EQ(Prepare({folder}, FolderUse::kWrite), nullptr);
  ASSERT_EQ(scene_.listsSet.size(), 1u) << "left as it was: " << before;
  // The protected list lets no broad group change anything; Wine keeps that much of it (it shows the
  // read and execute of Users as everyone's).
  const std::string changeable = before;
  before = AccessListOnDisk(folder);
  EXPECT_FALSE(everyoneMayChange()) << "before: " << changeable << ", after: " << before;
}

// ---- Links in a folder's place --------------------------------------------------------------------

class LinkedFolderTest : public InstallFolderTest {
 protected:
  void SetUp() override {
    InstallFolderTest::SetUp();
    elsewhere_ = Path("elsewhere");
    ASSERT_TRUE(CreateDirectoryA(elsewhere_.c_str(), nullptr));
    link_ = Path("zor");
    if (!MakeLink(link_, elsewhere_)) GTEST_SKIP() << "no Linux symbolic link could be made here";
    scene_.made.clear();
  }
  std::string elsewhere_;
  std::string link_;
};

TEST_F(LinkedFolderTest, AnAdministratorFollowsNoLinkThatAnotherUserOwns) {
  // Wine's files belong to the prefix user, who is not the Administrators group.
  EXPECT_STREQ(Prepare({link_, link_ + "\\vik"}, FolderUse::kCreateAndWrite), link_.c_str());
  EXPECT_TRUE(test::FilesIn(elsewhere_).empty()) << "a folder was made through the link";
  EXPECT_TRUE(scene_.made.empty());
  EXPECT_STREQ(Prepare({link_, link_ + "\\vik"}, FolderUse::kDelete), link_.c_str());
  // A link further down is refused as well.
  ASSERT_TRUE(CreateDirectoryA(Path("real").c_str(), nullptr)) << GetLastError();
  ASSERT_TRUE(MakeLink(Path("real\\vik"), elsewhere_));
  EXPECT_EQ(Prepare({Path("real"), Path("real\\vik")}, FolderUse::kWrite), Path("real\\vik"));
}

TEST_F(LinkedFolderTest, ALinkThatAdministratorsOrSystemOwnIsFollowed) {
  for (const char* owner : {"BA", "SY"}) {
    scene_.linkOwner = owner;
    EXPECT_EQ(Prepare({link_, link_ + "\\vik"}, FolderUse::kCreateAndWrite), nullptr) << owner;
  }
  EXPECT_EQ(test::FilesIn(elsewhere_), std::vector<std::string>{"vik"});
  scene_.linkOwner = test::OwnUserSid();
  EXPECT_STREQ(Prepare({link_}, FolderUse::kDelete), link_.c_str());
}

TEST_F(LinkedFolderTest, WithoutAdministratorRightsALinkIsFollowedAsBefore) {
  scene_.administrator = false;
  EXPECT_FALSE(RunsWithAdministratorRights());
  EXPECT_EQ(Prepare({link_, link_ + "\\vik"}, FolderUse::kCreateAndWrite), nullptr);
  EXPECT_EQ(test::FilesIn(elsewhere_), std::vector<std::string>{"vik"});
  EXPECT_EQ(Prepare({link_, link_ + "\\vik"}, FolderUse::kDelete), nullptr);
}

TEST(AdministratorRights, WineRunsEveryProgramAsAnAdministrator) {
  EXPECT_TRUE(RunsWithAdministratorRights());
}

}  // namespace
}  // namespace zv
