// The cause of a failed write or deletion, as the file shows it: in use, refused, or nothing the user
// can act on (a missing file, a folder in the file's place).
#include "services/FailureCauses.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "runtime/FileOperations.h"
#include "tests/support/Faults.h"
#include "tests/support/ImportHook.h"
#include "tests/support/WinTestSupport.h"

namespace zv {
namespace {

class FailureCausesTest : public testing::Test {
 protected:
  void SetUp() override { root_ = test::MakeTestRoot(testing::UnitTest::GetInstance()->current_test_info()->name()); }
  void TearDown() override { test::RemoveTree(root_); }
  std::string root_;
};

TEST_F(FailureCausesTest, AFolderInTheFilesPlaceIsNoQuestionOfRights) {
  const std::string folder = root_ + "\\zvmain.exe";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  // The system refuses to delete or open a folder as a file with "access denied".
  ASSERT_FALSE(DeleteFileA(folder.c_str()));
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(CauseOfLastFailure(folder.c_str()), FailureCause::kUnknown);
  EXPECT_EQ(CauseOfFailureAt(folder.c_str()), FailureCause::kUnknown);
}

TEST_F(FailureCausesTest, AFileHeldOpenByAnotherIsInUse) {
  const std::string path = root_ + "\\zvlock.exe";
  ASSERT_TRUE(test::WriteWholeFile(path, "held"));
  HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CauseOfFailureAt(path.c_str()), FailureCause::kInUse);
  // A deletion that the system refused as "access denied" is looked at once more.
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(CauseOfLastFailure(path.c_str()), FailureCause::kInUse);
  CloseHandle(held);
  EXPECT_EQ(CauseOfFailureAt(path.c_str()), FailureCause::kUnknown);  // free again: nothing to say
}

TEST_F(FailureCausesTest, AReadOnlyFileSaysSoAndAMissingOneIsUnknown) {
  const std::string path = root_ + "\\zvchat.exe";
  ASSERT_TRUE(test::WriteWholeFile(path, "kept"));
  {
    test::ReadOnlyFile readOnly(path);
    ASSERT_TRUE(readOnly.ok()) << readOnly.whyNot();
    // Running as an administrator would not help with it; clearing the attribute would.
    EXPECT_EQ(CauseOfFailureAt(path.c_str()), FailureCause::kReadOnly);
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(CauseOfLastFailure(path.c_str()), FailureCause::kReadOnly);
  }
  const std::string missing = root_ + "\\zvnone.exe";
  EXPECT_EQ(CauseOfFailureAt(missing.c_str()), FailureCause::kUnknown);
  SetLastError(ERROR_DISK_FULL);
  EXPECT_EQ(CauseOfLastFailure(missing.c_str()), FailureCause::kDiskFull);
}

// Wine runs every program as an administrator; a token without administrator rights is given through
// a hook on this program's import of CheckTokenMembership.
test::ImportHook* g_membership = nullptr;
BOOL g_administrator = TRUE;
BOOL WINAPI AnsweringCheckTokenMembership(HANDLE token, PSID sid, PBOOL member) {
  const BOOL ok = g_membership->original<decltype(&CheckTokenMembership)>()(token, sid, member);
  if (ok && IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) *member = g_administrator;
  return ok;
}

TEST_F(FailureCausesTest, ARefusalIsAQuestionOfRightsOnlyWithoutAdministratorRights) {
  test::ImportHook membership("CheckTokenMembership", reinterpret_cast<void*>(&AnsweringCheckTokenMembership));
  ASSERT_TRUE(membership.ok());
  g_membership = &membership;
  const std::string path = root_ + "\\zvmain.exe";
  ASSERT_TRUE(test::WriteWholeFile(path, "kept"));
  for (const BOOL administrator : {FALSE, TRUE}) {
    g_administrator = administrator;
    const FailureCause expected = administrator ? FailureCause::kUnknown : FailureCause::kAccessDenied;
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(CauseOfLastFailure(path.c_str()), expected) << "administrator: " << administrator;
  }
  // A hidden or system file is refused whoever runs the program: no advice fits.
  g_administrator = FALSE;
  for (const DWORD attribute : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM}) {
    SetFileAttributesA(path.c_str(), attribute);
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(CauseOfLastFailure(path.c_str()), FailureCause::kUnknown) << std::hex << attribute;
  }
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  g_membership = nullptr;
}

