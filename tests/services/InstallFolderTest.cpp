// The install folders under the security model that Windows enforces and Wine does not: Wine has one
// user, runs every program as an administrator, keeps a folder's owner and access list only as far as
// Unix permissions can hold them, and reports a Linux symbolic link as a reparse point. So the list
// handed to the system when a folder is made is read where it is handed over (a hook on this
// program's import of CreateDirectoryW), what lands on disk is read back as far as Wine keeps it, and
// the rights, owners and refusals that Wine cannot give are given through hooks, per folder, as the
// system would answer them: a token without administrator rights, a folder another user owns, a list
// that others may change, a list that cannot be read or set, a folder that cannot be opened.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <winternl.h>
#include <sddl.h>

#include <map>
#include <memory>
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

// How the system answers for one folder, where the scene says so.
struct FolderAnswer {
  std::string security;  // "O:...D:..." reported by GetSecurityInfo ("" for the real one)
  DWORD readError = 0;   // GetSecurityInfo fails with this
  DWORD setError = 0;    // SetSecurityInfo fails with this
  bool setKept = true;   // a list that is set reads back as set (otherwise as before)
  DWORD openError = 0;   // opening the folder fails with this
  bool appears = false;  // somebody makes the folder just before the wizard does
  DWORD makeError = 0;   // making the folder fails with this
  bool leadsNowhere = false;  // a link there opens as itself, but what it leads to is not found
};

// What the hooks saw and what they are to answer.
struct Scene {
  std::vector<std::string> made;                // folders passed to CreateDirectoryW
  std::vector<bool> existedBefore;              // whether each was there at that moment
  std::vector<std::string> madeWith;            // the list each was made with ("" for none)
  std::vector<std::string> listsSet;            // lists given to existing folders (SetSecurityInfo)
  bool administrator = true;                    // CheckTokenMembership's answer, where hooked
  std::map<std::string, FolderAnswer> answers;  // by path
  std::map<HANDLE, std::string> opened;         // the path each handle of CreateFileW was opened by
  test::ImportHook* createDirectory = nullptr;
  test::ImportHook* membership = nullptr;
  test::ImportHook* handleSecurity = nullptr;
  test::ImportHook* setSecurity = nullptr;
  test::ImportHook* createFile = nullptr;
  test::ImportHook* createRelative = nullptr;

  FolderAnswer* AnswerFor(HANDLE handle) {
    const auto path = opened.find(handle);
    if (path == opened.end()) return nullptr;
    const auto answer = answers.find(path->second);
    return answer == answers.end() ? nullptr : &answer->second;
  }
};
Scene* g_scene = nullptr;

// A path that the folders' code handed to a wide call, as the GBK text that the test named it by.
std::string Gbk(LPCWSTR path) {
  char bytes[MAX_PATH * 2] = {};
  WideCharToMultiByte(936, 0, path, -1, bytes, sizeof bytes, nullptr, nullptr);
  return bytes;
}

BOOL WINAPI SceneCreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
  const auto answer = g_scene->answers.find(Gbk(path));
  if (answer != g_scene->answers.end() && answer->second.makeError != 0) {
    SetLastError(answer->second.makeError);
    return FALSE;
  }
  if (answer != g_scene->answers.end() && answer->second.appears)
    g_scene->createDirectory->original<decltype(&CreateDirectoryW)>()(path, nullptr);
  g_scene->made.push_back(Gbk(path));
  g_scene->existedBefore.push_back(GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES);
  g_scene->madeWith.push_back(security != nullptr ? SddlOf(security->lpSecurityDescriptor, DACL_SECURITY_INFORMATION)
                                                  : "");
  return g_scene->createDirectory->original<decltype(&CreateDirectoryW)>()(path, security);
}

BOOL WINAPI SceneCheckTokenMembership(HANDLE token, PSID sid, PBOOL member) {
  const BOOL ok = g_scene->membership->original<decltype(&CheckTokenMembership)>()(token, sid, member);
  if (ok && IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) *member = g_scene->administrator ? TRUE : FALSE;
  return ok;
}

