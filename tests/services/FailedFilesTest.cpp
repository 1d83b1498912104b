// The list of files that could not be written or deleted: one line per path, each path once.
#include "services/FailedFiles.h"

#include <gtest/gtest.h>

namespace zv {
namespace {

TEST(FailedFiles, ListsEachPathOnceOnItsOwnLine) {
  FailedFiles failed;
  EXPECT_TRUE(failed.empty());
  EXPECT_STREQ(failed.Listing(), "");
  failed.Add("C:\\zor\\vik\\zvmain.exe");
  failed.Add("C:\\zor\\vik\\zvconf.ini");
  failed.Add("C:\\zor\\vik\\zvmain.exe");
  failed.Add("C:\\zor\\vik\\zvconf.ini");
  EXPECT_EQ(failed.count(), 2);
  EXPECT_STREQ(failed.Listing(), "C:\\zor\\vik\\zvmain.exe\r\nC:\\zor\\vik\\zvconf.ini\r\n");
}

TEST(FailedFiles, APathThatEndsAnotherIsStillListed) {
  FailedFiles failed;
  failed.Add("C:\\x\\ab.exe");
  failed.Add("b.exe");
  failed.Add("ab.exe");
  EXPECT_EQ(failed.count(), 3);
}

TEST(FailedFiles, KeepsTheCauseOfEveryFailureEvenOfAPathListedBefore) {
  FailedFiles failed;
  EXPECT_FALSE(failed.Has(FailureCause::kInUse));
  failed.Add("C:\\zor\\vik\\zvconf.ini", FailureCause::kUnknown);
  EXPECT_FALSE(failed.Has(FailureCause::kInUse));
  EXPECT_FALSE(failed.Has(FailureCause::kDiskFull));
  EXPECT_FALSE(failed.Has(FailureCause::kAccessDenied));
  failed.Add("C:\\zor\\vik\\zvconf.ini", FailureCause::kDiskFull);
  failed.Add("C:\\zor\\vik\\zvmain.exe", FailureCause::kInUse);
  EXPECT_EQ(failed.count(), 2);
  EXPECT_TRUE(failed.Has(FailureCause::kDiskFull));
  EXPECT_TRUE(failed.Has(FailureCause::kInUse));
  EXPECT_FALSE(failed.Has(FailureCause::kAccessDenied));
}

TEST(FailedFiles, SystemErrorCodesNameTheirCause) {
  EXPECT_EQ(CauseOfSystemError(32), FailureCause::kInUse);        // ERROR_SHARING_VIOLATION
  EXPECT_EQ(CauseOfSystemError(33), FailureCause::kInUse);        // ERROR_LOCK_VIOLATION
  EXPECT_EQ(CauseOfSystemError(1224), FailureCause::kInUse);      // ERROR_USER_MAPPED_FILE
  EXPECT_EQ(CauseOfSystemError(112), FailureCause::kDiskFull);    // ERROR_DISK_FULL
  EXPECT_EQ(CauseOfSystemError(39), FailureCause::kDiskFull);     // ERROR_HANDLE_DISK_FULL
  EXPECT_EQ(CauseOfSystemError(5), FailureCause::kAccessDenied);  // ERROR_ACCESS_DENIED
  // No error, a missing file or folder, a write-protected medium (no rights help there), a bad name,
  // an existing file: nothing the user can act on.
  for (std::uint32_t other : {0u, 2u, 3u, 19u, 80u, 123u, 183u, 267u, 1175u}) {
    EXPECT_EQ(CauseOfSystemError(other), FailureCause::kUnknown) << other;
  }
}

}  // namespace
}  // namespace zv