TEST_F(FailureCausesTest, LookingAtTheFileLeavesTheLastErrorAsItWas) {
  const std::string folder = root_ + "\\zvfolder";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  const std::string missing = root_ + "\\zvnone.exe";
  for (const std::string& path : {folder, missing}) {
    SetLastError(ERROR_DISK_FULL);
    CauseOfFailureAt(path.c_str());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL)) << path;
  }
}

// The probe opens the failed file only to ask the system why: never through a link in its place, and
// never lending this program's identity beyond identification (a pipe's server in the file's place
// could otherwise act with the wizard's rights). Wine honours neither, so what is asked is looked at.
test::ImportHook* g_createFile = nullptr;
DWORD g_probeFlags = 0;
HANDLE WINAPI WatchingCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE model) {
  g_probeFlags = flags;
  return g_createFile->original<decltype(&CreateFileW)>()(path, access, share, security, disposition, flags,
                                                          model);
}

TEST_F(FailureCausesTest, TheProbeFollowsNoLinkAndAllowsNoImpersonation) {
  test::ImportHook createFile("CreateFileW", reinterpret_cast<void*>(&WatchingCreateFileW));
  ASSERT_TRUE(createFile.ok());
  g_createFile = &createFile;
  const std::string path = root_ + "\\zvmain.exe";
  ASSERT_TRUE(test::WriteWholeFile(path, "kept"));
  g_probeFlags = 0;
  EXPECT_EQ(CauseOfFailureAt(path.c_str()), FailureCause::kUnknown);
  constexpr DWORD kWanted = FILE_FLAG_OPEN_REPARSE_POINT | SECURITY_SQOS_PRESENT;
  EXPECT_EQ(g_probeFlags & kWanted, kWanted) << std::hex << g_probeFlags;
  EXPECT_EQ(g_probeFlags & SECURITY_CONTEXT_TRACKING, 0u);
  EXPECT_EQ(g_probeFlags & (3 << 16), static_cast<DWORD>(SECURITY_IDENTIFICATION))
      << "a higher impersonation level";
  g_createFile = nullptr;
}

// The shortcut's path is built in UTF-16 and may hold what GBK cannot (a desktop of 김철수 or Jörg):
// the probe takes it as it is, the list shows such a character as "?", and the file operations reach it.
TEST_F(FailureCausesTest, AWidePathIsProbedAsItIsAndListedInGbk) {
  const std::wstring folder = std::wstring(root_.begin(), root_.end()) + L"\\김철수 Jörg 小明";
  const std::wstring path = folder + L"\\Zorvik.lnk";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  HANDLE held =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CauseOfFailureAt(path.c_str()), FailureCause::kInUse);
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_EQ(CauseOfLastFailure(path.c_str()), FailureCause::kInUse);
  CloseHandle(held);
  EXPECT_EQ(CauseOfFailureAt(path.c_str()), FailureCause::kUnknown);
  FailedFiles failed;
  failed.Add(path.c_str(), FailureCause::kInUse);
  EXPECT_TRUE(failed.Has(FailureCause::kInUse));
  EXPECT_EQ(std::string(failed.Listing()), root_ + "\\??? J?rg 小明\\Zorvik.lnk\r\n");
  // The runtime's wide forms reach it too.
  EXPECT_TRUE(FileExists(path.c_str()));
  EXPECT_TRUE(RemoveFile(path.c_str()));
  EXPECT_FALSE(FileExists(path.c_str()));
  EXPECT_FALSE(RemoveFile(path.c_str()));
  RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace zv