HANDLE WINAPI SceneCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD disposition, DWORD flags, HANDLE model) {
  const auto answer = g_scene->answers.find(Gbk(path));
  if (answer != g_scene->answers.end() && answer->second.openError != 0) {
    SetLastError(answer->second.openError);
    return INVALID_HANDLE_VALUE;
  }
  if (answer != g_scene->answers.end() && answer->second.leadsNowhere && (flags & FILE_FLAG_OPEN_REPARSE_POINT) == 0) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE handle = g_scene->createFile->original<decltype(&CreateFileW)>()(path, access, share, security,
                                                                          disposition, flags, model);
  if (handle != INVALID_HANDLE_VALUE) g_scene->opened[handle] = Gbk(path);
  return handle;
}

// Opens and makes relative to a held folder: the path is the folder's (as the scene knows it) and the
// name. The same answers as by path, as the system's error codes of that level.
NTSTATUS StatusOf(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
      return static_cast<NTSTATUS>(0xC0000022L);
    case ERROR_SHARING_VIOLATION:
      return static_cast<NTSTATUS>(0xC0000043L);
    case ERROR_PATH_NOT_FOUND:
      return static_cast<NTSTATUS>(0xC000003AL);
    case ERROR_FILE_NOT_FOUND:
      return static_cast<NTSTATUS>(0xC0000034L);
    default:
      return static_cast<NTSTATUS>(0xC0000001L);
  }
}
NTSTATUS NTAPI SceneNtCreateFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                 PIO_STATUS_BLOCK io, PLARGE_INTEGER size, ULONG fileAttributes, ULONG share,
                                 ULONG disposition, ULONG options, PVOID ea, ULONG eaLength) {
  const auto original = g_scene->createRelative->original<decltype(&NtCreateFile)>();
  std::string path;
  const auto root = g_scene->opened.find(attributes->RootDirectory);
  if (root != g_scene->opened.end()) {
    const std::wstring name(attributes->ObjectName->Buffer, attributes->ObjectName->Length / sizeof(wchar_t));
    path = name.empty() ? root->second : root->second + "\\" + Gbk(name.c_str());
  }
  const auto found = g_scene->answers.find(path);
  FolderAnswer* answer = path.empty() || found == g_scene->answers.end() ? nullptr : &found->second;
  if (disposition == FILE_CREATE && (options & FILE_DIRECTORY_FILE) != 0 && !path.empty()) {
    if (answer != nullptr && answer->makeError != 0) return StatusOf(answer->makeError);
    if (answer != nullptr && answer->appears) CreateDirectoryA(path.c_str(), nullptr);
    g_scene->made.push_back(path);
    g_scene->existedBefore.push_back(GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES);
    g_scene->madeWith.push_back(SddlOf(attributes->SecurityDescriptor, DACL_SECURITY_INFORMATION));
  } else if (answer != nullptr && answer->openError != 0) {
    return StatusOf(answer->openError);
  } else if (answer != nullptr && answer->leadsNowhere && (options & FILE_OPEN_REPARSE_POINT) == 0) {
    return StatusOf(ERROR_PATH_NOT_FOUND);
  }
  const NTSTATUS status = original(handle, access, attributes, io, size, fileAttributes, share, disposition,
                                   options, ea, eaLength);
  if (status >= 0 && !path.empty()) g_scene->opened[*handle] = path;
  return status;
}

DWORD WINAPI SceneGetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts, PSID* owner,
                                  PSID* group, PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
  FolderAnswer* answer = g_scene->AnswerFor(handle);
  if (answer != nullptr && answer->readError != 0) return answer->readError;
  if (answer == nullptr || answer->security.empty())
    return g_scene->handleSecurity->original<decltype(&GetSecurityInfo)>()(handle, type, parts, owner, group,
                                                                           dacl, sacl, descriptor);
  // Made from the descriptor language; freed by the caller with LocalFree, as the system's own.
  PSECURITY_DESCRIPTOR made = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorA(answer->security.c_str(), SDDL_REVISION_1, &made,
                                                       nullptr);
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  if (owner != nullptr) GetSecurityDescriptorOwner(made, owner, &defaulted);
  if (dacl != nullptr && (!GetSecurityDescriptorDacl(made, &present, dacl, &defaulted) || !present))
    *dacl = nullptr;
  *descriptor = made;
  return ERROR_SUCCESS;
}

DWORD WINAPI SceneSetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts, PSID owner,
                                  PSID group, PACL dacl, PACL sacl) {
  SECURITY_DESCRIPTOR descriptor;
  InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
  SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE);
  if ((parts & PROTECTED_DACL_SECURITY_INFORMATION) != 0)
    SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  const std::string list = SddlOf(&descriptor, DACL_SECURITY_INFORMATION);
  g_scene->listsSet.push_back(list);
  FolderAnswer* answer = g_scene->AnswerFor(handle);
  if (answer != nullptr && answer->setError != 0) return answer->setError;
  if (answer != nullptr && !answer->security.empty()) {
    if (answer->setKept) answer->security = answer->security.substr(0, answer->security.find("D:")) + list;
    return ERROR_SUCCESS;
  }
  return g_scene->setSecurity->original<decltype(&SetSecurityInfo)>()(handle, type, parts, owner, group, dacl,
                                                                      sacl);
}

class InstallFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(createDirectory_.ok() && membership_.ok() && handleSecurity_.ok() && setSecurity_.ok() &&
                createFile_.ok() && createRelative_.ok())
        << "the program's imports could not be hooked";
    scene_.createDirectory = &createDirectory_;
    scene_.membership = &membership_;
    scene_.handleSecurity = &handleSecurity_;
    scene_.setSecurity = &setSecurity_;
    scene_.createFile = &createFile_;
    scene_.createRelative = &createRelative_;
    g_scene = &scene_;
    root_ = test::MakeTestRoot(testing::UnitTest::GetInstance()->current_test_info()->name());
    scene_.made.clear();
    scene_.existedBefore.clear();
    scene_.madeWith.clear();
  }
  void TearDown() override {
    held_.reset();
    for (const std::string& link : links_) test::RemoveLinuxLink(link);
    test::RemoveTree(root_);
    g_scene = nullptr;
  }
  bool MakeLink(const std::string& link, const std::string& target) {
    links_.push_back(link);
    return test::MakeLinuxLink(link, target);
  }
  std::string Path(const std::string& name) const { return root_ + "\\" + name; }

  // Prepares the folders with a new holder (the last one is let go); the refused folder, or nullptr.
  const char* Prepare(const std::vector<std::string>& folders, FolderUse use, FolderRefusal* why = nullptr) {
    std::vector<const char*> names;
    for (const std::string& folder : folders) names.push_back(folder.c_str());
    held_ = std::make_unique<HeldFolders>();
    const FolderRefusal refusal = held_->Prepare(names, use);
    if (why != nullptr) *why = refusal;
    EXPECT_EQ(refusal == FolderRefusal::kNone, held_->refused() == nullptr);
    return held_->refused();
  }

  std::string root_;
  std::vector<std::string> links_;
  std::unique_ptr<HeldFolders> held_;
  Scene scene_;
  test::ImportHook createDirectory_{"CreateDirectoryW", reinterpret_cast<void*>(&SceneCreateDirectoryW)};
  test::ImportHook membership_{"CheckTokenMembership", reinterpret_cast<void*>(&SceneCheckTokenMembership)};
  test::ImportHook handleSecurity_{"GetSecurityInfo", reinterpret_cast<void*>(&SceneGetSecurityInfo)};
  test::ImportHook setSecurity_{"SetSecurityInfo", reinterpret_cast<void*>(&SceneSetSecurityInfo)};
  test::ImportHook createFile_{"CreateFileW", reinterpret_cast<void*>(&SceneCreateFileW)};
  test::ImportHook createRelative_{"NtCreateFile", reinterpret_cast<void*>(&SceneNtCreateFile)};
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
  // Inspected (page 1's 下一步), an installation makes nothing and changes no list, until it starts
  // writing: the user may still cancel.
  const std::string open = "O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;WD)";
  for (const bool exists : {false, true}) {  // (made by the first round)
    scene_.answers = {{Path("zor"), {.security = open}}};
    held_ = std::make_unique<HeldFolders>();
    const std::string zor = Path("zor");
    const char* folders[] = {zor.c_str()};
    ASSERT_EQ(held_->Inspect(folders, FolderUse::kCreateAndWrite), FolderRefusal::kNone);
    EXPECT_TRUE(scene_.made.empty() && scene_.listsSet.empty());
    ASSERT_EQ(held_->MakeReady({}), FolderRefusal::kNone);
    EXPECT_EQ(scene_.made.size() + scene_.listsSet.size(), 1u)
        << (exists ? "protected" : "made") << " when writing";
    scene_.made.clear();
    scene_.listsSet.clear();
  }
}

// ---- Which existing folders are trusted -----------------------------------------------------------

// The user of this test program, who runs the "wizard" here.
std::string Own() {
  return test::OwnUserSid();
}
constexpr char kOtherUser[] = "S-1-5-21-1-2-3-1001";
constexpr char kTrustedInstaller[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr char kOwnersOnly[] = "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// For writing, an existing folder is used as it is when a trusted principal owns it and nobody else
// may change it; it gets the protected list when a trusted principal owns it and others may change
// it; it is refused when somebody else owns it or its owner and list cannot be read, set or read back.
// An uninstallation changes no list and refuses nothing of this.
TEST_F(InstallFolderTest, AnExistingFolderIsUsedOnlyWhenNobodyElseCanChangeIt) {
  enum Outcome { kLeft, kProtected, kForeign, kUnconfirmed };
  struct Case {
    std::string name;
    std::string owner;
    std::string list;
    FolderAnswer fault;
    Outcome outcome;
  };
  std::vector<Case> cases = {
      {"only its owners may change it",
       "BA",
       "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;FA;;;CO)(A;OICI;0x1200a9;;;BU)(A;OICI;0x1200a9;;;AU)",
       {},
       kLeft},
      {"owned by this user", Own(), std::string(kOwnersOnly) + "(A;OICI;FA;;;" + Own() + ")", {}, kLeft},
      {"owned by SYSTEM", "SY", kOwnersOnly, {}, kLeft},
      {"owned by TrustedInstaller",
       kTrustedInstaller,
       std::string(kOwnersOnly) + "(A;OICI;FA;;;" + kTrustedInstaller + ")",
       {},
       kLeft},
      {"a deny entry for everyone only", "BA", std::string(kOwnersOnly) + "(D;OICI;FA;;;WD)", {}, kLeft},
      {"another user may change it",
       "BA",
       std::string(kOwnersOnly) + "(A;OICI;FA;;;" + kOtherUser + ")",
       {},
       kProtected},
      {"another user, by inheritance only",
       "BA",
       std::string(kOwnersOnly) + "(A;OICIIO;FA;;;" + kOtherUser + ")",
       {},
       kProtected},
      {"Guests may add files", "BA", std::string(kOwnersOnly) + "(A;;0x2;;;BG)", {}, kProtected},
      {"Users may write attributes", "BA", std::string(kOwnersOnly) + "(A;;0x100;;;BU)", {}, kProtected},
      {"CREATOR OWNER in force", "BA", std::string(kOwnersOnly) + "(A;OICI;FA;;;CO)", {}, kProtected},
      {"no list at all", "BA", "", {}, kProtected},
      {"another user owns it",
       kOtherUser,
       std::string(kOwnersOnly) + "(A;OICI;FA;;;" + kOtherUser + ")",
       {},
       kForeign},
      {"another user owns it, with a list of the owners", kOtherUser, kOwnersOnly, {}, kForeign},
      {"its descriptor cannot be read", "BA", kOwnersOnly, {.readError = ERROR_ACCESS_DENIED}, kUnconfirmed},
      {"it cannot be opened", "BA", kOwnersOnly, {.openError = ERROR_ACCESS_DENIED}, kUnconfirmed},
      {"the list cannot be set", "BA", "D:(A;OICI;FA;;;WD)", {.setError = ERROR_ACCESS_DENIED}, kUnconfirmed},
      {"the list set is not kept", "BA", "D:(A;OICI;FA;;;WD)", {.setKept = false}, kUnconfirmed},
  };
  // Each broad group with each right that lets it change the folder, as the drive's root gives them.
  for (const char* group : {"WD", "AU", "BU", "IU"})
    for (const char* rights : {"0x1301bf", "GW", "GA", "0x4"})
      cases.push_back({std::string(group) + " with " + rights,
                       "BA",
                       std::string(kOwnersOnly) + "(A;OICI;" + rights + ";;;" + group + ")",
                       {},
                       kProtected});
  const std::string folder = Path("vik");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const FolderUse use : {FolderUse::kWrite, FolderUse::kDelete}) {
      FolderAnswer answer = c.fault;
      answer.security = "O:" + c.owner + c.list;
      scene_.answers = {{folder, answer}};
      scene_.listsSet.clear();
      FolderRefusal why = FolderRefusal::kNone;
      Prepare({folder}, use, &why);
      const bool writing = use == FolderUse::kWrite;
      const FolderRefusal wanted = c.outcome == kForeign && writing ? FolderRefusal::kForeignOwner
                                   : c.outcome == kUnconfirmed && (writing || c.fault.openError != 0)
                                       ? FolderRefusal::kUnconfirmed
                                       : FolderRefusal::kNone;
      EXPECT_EQ(why, wanted) << (writing ? "writing" : "deleting");
      if (writing && c.outcome == kProtected) {
        ASSERT_EQ(scene_.listsSet.size(), 1u) << "left as it was";
        EXPECT_EQ(scene_.listsSet[0].rfind("D:P(A;OICI;FA;;;SY)", 0), 0u) << scene_.listsSet[0];
        EXPECT_NE(scene_.listsSet[0].find("(A;OICI;0x1200a9;;;BU)"), std::string::npos) << scene_.listsSet[0];
      } else if (c.fault.setError == 0 && c.fault.setKept) {
        EXPECT_TRUE(scene_.listsSet.empty()) << (writing ? "writing: " : "deleting: ") << scene_.listsSet[0];
      }
    }
  }
}

// A folder given the protected list keeps what others left in it, with their own owners and lists:
// the suite's own files get the list too, and any entry that another user owns, or that others may
// change and that could not be reset, is refused and named, before anything is written. A subfolder
// counts as one entry; the install folder below is checked as a folder; a folder that needed no new
// list is not looked into.
TEST_F(InstallFolderTest, WhatOthersLeftInAFolderBeingProtectedIsRefusedNotKept) {
  const std::string open = std::string(kOwnersOnly) + "(A;OICI;FA;;;WD)";
  struct Case {
    const char* name;
    std::string entry;    // made in the folder ("" for none; ending in "\\" a subfolder)
    FolderAnswer answer;  // for the entry
    bool folderOpen;      // the folder itself needs the protected list
    bool refused;
    std::size_t listsSet;  // lists given: the folder's and the entries'
  };
  const std::vector<Case> cases = {
      {"the suite's file, open to others, reset", "zvmain.exe", {.security = "O:BA" + open}, true, false, 2},
      {"the configuration, owned by this user",
       "zvconf.ini",
       {.security = "O:" + Own() + kOwnersOnly},
       true,
       false,
       2},
      {"the suite's file owned by another user",
       "zvmain.exe",
       {.security = "O:" + std::string(kOtherUser) + kOwnersOnly},
       true,
       true,
       1},
      {"the suite's file whose list cannot be set",
       "zvmain.exe",
       {.security = "O:BA" + open, .setError = ERROR_ACCESS_DENIED},
       true,
       true,
       2},
      {"the suite's file whose list is not kept",
       "zvmain.exe",
       {.security = "O:BA" + open, .setKept = false},
       true,
       true,
       2},
      {"another name, open to others", "zvhook.dll", {.security = "O:BA" + open}, true, true, 1},
      {"another name, owned by another user",
       "zvhook.dll",
       {.security = "O:" + std::string(kOtherUser) + kOwnersOnly},
       true,
       true,
       1},
      {"another name, unreadable",
       "zvhook.dll",
       {.security = "O:BA" + open, .readError = ERROR_ACCESS_DENIED},
       true,
       true,
       1},
      {"another name, only the trusted may change it",
       "readme.txt",
       {.security = "O:BA" + std::string(kOwnersOnly)},
       true,
       false,
       1},
      {"a subfolder another user owns",
       "plugins\\",
       {.security = "O:" + std::string(kOtherUser) + kOwnersOnly},
       true,
       true,
       1},
      {"a folder that needed no new list", "zvhook.dll", {.security = "O:BA" + open}, false, false, 0},
  };
  const std::string folder = Path("vik");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    held_.reset();  // lets the folder go, so that it can be made anew
    test::RemoveTree(folder);
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    std::string entry = folder + "\\" + c.entry;
    if (entry.ends_with("\\")) {
      entry.pop_back();
      ASSERT_TRUE(CreateDirectoryA(entry.c_str(), nullptr));
      ASSERT_TRUE(test::WriteWholeFile(entry + "\\inside.dll", "planted"));
    } else {
      ASSERT_TRUE(test::WriteWholeFile(entry, "planted"));
    }
    scene_.answers = {{folder, {.security = "O:BA" + (c.folderOpen ? open : std::string(kOwnersOnly))}},
                      {entry, c.answer}};
    scene_.listsSet.clear();
    const std::string ownFile = folder + "\\" + (c.entry == "zvconf.ini" ? "zvconf.ini" : "zvmain.exe");
    const char* own[] = {ownFile.c_str()};
    held_ = std::make_unique<HeldFolders>();
    const char* folders[] = {folder.c_str()};
    const FolderRefusal why = held_->Prepare(folders, FolderUse::kCreateAndWrite, own);
    EXPECT_EQ(why, c.refused ? FolderRefusal::kForeignEntries : FolderRefusal::kNone);
    EXPECT_EQ(held_->entries(), c.refused ? entry + "\r\n" : std::string()) << "the entries named";
    EXPECT_EQ(scene_.listsSet.size(), c.listsSet);
  }
  // The install folder below is not one of the parent's entries: it is checked as a folder.
  const std::string child = Path("zor\\vik");
  ASSERT_TRUE(CreateDirectoryA(Path("zor").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(child.c_str(), nullptr));
  scene_.answers = {{Path("zor"), {.security = "O:BA" + open}}, {child, {.security = "O:BA" + open}}};
  scene_.listsSet.clear();
  EXPECT_EQ(Prepare({Path("zor"), child}, FolderUse::kCreateAndWrite), nullptr);
  EXPECT_EQ(scene_.listsSet.size(), 2u);
}

TEST_F(InstallFolderTest, AFolderThatAppearsBeforeTheWizardMakesItIsCheckedAsAnExistingOne) {
  const std::string parent = Path("zor");
  const std::string child = Path("zor\\vik");
  scene_.answers[child] = {.security = "O:" + std::string(kOtherUser) + kOwnersOnly, .appears = true};
  FolderRefusal why = FolderRefusal::kNone;
  EXPECT_STREQ(Prepare({parent, child}, FolderUse::kCreateAndWrite, &why), child.c_str());
  EXPECT_EQ(why, FolderRefusal::kForeignOwner);
  EXPECT_TRUE(scene_.listsSet.empty());
}

TEST_F(InstallFolderTest, TheFoldersAreHeldAgainstMovesUntilLetGo) {
  const std::string parent = Path("zor");
  const std::string child = Path("zor\\vik");
  for (const FolderUse use : {FolderUse::kCreateAndWrite, FolderUse::kDelete}) {
    ASSERT_EQ(Prepare({parent, child}, use), nullptr);
    for (const std::string& folder : {child, parent}) {
      EXPECT_FALSE(MoveFileExA(folder.c_str(), Path("moved").c_str(), 0))
          << folder << " was moved while held";
      EXPECT_EQ(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
    }
    held_.reset();
  }
  EXPECT_TRUE(MoveFileExA(parent.c_str(), Path("moved").c_str(), 0)) << "still held: " << GetLastError();
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
  EXPECT_STREQ(Prepare({Path("real"), Path("real\\vik")}, FolderUse::kWrite), Path("real\\vik").c_str());
}

TEST_F(LinkedFolderTest, ALinkThatAdministratorsOrSystemOwnIsFollowed) {
  for (const char* owner : {"BA", "SY"}) {
    scene_.answers[link_] = {.security = std::string("O:") + owner};
    EXPECT_EQ(Prepare({link_, link_ + "\\vik"}, FolderUse::kCreateAndWrite), nullptr) << owner;
  }
  EXPECT_EQ(test::FilesIn(elsewhere_), std::vector<std::string>{"vik"});
  scene_.answers[link_] = {.security = "O:" + test::OwnUserSid()};
  EXPECT_STREQ(Prepare({link_}, FolderUse::kDelete), link_.c_str());
}

// A link that the administrators own but others may change could be pointed elsewhere while it is
// held: it is followed for writing only once it has the protected list (set through its own handle and
// read back), and never for an uninstallation, which changes no list.
TEST_F(LinkedFolderTest, ALinkOthersMayChangeIsFollowedOnlyOnceProtected) {
  const struct {
    const char* name;
    FolderAnswer answer;
    FolderUse use;
    bool followed;
  } rows[] = {
      {"nobody else may change it", {.security = std::string("O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)")}, FolderUse::kDelete, true},
      {"protected for writing", {.security = "O:BAD:(A;;FA;;;WD)"}, FolderUse::kWrite, true},
      {"its list cannot be set", {.security = "O:BAD:(A;;FA;;;WD)", .setError = ERROR_ACCESS_DENIED}, FolderUse::kWrite, false},
      {"its list set is not kept", {.security = "O:BAD:(A;;FA;;;WD)", .setKept = false}, FolderUse::kWrite, false},
      {"for an uninstallation", {.security = "O:BAD:(A;;FA;;;WD)"}, FolderUse::kDelete, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    scene_.answers[link_] = row.answer;
    scene_.listsSet.clear();
    EXPECT_EQ(Prepare({link_}, row.use) == nullptr, row.followed);
    EXPECT_EQ(scene_.listsSet.empty(), row.use == FolderUse::kDelete || row.answer.security.find("WD") == std::string::npos);
  }
}

// What cannot be made or reached is refused, not passed over: a folder that could not be made, and a
// link of the administrators that leads nowhere.
TEST_F(LinkedFolderTest, AFolderThatCannotBeMadeOrALinkThatLeadsNowhereIsRefused) {
  scene_.answers[Path("zv")] = {.makeError = ERROR_ACCESS_DENIED};
  FolderRefusal why = FolderRefusal::kNone;
  EXPECT_EQ(Prepare({Path("zv"), Path("zv\\vik")}, FolderUse::kCreateAndWrite, &why), Path("zv"));
  EXPECT_EQ(why, FolderRefusal::kUnconfirmed);
  scene_.answers[link_] = {.security = std::string("O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)"), .leadsNowhere = true};
  EXPECT_EQ(Prepare({link_}, FolderUse::kWrite, &why), link_);
  EXPECT_EQ(why, FolderRefusal::kUnconfirmed);
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
