// Files and INI values against the real file system and profile API of the Wine prefix, in a fresh
// folder under C:\zvtest per test. The faults are real: read-only files, and a disk that is full (the
// small drive Q:, a 1 MB file system that the CTest fixture mounts; those cases skip, saying why, on a
// machine that cannot mount it). After every fault the old file is whole and no scratch file is left.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/FileOperations.h"
#include "tests/support/Faults.h"
#include "tests/support/ImportHook.h"
#include "tests/support/WinTestSupport.h"

namespace zv {
namespace {

class FileOperationsTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = test::MakeTestRoot(testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  void TearDown() override { test::RemoveTree(root_); }
  std::string Path(const std::string& name) const { return root_ + "\\" + name; }
  // The names in the test folder (or another), sorted, so that a leftover file shows up.
  std::vector<std::string> Listing() const { return test::FilesIn(root_); }
  // Starts a process that holds the file open without sharing, and waits until it does.
  static bool HoldOpen(test::ChildProcess& holder, const std::string& path) {
    if (!holder.StartScenario("HoldFileOpen", "\"" + path + "\"")) return false;
    for (int i = 0; i < 200 && !test::PathExists(path + ".held"); ++i) Sleep(25);
    return DeleteFileA((path + ".held").c_str()) != FALSE;
  }

  std::string root_;
};

// A ByteArray block built in the test: header and bytes, with a dimension count of the test's choice.
std::vector<unsigned char> MakeArray(const std::string& bytes, std::int32_t dimensions = 1) {
  std::vector<unsigned char> block(sizeof(ByteArray) + bytes.size());
  auto* array = reinterpret_cast<ByteArray*>(block.data());
  array->dimensionCount = dimensions;
  array->length = static_cast<std::int32_t>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), array->bytes());
  return block;
}
const ByteArray* AsArray(const std::vector<unsigned char>& block) {
  return reinterpret_cast<const ByteArray*>(block.data());
}

// A ByteArray whose length runs into a page that cannot be read, so that the write fails half-way.
class UnreadableArray {
 public:
  UnreadableArray() {
    pages_ = static_cast<unsigned char*>(
        VirtualAlloc(nullptr, 2 * kPage, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(pages_ + kPage, kPage, PAGE_NOACCESS, &old);
    array_ = reinterpret_cast<ByteArray*>(pages_ + kPage - 64);
    array_->dimensionCount = 1;
    array_->length = 8192;  // 56 readable bytes, then the guard page
  }
  ~UnreadableArray() { VirtualFree(pages_, 0, MEM_RELEASE); }
  const ByteArray* get() const { return array_; }

 private:
  static constexpr std::size_t kPage = 4096;
  unsigned char* pages_ = nullptr;
  ByteArray* array_ = nullptr;
};

// Holds the file named by the last argument open without sharing until the test ends the process.
ZV_CHILD_SCENARIO(HoldFileOpen) {
  const std::string path = argv[argc - 1];
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) ExitProcess(2);
  // The marker appears by a rename, closed, so the test can delete it at once.
  test::WriteWholeFile(path + ".marking", "");
  MoveFileA((path + ".marking").c_str(), (path + ".held").c_str());
  Sleep(INFINITE);
}

TEST_F(FileOperationsTest, MakeDirectoryCreatesExactlyOneLevel) {
  EXPECT_FALSE(MakeDirectory(Path("zor\\vik").c_str()));
  EXPECT_FALSE(test::PathExists(Path("zor")));
  EXPECT_TRUE(MakeDirectory(Path("zor").c_str()));
  EXPECT_TRUE(MakeDirectory(Path("zor\\vik").c_str()));
  EXPECT_TRUE(test::PathExists(Path("zor\\vik")));
}

TEST_F(FileOperationsTest, MakeDirectoryOnExistingDirectoryIsFalse) {
  ASSERT_TRUE(MakeDirectory(Path("d").c_str()));
  EXPECT_FALSE(MakeDirectory(Path("d").c_str()));
}

TEST_F(FileOperationsTest, RemoveFileDeletesFilesOnly) {
  test::WriteWholeFile(Path("a.txt"), "x");
  CreateDirectoryA(Path("dir").c_str(), nullptr);
  EXPECT_TRUE(RemoveFile(Path("a.txt").c_str()));
  EXPECT_FALSE(test::PathExists(Path("a.txt")));
  EXPECT_FALSE(RemoveFile(Path("a.txt").c_str()));
  EXPECT_FALSE(RemoveFile(Path("dir").c_str()));
  EXPECT_FALSE(RemoveFile(Path("*.txt").c_str()));
  EXPECT_TRUE(test::PathExists(Path("dir")));
}

TEST_F(FileOperationsTest, FileExistsForFilesDirectoriesAndWildcards) {
  test::WriteWholeFile(Path("report.txt"), "x");
  CreateDirectoryA(Path("dir").c_str(), nullptr);
  EXPECT_TRUE(FileExists(Path("report.txt").c_str()));
  EXPECT_TRUE(FileExists(Path("dir").c_str()));
  EXPECT_TRUE(FileExists(Path("*.txt").c_str()));
  EXPECT_FALSE(FileExists(Path("*.exe").c_str()));
  EXPECT_FALSE(FileExists(Path("missing.txt").c_str()));
}

TEST_F(FileOperationsTest, WriteBytesConcatenatesArraysAndSkipsEmptyOnes) {
  auto first = MakeArray("abc");
  auto empty = MakeArray("");
  auto negative = MakeArray("zz");
  reinterpret_cast<ByteArray*>(negative.data())->length = -2;
  auto last = MakeArray(std::string("d\0e", 3), 7);  // the dimension count is not looked at
  ASSERT_TRUE(WriteBytesToFile(Path("out.bin").c_str(),
                               {AsArray(first), AsArray(empty), AsArray(negative), AsArray(last)}));
  EXPECT_EQ(test::ReadWholeFile(Path("out.bin")), std::string("abcd\0e", 6));
}

TEST_F(FileOperationsTest, WriteBytesWithThreeAndZeroBytesWritesThree) {
  auto three = MakeArray("xyz");
  auto zero = MakeArray("");
  ASSERT_TRUE(WriteBytesToFile(Path("out.bin").c_str(), {AsArray(three), AsArray(zero)}));
  EXPECT_EQ(test::ReadWholeFile(Path("out.bin")), "xyz");
}

TEST_F(FileOperationsTest, WriteBytesReplacesTheWholeOldContent) {
  test::WriteWholeFile(Path("out.bin"), "a much longer old content");
  auto data = MakeArray("new");
  ASSERT_TRUE(WriteBytesToFile(Path("out.bin").c_str(), {AsArray(data)}));
  EXPECT_EQ(test::ReadWholeFile(Path("out.bin")), "new");
  EXPECT_EQ(Listing(), std::vector<std::string>{"out.bin"});
}

TEST_F(FileOperationsTest, WriteBytesWithoutArraysCreatesOrEmptiesTheFile) {
  EXPECT_TRUE(WriteBytesToFile(Path("new.bin").c_str(), {}));
  EXPECT_TRUE(test::PathExists(Path("new.bin")));
  EXPECT_EQ(test::ReadWholeFile(Path("new.bin")), "");

  test::WriteWholeFile(Path("old.bin"), "old");
  EXPECT_TRUE(WriteBytesToFile(Path("old.bin").c_str(), {}));
  EXPECT_TRUE(test::PathExists(Path("old.bin")));
  EXPECT_EQ(test::ReadWholeFile(Path("old.bin")), "");
}

TEST_F(FileOperationsTest, WriteBytesFailsForEmptyPathAndMissingDirectory) {
  auto data = MakeArray("abc");
  EXPECT_FALSE(WriteBytesToFile("", {AsArray(data)}));
  EXPECT_FALSE(WriteBytesToFile(Path("missing\\out.bin").c_str(), {AsArray(data)}));
  EXPECT_FALSE(test::PathExists(Path("missing")));
  EXPECT_TRUE(Listing().empty());
}

TEST_F(FileOperationsTest, WriteBytesToFileHeldOpenByAnotherProcessKeepsItsContent) {
  const std::string target = Path("running.exe");
  test::WriteWholeFile(target, "old program");
  test::ChildProcess holder;
  ASSERT_TRUE(HoldOpen(holder, target));

  auto data = MakeArray("new program");
  EXPECT_FALSE(WriteBytesToFile(target.c_str(), {AsArray(data)}));
  holder.Terminate();
  EXPECT_EQ(test::ReadWholeFile(target), "old program");
  EXPECT_EQ(Listing(), std::vector<std::string>{"running.exe"});
}

TEST_F(FileOperationsTest, FailingWriteLeavesTheOldFileAndNoTemporaryFile) {
  const std::string target = Path("payload.exe");
  test::WriteWholeFile(target, "good program");
  auto first = MakeArray("new start");
  UnreadableArray broken;
  EXPECT_FALSE(WriteBytesToFile(target.c_str(), {AsArray(first), broken.get()}));
  EXPECT_EQ(test::ReadWholeFile(target), "good program");
  EXPECT_EQ(Listing(), std::vector<std::string>{"payload.exe"});
}

TEST_F(FileOperationsTest, FailingWriteOfANewFileLeavesNothing) {
  UnreadableArray broken;
  EXPECT_FALSE(WriteBytesToFile(Path("payload.exe").c_str(), {broken.get()}));
  EXPECT_TRUE(Listing().empty());
}

TEST_F(FileOperationsTest, WriteBytesOverAReadOnlyFileFailsAndLeavesIt) {
  const std::string target = Path("payload.exe");
  test::WriteWholeFile(target, "good program");
  test::ReadOnlyFile readOnly(target);
  ASSERT_TRUE(readOnly.ok()) << readOnly.whyNot();
  auto data = MakeArray("new program");
  EXPECT_FALSE(WriteBytesToFile(target.c_str(), {AsArray(data)}));
  EXPECT_EQ(test::ReadWholeFile(target), "good program");
  EXPECT_EQ(Listing(), std::vector<std::string>{"payload.exe"});
}

TEST_F(FileOperationsTest, WriteBytesToADirectoryFailsAndLeavesIt) {
  ASSERT_TRUE(CreateDirectoryA(Path("payload.exe").c_str(), nullptr));
  test::WriteWholeFile(Path("payload.exe\\inside.txt"), "kept");
  auto data = MakeArray("new program");
  EXPECT_FALSE(WriteBytesToFile(Path("payload.exe").c_str(), {AsArray(data)}));
  EXPECT_EQ(test::ReadWholeFile(Path("payload.exe\\inside.txt")), "kept");
  EXPECT_EQ(Listing(), std::vector<std::string>{"payload.exe"});
}

TEST_F(FileOperationsTest, WriteBytesIntoAFolderThatIsAFileFailsAndLeavesTheFile) {
  test::WriteWholeFile(Path("vik"), "not a folder");
  auto data = MakeArray("new program");
  EXPECT_FALSE(WriteBytesToFile(Path("vik\\zvmain.exe").c_str(), {AsArray(data)}));
  EXPECT_EQ(test::ReadWholeFile(Path("vik")), "not a folder");
  EXPECT_EQ(Listing(), std::vector<std::string>{"vik"});
}

// A payload-sized array of one repeated byte.
std::vector<unsigned char> ArrayOfSize(std::size_t bytes, char fill) {
  return MakeArray(std::string(bytes, fill));
}

TEST_F(FileOperationsTest, WriteBytesOverAFileOnAFullDiskFailsAndLeavesTheOldFileWhole) {
  test::SmallDrive drive;
  if (!drive.available()) GTEST_SKIP() << drive.whyNot();
  const std::string folder = drive.MakeFolder("WriteOverOnFullDisk");
  const std::string target = folder + "\\payload.exe";
  const std::string old(40000, 'o');
  ASSERT_TRUE(test::WriteWholeFile(target, old));
  ASSERT_TRUE(drive.LeaveFree(64 * 1024));
  auto data = ArrayOfSize(200 * 1024, 'n');
  EXPECT_FALSE(WriteBytesToFile(target.c_str(), {AsArray(data)}));
  EXPECT_TRUE(test::ReadWholeFile(target) == old);
  EXPECT_EQ(test::FilesIn(folder), std::vector<std::string>{"payload.exe"});
}

TEST_F(FileOperationsTest, WriteBytesOfANewFileOnAFullDiskFailsAndLeavesNothing) {
  test::SmallDrive drive;
  if (!drive.available()) GTEST_SKIP() << drive.whyNot();
  const std::string folder = drive.MakeFolder("WriteNewOnFullDisk");
  ASSERT_TRUE(drive.LeaveFree(64 * 1024));
  auto data = ArrayOfSize(200 * 1024, 'n');
  EXPECT_FALSE(WriteBytesToFile((folder + "\\payload.exe").c_str(), {AsArray(data)}));
  EXPECT_TRUE(test::FilesIn(folder).empty());
}

TEST_F(FileOperationsTest, WriteBytesThatFitsOnANearlyFullDiskSucceeds) {
  test::SmallDrive drive;
  if (!drive.available()) GTEST_SKIP() << drive.whyNot();
  const std::string folder = drive.MakeFolder("WriteFitsOnFullDisk");
  ASSERT_TRUE(drive.LeaveFree(64 * 1024));
  auto data = ArrayOfSize(16 * 1024, 'n');
  EXPECT_TRUE(WriteBytesToFile((folder + "\\payload.exe").c_str(), {AsArray(data)}));
  EXPECT_EQ(test::ReadWholeFile(folder + "\\payload.exe"), std::string(16 * 1024, 'n'));
  EXPECT_EQ(test::FilesIn(folder), std::vector<std::string>{"payload.exe"});
}

// ---- What a write looks like from outside while it is under way ----------------------------------

// Seen through hooks on this program's imports of WriteFile, FlushFileBuffers and
// SetFileInformationByHandle: at the first WriteFile, which files of the folder another opener could
// open; then whether the handle that took the data was flushed before that handle was moved over the
// old file, and whether the move replaces what is there.
struct WriteWatch {
  std::string folder;
  bool looked = false;
  std::vector<std::string> present;  // the folder's files at the first WriteFile
  std::vector<std::string> opened;   // those of them that could be opened for reading meanwhile
  HANDLE written = nullptr;
  bool flushed = false;
  int moves = 0;
  bool flushedBeforeMove = false;
  bool replaces = false;
};
WriteWatch* g_watch = nullptr;
test::ImportHook* g_writeHook = nullptr;
test::ImportHook* g_flushHook = nullptr;
test::ImportHook* g_moveHook = nullptr;

BOOL WINAPI WatchedWriteFile(HANDLE file, LPCVOID bytes, DWORD length, LPDWORD written,
                             LPOVERLAPPED overlapped) {
  if (!g_watch->looked) {
    g_watch->looked = true;
    g_watch->present = test::FilesIn(g_watch->folder);
    for (const std::string& name : g_watch->present) {
      // As another program would try: reading, and letting everybody else do anything.
      HANDLE other = CreateFileA((g_watch->folder + "\\" + name).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (other != INVALID_HANDLE_VALUE) {
        g_watch->opened.push_back(name);
        CloseHandle(other);
      }
    }
  }
  g_watch->written = file;
  return g_writeHook->original<decltype(&WriteFile)>()(file, bytes, length, written, overlapped);
}

BOOL WINAPI WatchedFlushFileBuffers(HANDLE file) {
  if (file == g_watch->written) g_watch->flushed = true;
  return g_flushHook->original<decltype(&FlushFileBuffers)>()(file);
}

BOOL WINAPI WatchedSetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info,
                                              DWORD size) {
  if (kind == FileRenameInfo) {
    ++g_watch->moves;
    g_watch->flushedBeforeMove = g_watch->flushed && file == g_watch->written;
    g_watch->replaces = static_cast<const FILE_RENAME_INFO*>(info)->ReplaceIfExists != FALSE;
  }
  return g_moveHook->original<decltype(&SetFileInformationByHandle)>()(file, kind, info, size);
}

// WriteBytesToFile with the watch on.
bool WatchedWrite(const std::string& path, const ByteArray* data, WriteWatch* watch) {
  test::ImportHook write("WriteFile", reinterpret_cast<void*>(&WatchedWriteFile));
  test::ImportHook flush("FlushFileBuffers", reinterpret_cast<void*>(&WatchedFlushFileBuffers));
  test::ImportHook move("SetFileInformationByHandle",
                        reinterpret_cast<void*>(&WatchedSetFileInformationByHandle));
  EXPECT_TRUE(write.ok() && flush.ok() && move.ok()) << "the program's imports could not be hooked";
  g_watch = watch;
  g_writeHook = &write;
  g_flushHook = &flush;
  g_moveHook = &move;
  const bool result = WriteBytesToFile(path.c_str(), {data});
  g_watch = nullptr;
  return result;
}

TEST_F(FileOperationsTest, NobodyElseCanOpenAFileWhileItIsWritten) {
  auto data = MakeArray("new program");
  WriteWatch fresh;
  fresh.folder = root_;
  ASSERT_TRUE(WatchedWrite(Path("payload.exe"), AsArray(data), &fresh));
  ASSERT_TRUE(fresh.looked);
  // A new file too is written under another name, flushed, and given its own only when whole, never
  // replacing a file that appeared meanwhile: a write that fails or is killed leaves nothing cut short.
  ASSERT_EQ(fresh.present.size(), 1u);
  EXPECT_EQ(fresh.present[0].substr(0, 3), "zvw") << fresh.present[0];
  EXPECT_TRUE(fresh.moves == 1 && fresh.flushedBeforeMove && !fresh.replaces);
  EXPECT_TRUE(fresh.opened.empty()) << "opened during the write: " << testing::PrintToString(fresh.opened);

  WriteWatch replacement;
  replacement.folder = root_;
  ASSERT_TRUE(WatchedWrite(Path("payload.exe"), AsArray(data), &replacement));
  ASSERT_TRUE(replacement.looked);
  EXPECT_EQ(replacement.present.size(), 2u) << "the old file and the new one beside it";
  EXPECT_TRUE(replacement.opened.empty())
      << "opened during the write: " << testing::PrintToString(replacement.opened);
  EXPECT_EQ(test::ReadWholeFile(Path("payload.exe")), "new program");
}

TEST_F(FileOperationsTest, AReplacementIsOnDiskBeforeItTakesTheOldFilesPlace) {
  test::WriteWholeFile(Path("payload.exe"), "old program");
  auto data = MakeArray("new program");
  WriteWatch watch;
  watch.folder = root_;
  ASSERT_TRUE(WatchedWrite(Path("payload.exe"), AsArray(data), &watch));
  ASSERT_EQ(watch.moves, 1);
  EXPECT_TRUE(watch.flushedBeforeMove) << "the new content was not flushed before its handle moved it";
  EXPECT_TRUE(watch.replaces);
  EXPECT_EQ(test::ReadWholeFile(Path("payload.exe")), "new program");
}

// ---- What belongs to a replaced file ------------------------------------------------------------

// The owner and access list of a file as the system reports them, in the security descriptor
// language ("" when they cannot be read).
std::string SecurityOf(const std::string& path) {
  constexpr SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, parts, nullptr, nullptr, nullptr, nullptr,
                            &descriptor) != ERROR_SUCCESS) {
    return "";
  }
  char* text = nullptr;
  ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, parts, &text, nullptr);
  std::string result = text != nullptr ? text : "";
  LocalFree(text);
  LocalFree(descriptor);
  return result;
}

// Gives `path` an access list of its own (administrators and this user, nothing inherited).
void GiveOwnAccessList(const std::string& path) {
  const std::string wanted = "D:P(A;;FA;;;BA)(A;;FA;;;" + test::OwnUserSid() + ")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(wanted.c_str(), SDDL_REVISION_1, &descriptor,
                                                                   nullptr));
  SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor);
  LocalFree(descriptor);
}

// A program planted with entries of its own (everyone may change it, say) must not keep them: the
// replacement takes the folder's list, as a new file there does, whatever list the old file had.
TEST_F(FileOperationsTest, AReplacedFileTakesTheFoldersListNotTheOldFiles) {
  const std::string target = Path("payload.exe");
  test::WriteWholeFile(target, "old program");
  const std::string fresh = Path("fresh.exe");
  test::WriteWholeFile(fresh, "x");
  const std::string folders = SecurityOf(fresh);
  DeleteFileA(fresh.c_str());
  // An access list of the file's own (nothing inherited, nothing for everyone).
  ASSERT_NO_FATAL_FAILURE(GiveOwnAccessList(target));
  const std::string before = SecurityOf(target);
  if (before.empty() || before == folders)
    GTEST_SKIP() << "this file system does not keep a file's own access list: " << before;

  auto data = MakeArray("new program");
  ASSERT_TRUE(WriteBytesToFile(target.c_str(), {AsArray(data)}));
  EXPECT_EQ(test::ReadWholeFile(target), "new program");
  EXPECT_EQ(SecurityOf(target), folders) << "the old file's was " << before;
  EXPECT_EQ(Listing(), std::vector<std::string>{"payload.exe"});
}

// As the overwrite leaves it: the archive flag set (a backup that relies on it must see the changed
// program), nothing else of the old attributes.
TEST_F(FileOperationsTest, AReplacedFileHasTheArchiveFlagAndNoOtherAttribute) {
  const std::string target = Path("payload.exe");
  test::WriteWholeFile(target, "old program");
  // No attribute at all (the archive flag cleared, as a backup leaves it), or one that is not carried.
  SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (GetFileAttributesA(target.c_str()) != FILE_ATTRIBUTE_NORMAL)
    GTEST_SKIP() << "this file system does not clear the archive flag: " << std::hex
                 << GetFileAttributesA(target.c_str());
  SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  auto data = MakeArray("new program");
  ASSERT_TRUE(WriteBytesToFile(target.c_str(), {AsArray(data)}));
  EXPECT_EQ(test::ReadWholeFile(target), "new program");
  EXPECT_EQ(GetFileAttributesA(target.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
}

TEST_F(FileOperationsTest, AHiddenOrSystemFileIsRefusedAndLeftAsItWas) {
  for (const DWORD attribute : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM}) {
    const std::string target = Path("payload.exe");
    test::WriteWholeFile(target, "someone else's file");
    SetFileAttributesA(target.c_str(), attribute);
    ASSERT_NE(GetFileAttributesA(target.c_str()) & attribute, 0u) << "the attribute did not stick";
    auto data = MakeArray("new program");
    EXPECT_FALSE(WriteBytesToFile(target.c_str(), {AsArray(data)})) << std::hex << attribute;
    EXPECT_EQ(test::ReadWholeFile(target), "someone else's file");
    EXPECT_NE(GetFileAttributesA(target.c_str()) & attribute, 0u);
    EXPECT_EQ(Listing(), std::vector<std::string>{"payload.exe"});
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(target.c_str());
  }
}

// A scratch file as a writer leaves it when it is killed half-way: named by GetTempFileNameA with
// the writer's prefix, holding part of a program.
std::string LeaveScratchFile(const std::string& folder) {
  char name[MAX_PATH] = {};
  if (GetTempFileNameA(folder.c_str(), "zvw", 0, name) == 0) return "";
  test::WriteWholeFile(name, "half a program");
  const std::string path = name;
  return path.substr(path.find_last_of('\\') + 1);
}

TEST_F(FileOperationsTest, AScratchFileThatNobodyHoldsIsRemovedByTheNextWrite) {
  const std::string left = LeaveScratchFile(root_);
  ASSERT_FALSE(left.empty());
  // A scratch file that a running writer still has open stays; so do files that are not ours.
  const std::string inUse = LeaveScratchFile(root_);
  test::WriteWholeFile(Path("zvw-notes.tmp"), "a user's file");
  test::WriteWholeFile(Path("zvwxyz.tmp"), "a user's file");
  test::ChildProcess writer;
  ASSERT_TRUE(HoldOpen(writer, Path(inUse)));

  auto data = MakeArray("new program");
  ASSERT_TRUE(WriteBytesToFile(Path("payload.exe").c_str(), {AsArray(data)}));
  std::vector<std::string> expected = {"payload.exe", inUse, "zvw-notes.tmp", "zvwxyz.tmp"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Listing(), expected);

  // Once the writer is gone (killed), its file is a leftover too: the next write, a replacement
  // this time, removes it.
  writer.Terminate();
  writer.Wait();
  // The system may close a killed process's files a moment after the process has ended.
  for (int i = 0; i < 80; ++i) {
    HANDLE probe = CreateFileA(Path(inUse).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
      CloseHandle(probe);
      break;
    }
    Sleep(25);
  }
  ASSERT_TRUE(WriteBytesToFile(Path("payload.exe").c_str(), {AsArray(data)}));
  expected = {"payload.exe", "zvw-notes.tmp", "zvwxyz.tmp"};
  EXPECT_EQ(Listing(), expected);
}

TEST_F(FileOperationsTest, AnIniWriteAlsoRemovesLeftScratchFiles) {
  const std::string left = LeaveScratchFile(root_);
  ASSERT_FALSE(left.empty());
  ASSERT_TRUE(WriteIniValue(Path("zvconf.ini").c_str(), "yonghuzu", TextArg("nicheng"), TextArg("小明")));
  EXPECT_EQ(Listing(), std::vector<std::string>{"zvconf.ini"});
}

// "誠" is D5 5C in GBK: its second byte is the backslash's. Such a character in a folder's or a
// file's name is part of the name, never a separator.
TEST_F(FileOperationsTest, NamesWithADoubleByteCharacterEndingInTheBackslashByte) {
  static_assert(sizeof("誠") == 3 && "誠"[1] == '\\', "the sources are compiled to GBK");
  const std::string folder = Path("誠");
  ASSERT_TRUE(MakeDirectory(folder.c_str()));
  const std::string target = folder + "\\誠.exe";
  auto first = MakeArray("first");
  ASSERT_TRUE(WriteBytesToFile(target.c_str(), {AsArray(first)}));
  EXPECT_EQ(test::ReadWholeFile(target), "first");
  const std::string left = LeaveScratchFile(folder);
  ASSERT_FALSE(left.empty());
  auto second = MakeArray("second");
  ASSERT_TRUE(WriteBytesToFile(target.c_str(), {AsArray(second)}));  // a replacement beside it
  EXPECT_EQ(test::ReadWholeFile(target), "second");
  EXPECT_EQ(test::FilesIn(folder), std::vector<std::string>{"誠.exe"});  // no scratch file left either
  EXPECT_TRUE(FileExists(target.c_str()));

  const std::string ini = folder + "\\誠.ini";
  ASSERT_TRUE(WriteIniValue(ini.c_str(), "yonghuzu", TextArg("nicheng"), TextArg("誠")));
  EXPECT_STREQ(ReadIniValue(ini.c_str(), "yonghuzu", "nicheng").c_str(), "誠");
  EXPECT_EQ(test::FilesIn(folder), (std::vector<std::string>{"誠.exe", "誠.ini"}));
  EXPECT_TRUE(RemoveFile(target.c_str()));
  EXPECT_EQ(Listing(), std::vector<std::string>{"誠"});
}

// Every operation on GBK paths, in a process whose ANSI code page is not 936; what it made is
// listed by the parent, which reads GBK names in code page 936 as a Chinese system does.
ZV_CHILD_SCENARIO(GbkPathsUnderAnotherCodePage) {
  const std::string root = argv[argc - 1];
  const std::string folder = root + "\\小明";
  const std::string program = folder + "\\誠.exe";
  const std::string ini = folder + "\\zvconf.ini";
  auto first = MakeArray("first");
  auto second = MakeArray("second");
  const FileContent together[] = {{program.c_str(), AsArray(second)}};
  std::uint32_t errors[1] = {};
  const bool ok = MakeDirectory(folder.c_str()) && WriteBytesToFile(program.c_str(), {AsArray(first)}) &&
                  WriteFilesTogether(together, errors) && FileExists(program.c_str()) &&
                  WriteBytesToFile((folder + "\\删除.txt").c_str(), {AsArray(first)}) &&
                  RemoveFile((folder + "\\删除.txt").c_str()) &&
                  WriteIniValue(ini.c_str(), "yonghuzu", TextArg("nicheng"), TextArg("小明")) &&
                  std::strcmp(ReadIniValue(ini.c_str(), "yonghuzu", "nicheng").c_str(), "小明") == 0;
  test::WriteWholeFile(root + "\\result.tmp", std::to_string(GetACP()) + (ok ? " ok" : " failed"));
  MoveFileA((root + "\\result.tmp").c_str(), (root + "\\result.txt").c_str());
}

// An English Windows (code page 1252): Wine takes the code page from the Linux locale, so the test
// program runs itself again through Linux with C.UTF-8.
TEST_F(FileOperationsTest, GbkPathsNameTheSameFilesUnderAnotherCodePage) {
  const std::string program = test::UnixPathOf(test::OwnProgramPath());
  if (program.empty()) GTEST_SKIP() << "only under Wine can a test start itself with another code page";
  char loader[MAX_PATH] = "/usr/bin/wine";
  GetEnvironmentVariableA("WINELOADER", loader, sizeof loader);
  ASSERT_TRUE(test::RunLinuxProgram(std::string("/usr/bin/env LC_ALL=C.UTF-8 LANG=C.UTF-8 ") + loader +
                                    " \"" + program + "\" --zv-child=GbkPathsUnderAnotherCodePage \"" +
                                    root_ + "\""));
  for (int i = 0; i < 1200 && !test::PathExists(Path("result.txt")); ++i) Sleep(50);
  EXPECT_EQ(test::ReadWholeFile(Path("result.txt")), "1252 ok");
  EXPECT_EQ(Listing(), (std::vector<std::string>{"result.txt", "小明"}));
  EXPECT_EQ(test::FilesIn(Path("小明")), (std::vector<std::string>{"zvconf.ini", "誠.exe"}));
  EXPECT_EQ(test::ReadWholeFile(Path("小明\\誠.exe")), "second");
  EXPECT_EQ(test::ReadWholeFile(Path("小明\\zvconf.ini")), "[yonghuzu]\r\nnicheng=小明\r\n");
}

class IniTest : public FileOperationsTest {
 protected:
  void SetUp() override {
    FileOperationsTest::SetUp();
    ini_ = Path("zvconf.ini");
  }
  std::string ini_;
};

TEST_F(IniTest, WrittenValuesReadBack) {
  ASSERT_TRUE(WriteIniValue(ini_.c_str(), "yonghuzu", TextArg("nicheng"), TextArg("小明")));
  ASSERT_TRUE(WriteIniValue(ini_.c_str(), "yonghuzu", TextArg("xingbie"), TextArg("女性")));
  EXPECT_STREQ(ReadIniValue(ini_.c_str(), "yonghuzu", "nicheng").c_str(), "小明");
  EXPECT_STREQ(ReadIniValue(ini_.c_str(), "yonghuzu", "xingbie").c_str(), "女性");
  const std::string content = test::ReadWholeFile(ini_);
  EXPECT_NE(content.find("[yonghuzu]"), std::string::npos);
  EXPECT_NE(content.find("nicheng=小明"), std::string::npos);
}

TEST_F(IniTest, MissingFileGivesTheDefaultOrNull) {
  Text withDefault = ReadIniValue(Path("missing.ini").c_str(), "yonghuzu", "nicheng", TextArg("x"));
  EXPECT_STREQ(withDefault.c_str(), "x");
  Text withoutDefault = ReadIniValue(Path("missing.ini").c_str(), "yonghuzu", "nicheng");
  EXPECT_TRUE(withoutDefault.IsNull());
  EXPECT_FALSE(test::PathExists(Path("missing.ini")));
}

TEST_F(IniTest, EmptyValueReadsAsNullLikeAMissingKey) {
  ASSERT_TRUE(WriteIniValue(ini_.c_str(), "yonghuzu", TextArg("nicheng"), TextArg("")));
  EXPECT_NE(test::ReadWholeFile(ini_).find("nicheng="), std::string::npos);
  EXPECT_TRUE(ReadIniValue(ini_.c_str(), "yonghuzu", "nicheng").IsNull());
}

TEST_F(IniTest, LeadingBlanksOfFileSectionAndKeyAreSkipped) {
  test::WriteWholeFile(ini_, "[yonghuzu]\r\nnicheng=abc\r\n");
  EXPECT_STREQ(ReadIniValue(ini_.c_str(), " yonghuzu", "nicheng").c_str(), "abc");
  EXPECT_STREQ(ReadIniValue(ini_.c_str(), "yonghuzu", "\t\x01 nicheng").c_str(), "abc");
  EXPECT_STREQ(ReadIniValue(("  " + ini_).c_str(), "yonghuzu", "nicheng").c_str(), "abc");
}

TEST_F(IniTest, TheDefaultIsNotTrimmed) {
  EXPECT_STREQ(ReadIniValue(ini_.c_str(), "yonghuzu", "nicheng", TextArg(" x")).c_str(), " x");
}

TEST_F(IniTest, BlankKeySectionOrFileMakesNoCallAndIgnoresTheDefault) {
  test::WriteWholeFile(ini_, "[yonghuzu]\r\nnicheng=abc\r\n");
  // A call would have answered with the default (or the section's keys); no call answers empty.
  EXPECT_TRUE(ReadIniValue(ini_.c_str(), "yonghuzu", "   ", TextArg("x")).IsNull());
  EXPECT_TRUE(ReadIniValue(ini_.c_str(), "yonghuzu", "", TextArg("x")).IsNull());
  EXPECT_TRUE(ReadIniValue(ini_.c_str(), " \t", "nicheng", TextArg("x")).IsNull());
  EXPECT_TRUE(ReadIniValue("  ", "yonghuzu", "nicheng", TextArg("x")).IsNull());
}

TEST_F(IniTest, LongValuesAreCutToTheBuffer) {
  const std::string longValue(12000, 'v');
  test::WriteWholeFile(ini_, "[s]\r\nk=" + longValue + "\r\n");
  Text value = ReadIniValue(ini_.c_str(), "s", "k");
  EXPECT_EQ(value.length(), 10239u);
}

// The rules of the profile calls, byte for byte: "\x81\x5D" and "\xD5\x5D" are GBK characters whose
// second byte is that of "]", "\x81\x41" and "\x81\x61" two that differ only in a byte that ASCII
// case would fold, and "\xE5\xB0\x8F\xE6\x98\x8E" is 小明 in UTF-8 (as another code page stored it).
TEST_F(IniTest, ValuesAreReadByTheProfileRules) {
  struct Row {
    const char* rule;
    const char* content;
    const char* section;
    const char* key;
    const char* expected;  // with the default "d"
  } const rows[] = {
      {"case", "[YongHuZu]\r\nNiCheng=a\r\n", "yonghuzu", "nicheng", "a"},
      {"blanks", "  [ a ]  \r\n\t k \t=\t v w \x1a\r\n", "a", "k", "v w"},
      {"quotes", "[a]\r\nk=\"q\"\r\n", "a", "k", "q"},
      {"single quotes, blanks inside kept", "[a]\r\nk= ' q ' \r\n", "a", "k", " q "},
      {"unmatched quotes", "[a]\r\nk=\"q'\r\n", "a", "k", "\"q'"},
      {"a lone quote", "[a]\r\nk=\"\r\n", "a", "k", "\""},
      {"first duplicate key", "[a]\r\nk=1\r\nK=2\r\n", "a", "k", "1"},
      {"first section only", "[a]\r\nx=1\r\n[A]\r\nk=2\r\n", "a", "k", "d"},
      {"no '='", "[a]\r\nk\r\n", "a", "k", "d"},
      {"value after the first '='", "[a]\r\nk = 1 = 2\r\n", "a", "k", "1 = 2"},
      {"lone CR and LF", "[a]\rk=1\nj=2", "a", "j", "2"},
      {"byte-order mark", "\xEF\xBB\xBF[a]\r\nk=1\r\n", "a", "k", "1"},
      {"trail byte of ']' in a value", "[a]\r\nk=\xD5\x5D=\r\n", "a", "k", "\xD5\x5D="},
      {"trail byte of ']' after the header", "[a]\x81\x5D\r\nk=1\r\n", "a", "k", "1"},
      {"trail byte of ']' in a name", "[\x81\x5D]\r\nk=1\r\n", "\x81\x5D", "k", "1"},
      {"no case in a trail byte", "[a]\r\n\x81\x61=1\r\n", "a", "\x81\x41", "d"},
      {"another code page's bytes", "[yonghuzu]\r\nnicheng=\xE5\xB0\x8F\xE6\x98\x8E\r\n", "yonghuzu",
       "nicheng", "\xE5\xB0\x8F\xE6\x98\x8E"},
  };
  for (const Row& row : rows) {
    test::WriteWholeFile(ini_, row.content);
    EXPECT_STREQ(ReadIniValue(ini_.c_str(), row.section, row.key, TextArg("d")).c_str(), row.expected)
        << row.rule;
  }
  // The default as the profile reader gave it: trailing spaces and matching quotes gone.
  EXPECT_STREQ(ReadIniValue(ini_.c_str(), "a", "none", TextArg("  \"d\"  ")).c_str(), "  \"d\"");
  EXPECT_STREQ(ReadIniValue(ini_.c_str(), "a", "none", TextArg("'d'")).c_str(), "d");
  // A long value of double-byte characters is cut before the character that would pass 10,239 bytes.
  std::string wide;
  for (int i = 0; i < 6000; ++i) wide += "\xD0\xA1";
  test::WriteWholeFile(ini_, "[s]\r\nk=" + wide + "\r\nj=x" + wide + "\r\n");
  EXPECT_EQ(ReadIniValue(ini_.c_str(), "s", "k").c_str(), wide.substr(0, 10238));
  EXPECT_EQ(ReadIniValue(ini_.c_str(), "s", "j").c_str(), "x" + wide.substr(0, 10238));
}

OptionalArgument<TextArg> Given(const char* text) {
  return text != nullptr ? OptionalArgument<TextArg>(TextArg(text)) : OptionalArgument<TextArg>{};
}

// New sections and keys laid out as the profile writer laid them out; every other byte kept.
TEST_F(IniTest, WritesChangeOnlyTheirOwnBytes) {
  struct Row {
    const char* rule;
    const char* before;  // null: no file
    const char* section;
    const char* key;    // null: omitted
    const char* value;  // null: omitted
    const char* after;  // null: no file
  } const rows[] = {
      {"a new file", nullptr, "yonghuzu", "nicheng", "abc", "[yonghuzu]\r\nnicheng=abc\r\n"},
      {"a new key after the last line", "[a]\r\nk=1\r\n;c\r\n\r\n[b]\r\nq=1\r\n", "a", "j", "v",
       "[a]\r\nk=1\r\n;c\r\nj=v\r\n\r\n[b]\r\nq=1\r\n"},
      {"a new key after a last line without its end", "[a]\r\nk=1", "a", "j", "v", "[a]\r\nk=1\r\nj=v\r\n"},
      {"a new section", "x\n[a]\nk=1\n", "b", "k", "v", "x\n[a]\nk=1\n[b]\r\nk=v\r\n"},
      {"a new section after a line without its end", "[a]\r\nk=1", "b", "k", "v",
       "[a]\r\nk=1\r\n[b]\r\nk=v\r\n"},
      {"in place, case and blanks kept", "; top\r\n  [ YongHuZu ]  \r\n  NiCheng  =  \"old\"  \n[b]\nq = 1",
       "yonghuzu", "nicheng", "new", "; top\r\n  [ YongHuZu ]  \r\n  NiCheng  =  new  \n[b]\nq = 1"},
      {"the first duplicate", "[a]\r\nk=1\r\nk=2\r\n[a]\r\nj=3\r\n", "a", "k", "9",
       "[a]\r\nk=9\r\nk=2\r\n[a]\r\nj=3\r\n"},
      {"into the first section", "[a]\r\nx=1\r\n[a]\r\nk=3\r\n", "a", "k", "9",
       "[a]\r\nx=1\r\nk=9\r\n[a]\r\nk=3\r\n"},
      {"a key without '='", "[a]\r\nk \r\n", "a", "k", "1", "[a]\r\nk=1 \r\n"},
      {"leading blanks not written", "[a]\r\n", "a", "k", " \t v ", "[a]\r\nk=v \r\n"},
      {"a GBK value with the ']' byte", "[\x81\x5D]\r\nk=1\r\n", "\x81\x5D", "k", "\xD5\x5D",
       "[\x81\x5D]\r\nk=\xD5\x5D\r\n"},
      {"another code page's value kept", "[yonghuzu]\r\nnicheng=\xA4\x70\xA9\xFA\r\n", "yonghuzu", "xingbie",
       "x", "[yonghuzu]\r\nnicheng=\xA4\x70\xA9\xFA\r\nxingbie=x\r\n"},
      {"the key deleted", "[a]\r\nk=1\r\nj=2\r\n[b]\r\nk=1\r\n", "a", "k", nullptr,
       "[a]\r\nj=2\r\n[b]\r\nk=1\r\n"},
      {"the section deleted", "; c\r\n[a]\r\nk=1\r\n\r\n[b]\r\nm=1\r\n[a]\r\nz=2", "A", nullptr, nullptr,
       "; c\r\n[b]\r\nm=1\r\n[a]\r\nz=2"},
      {"a missing key deleted", "[a]\nk=1", "a", "j", nullptr, "[a]\nk=1"},
      {"a missing section deleted", "[a]\nk=1", "b", nullptr, nullptr, "[a]\nk=1"},
      {"nothing deleted in no file", nullptr, "a", "k", nullptr, nullptr},
  };
  for (const Row& row : rows) {
    DeleteFileA(ini_.c_str());
    if (row.before != nullptr) test::WriteWholeFile(ini_, row.before);
    EXPECT_TRUE(WriteIniValue(ini_.c_str(), row.section, Given(row.key), Given(row.value))) << row.rule;
    EXPECT_EQ(test::PathExists(ini_), row.after != nullptr) << row.rule;
    EXPECT_EQ(test::ReadWholeFile(ini_), row.after != nullptr ? row.after : "") << row.rule;
  }
  EXPECT_FALSE(WriteIniValue(ini_.c_str(), " ", TextArg("k"), TextArg("v")));
  EXPECT_FALSE(WriteIniValue(ini_.c_str(), "a", TextArg(""), TextArg("v")));
}

TEST_F(IniTest, OmittedValueDeletesTheKey) {
  test::WriteWholeFile(ini_, "[yonghuzu]\r\nnicheng=abc\r\nxingbie=女性\r\n");
  EXPECT_TRUE(WriteIniValue(ini_.c_str(), "yonghuzu", TextArg("nicheng")));
  EXPECT_TRUE(ReadIniValue(ini_.c_str(), "yonghuzu", "nicheng").IsNull());
  EXPECT_STREQ(ReadIniValue(ini_.c_str(), "yonghuzu", "xingbie").c_str(), "女性");
  EXPECT_EQ(test::ReadWholeFile(ini_).find("nicheng"), std::string::npos);
}

TEST_F(IniTest, OmittedKeyDeletesTheSection) {
  test::WriteWholeFile(ini_, "[yonghuzu]\r\nnicheng=abc\r\n[other]\r\nk=v\r\n");
  EXPECT_TRUE(WriteIniValue(ini_.c_str(), "yonghuzu"));
  EXPECT_TRUE(ReadIniValue(ini_.c_str(), "yonghuzu", "nicheng").IsNull());
  EXPECT_STREQ(ReadIniValue(ini_.c_str(), "other", "k").c_str(), "v");
  EXPECT_EQ(test::ReadWholeFile(ini_).find("yonghuzu"), std::string::npos);
}

TEST_F(IniTest, WritingIntoAMissingDirectoryFails) {
  EXPECT_FALSE(
      WriteIniValue(Path("missing\\zvconf.ini").c_str(), "yonghuzu", TextArg("nicheng"), TextArg("a")));
  EXPECT_FALSE(test::PathExists(Path("missing")));
}

TEST_F(IniTest, WritingToAReadOnlyFileFailsAndLeavesIt) {
  const std::string before = "[yonghuzu]\r\nnicheng=小明\r\nxingbie=男性\r\n";
  test::WriteWholeFile(ini_, before);
  test::ReadOnlyFile readOnly(ini_);
  ASSERT_TRUE(readOnly.ok()) << readOnly.whyNot();
  EXPECT_FALSE(WriteIniValue(ini_.c_str(), "yonghuzu", TextArg("nicheng"), TextArg("小红")));
  EXPECT_EQ(test::ReadWholeFile(ini_), before);
  EXPECT_EQ(Listing(), std::vector<std::string>{"zvconf.ini"});
}

// The file as the profile reader of the system sees it afresh: every section with its keys and values.
// Read through a copy of a new name, so that no cached view of the original answers.
std::map<std::string, std::map<std::string, std::string>> SectionsOf(const std::string& ini) {
  static int copies = 0;
  const std::string copy = ini + ".read" + std::to_string(++copies);
  std::map<std::string, std::map<std::string, std::string>> sections;
  if (!CopyFileA(ini.c_str(), copy.c_str(), FALSE)) return sections;
  std::vector<char> names(65536);
  GetPrivateProfileSectionNamesA(names.data(), static_cast<DWORD>(names.size()), copy.c_str());
  for (const char* name = names.data(); *name != '\0'; name += std::strlen(name) + 1) {
    std::vector<char> pairs(65536);
    GetPrivateProfileSectionA(name, pairs.data(), static_cast<DWORD>(pairs.size()), copy.c_str());
    auto& keys = sections[name];
    for (const char* pair = pairs.data(); *pair != '\0'; pair += std::strlen(pair) + 1) {
      const char* eq = std::strchr(pair, '=');
      if (eq == nullptr) {
        keys[pair] = "";
      } else {
        keys[std::string(pair, eq)] = eq + 1;
      }
    }
  }
  DeleteFileA(copy.c_str());
  return sections;
}

TEST_F(IniTest, ANicknameCannotAddOrBreakKeysOrSections) {
  const std::string before = "[yonghuzu]\r\nxingbie=男性\r\n[other]\r\nkept=yes\r\n";
  // Line breaks of every kind, section and key syntax, comment and control characters.
  const char* const nicknames[] = {"a\r\n[evil]\r\nk=v",
                                   "b\nx=y",
                                   "c\rz=w",
                                   "\r\n[yonghuzu]",
                                   "d\r\nxingbie=",
                                   "[s]",
                                   "=x",
                                   "]",
                                   "[",
                                   ";c",
                                   "#c",
                                   "e=f=g",
                                   "\x01\x02",
                                   "g\x1a[h]",
                                   "h\t=i"};
  for (const char* nickname : nicknames) {
    test::WriteWholeFile(ini_, before);
    WriteIniValue(ini_.c_str(), "yonghuzu", TextArg("nicheng"), TextArg(nickname));
    const auto sections = SectionsOf(ini_);
    std::vector<std::string> names;
    for (const auto& [name, keys] : sections) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"other", "yonghuzu"}))
        << "nickname " << ::testing::PrintToString(nickname);
    if (sections.count("yonghuzu") != 0) {
      std::vector<std::string> keys;
      for (const auto& [key, value] : sections.at("yonghuzu")) keys.push_back(key);
      // The nickname's key may be missing (a refused value), but no other key appears.
      keys.erase(std::remove(keys.begin(), keys.end(), "nicheng"), keys.end());
      EXPECT_EQ(keys, std::vector<std::string>{"xingbie"})
          << "nickname " << ::testing::PrintToString(nickname);
      EXPECT_EQ(sections.at("yonghuzu").at("xingbie"), "男性")
          << "nickname " << ::testing::PrintToString(nickname);
    }
    if (sections.count("other") != 0) {
      EXPECT_EQ(sections.at("other"), (std::map<std::string, std::string>{{"kept", "yes"}}))
          << "nickname " << ::testing::PrintToString(nickname);
    }
  }
}

TEST_F(IniTest, AValueThatWouldStartANewLineIsRefusedAndChangesNothing) {
  const std::string before = "[yonghuzu]\r\nnicheng=小明\r\n";
  for (const char* value : {"a\r\nb=c", "a\nb", "a\rb"}) {
    test::WriteWholeFile(ini_, before);
    EXPECT_FALSE(WriteIniValue(ini_.c_str(), "yonghuzu", TextArg("nicheng"), TextArg(value)));
    EXPECT_EQ(test::ReadWholeFile(ini_), before);
  }
  // The same holds for sections and keys, which the wizard never takes from the user.
  EXPECT_FALSE(WriteIniValue(ini_.c_str(), "yonghuzu]\r\n[x", TextArg("nicheng"), TextArg("a")));
  EXPECT_FALSE(WriteIniValue(ini_.c_str(), "yonghuzu", TextArg("k\r\nx"), TextArg("a")));
  EXPECT_EQ(test::ReadWholeFile(ini_), before);
}

TEST_F(IniTest, SectionAndKeySyntaxInAValueIsStoredAsPartOfTheValue) {
  for (const char* value : {"[s]", "=x", "]", "e=f=g", ";c"}) {
    ASSERT_TRUE(WriteIniValue(ini_.c_str(), "yonghuzu", TextArg("nicheng"), TextArg(value)));
    EXPECT_STREQ(ReadIniValue(ini_.c_str(), "yonghuzu", "nicheng").c_str(), value);
  }
}

TEST_F(IniTest, WritingOnAFullDiskFailsAndLeavesTheFileWhole) {
  test::SmallDrive drive;
  if (!drive.available()) GTEST_SKIP() << drive.whyNot();
  const std::string folder = drive.MakeFolder("IniOnFullDisk");
  const std::string ini = folder + "\\zvconf.ini";
  // Other programs' settings after the wizard's section, most of a page of them.
  std::string before = "[yonghuzu]\r\nnicheng=小明\r\nxingbie=男性\r\n[zvchat]\r\n";
  for (int i = 0; before.size() < 4000; ++i)
    before += "key" + std::to_string(i) + "=" + std::string(40, 'v') + "\r\n";
  ASSERT_TRUE(test::WriteWholeFile(ini, before));
  ASSERT_TRUE(drive.LeaveFree(0));
  // A value that makes the file need another page of the full disk.
  EXPECT_FALSE(
      WriteIniValue(ini.c_str(), "yonghuzu", TextArg("nicheng"), TextArg(std::string(5000, 'n').c_str())));
  EXPECT_EQ(test::ReadWholeFile(ini), before);
  EXPECT_EQ(test::FilesIn(folder), std::vector<std::string>{"zvconf.ini"});
}

TEST_F(IniTest, AWriteThatFitsOnANearlyFullDiskSucceeds) {
  test::SmallDrive drive;
  if (!drive.available()) GTEST_SKIP() << drive.whyNot();
  const std::string folder = drive.MakeFolder("IniFitsOnNearlyFullDisk");
  const std::string ini = folder + "\\zvconf.ini";
  const std::string before = "[yonghuzu]\r\nnicheng=小明\r\nxingbie=男性\r\n";
  ASSERT_TRUE(test::WriteWholeFile(ini, before));
  ASSERT_TRUE(drive.LeaveFree(64 * 1024));
  EXPECT_TRUE(WriteIniValue(ini.c_str(), "yonghuzu", TextArg("nicheng"), TextArg("小红")));
  EXPECT_STREQ(ReadIniValue(ini.c_str(), "yonghuzu", "nicheng").c_str(), "小红");
  EXPECT_STREQ(ReadIniValue(ini.c_str(), "yonghuzu", "xingbie").c_str(), "男性");
  // And one that does not fit in what is left writes nothing.
  const std::string after = test::ReadWholeFile(ini);
  EXPECT_FALSE(WriteIniValue(ini.c_str(), "yonghuzu", TextArg("nicheng"),
                             TextArg(std::string(128 * 1024, 'n').c_str())));
  EXPECT_EQ(test::ReadWholeFile(ini), after);
  EXPECT_EQ(test::FilesIn(folder), std::vector<std::string>{"zvconf.ini"});
}

TEST_F(IniTest, WritingANewFileOnAFullDiskFailsAndLeavesNothing) {
  test::SmallDrive drive;
  if (!drive.available()) GTEST_SKIP() << drive.whyNot();
  const std::string folder = drive.MakeFolder("NewIniOnFullDisk");
  const std::string ini = folder + "\\zvconf.ini";
  ASSERT_TRUE(drive.LeaveFree(0));
  EXPECT_FALSE(WriteIniValue(ini.c_str(), "yonghuzu", TextArg("nicheng"), TextArg("小明")));
  EXPECT_TRUE(test::FilesIn(folder).empty());
}

// ---- Replacements that the system refuses ------------------------------------------------------
// Wine has one user and enforces no rights, so the refusals that Windows would give a second user (or
// a user after an elevated installation) are made through hooks on this program's imports. In every
// case the write must leave what the plain overwrite would leave: the new content, the old file's
// access list, and no scratch file.

// The identity of the file behind a name: a replacement puts another file there, an overwrite keeps it.
std::uint64_t FileIndexOf(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  BY_HANDLE_FILE_INFORMATION information{};
  const bool ok = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &information);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return ok ? (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow : 0;
}

// The access list part of a file's descriptor ("D:..."), as the system reports it.
std::string AccessListOf(const std::string& path) {
  const std::string security = SecurityOf(path);
  const std::size_t dacl = security.find("D:");
  return dacl == std::string::npos ? "" : security.substr(dacl);
}

struct Refusals {
  int moves = 0;
  int sharingViolations = 0;  // moves that fail with ERROR_SHARING_VIOLATION before one goes through
  DWORD moveError = 0;        // every move fails with this
  DWORD scratchError = 0;     // making a scratch file fails with this
  std::string planted;  // put at the first scratch name the writer asks for, as by somebody who guessed it
  test::ImportHook* move = nullptr;
  test::ImportHook* create = nullptr;
};
Refusals* g_refusals = nullptr;

BOOL WINAPI RefusingSetFileInformationByHandle(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info,
                                               DWORD size) {
  if (kind == FileRenameInfo) {
    ++g_refusals->moves;
    if (g_refusals->moveError != 0) {
      SetLastError(g_refusals->moveError);
      return FALSE;
    }
    if (g_refusals->sharingViolations > 0) {
      --g_refusals->sharingViolations;
      SetLastError(ERROR_SHARING_VIOLATION);
      return FALSE;
    }
  }
  return g_refusals->move->original<decltype(&SetFileInformationByHandle)>()(file, kind, info, size);
}

HANDLE WINAPI RefusingCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition, DWORD flags, HANDLE model) {
  const wchar_t* name = std::wcsrchr(path, L'\\');
  if (name != nullptr && _wcsnicmp(name + 1, L"zvw", 3) == 0) {
    if (g_refusals->scratchError != 0) {
      SetLastError(g_refusals->scratchError);
      return INVALID_HANDLE_VALUE;
    }
    if (!g_refusals->planted.empty()) {
      const std::string planted = std::exchange(g_refusals->planted, "");  // once: this hook writes it too
      HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      DWORD written = 0;
      WriteFile(file, planted.data(), static_cast<DWORD>(planted.size()), &written, nullptr);
      CloseHandle(file);
    }
  }
  return g_refusals->create->original<decltype(&CreateFileW)>()(path, access, share, security, disposition,
                                                                flags, model);
}

// WriteBytesToFile with the refusals in place.
bool RefusedWrite(const std::string& path, const std::string& bytes, Refusals* refusals) {
  test::ImportHook move("SetFileInformationByHandle",
                        reinterpret_cast<void*>(&RefusingSetFileInformationByHandle));
  test::ImportHook create("CreateFileW", reinterpret_cast<void*>(&RefusingCreateFileW));
  EXPECT_TRUE(move.ok() && create.ok()) << "the program's imports could not be hooked";
  refusals->move = &move;
  refusals->create = &create;
  g_refusals = refusals;
  auto data = MakeArray(bytes);
  const bool result = WriteBytesToFile(path.c_str(), {AsArray(data)});
  g_refusals = nullptr;
  return result;
}

// Only a replacement refused for want of rights (no right to make a file in the folder, or to
// delete the old one) or by sharing ends in the overwrite in place; a scratch file that cannot be made
// or moved for any other cause (a full disk) fails the write and leaves the old program whole. A
// scratch name that somebody guessed and took first is never written into.
TEST_F(FileOperationsTest, TheOverwriteInPlaceIsOnlyForARefusedReplacement) {
  struct Case {
    const char* name;
    Refusals refusals;
    bool written;
    bool sameFile;  // overwritten in place rather than replaced
  };
  const Case cases[] = {
      {"no right to make the scratch file", {.scratchError = ERROR_ACCESS_DENIED}, true, true},
      {"no room for the scratch file", {.scratchError = ERROR_DISK_FULL}, false, true},
      {"the scratch file cannot be made otherwise", {.scratchError = ERROR_INVALID_PARAMETER}, false, true},
      {"the move fails otherwise", {.moveError = ERROR_NOT_SAME_DEVICE}, false, true},
      {"the scratch name taken first", {.planted = "somebody's file"}, true, false},
  };
  const std::string target = Path("payload.exe");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteWholeFile(target, "old program, longer than the new one");
    const std::uint64_t old = FileIndexOf(target);
    Refusals refusals = c.refusals;
    EXPECT_EQ(RefusedWrite(target, "new program", &refusals), c.written);
    EXPECT_EQ(test::ReadWholeFile(target),
              c.written ? "new program" : "old program, longer than the new one");
    EXPECT_EQ(FileIndexOf(target) == old, c.sameFile);
    std::vector<std::string> left = Listing();
    std::erase(left, "payload.exe");
    // Somebody's file at a guessed name stays theirs, as it was.
    if (!c.refusals.planted.empty()) {
      ASSERT_EQ(left.size(), 1u);
      EXPECT_EQ(test::ReadWholeFile(Path(left[0])), c.refusals.planted);
      DeleteFileA(Path(left[0]).c_str());
    } else {
      EXPECT_TRUE(left.empty()) << "a scratch file was left: " << left[0];
    }
  }
}

TEST_F(FileOperationsTest, AMoveRefusedForWantOfRightsOverwritesTheTargetInstead) {
  const std::string target = Path("payload.exe");
  test::WriteWholeFile(target, "old program, longer than the new one");
  GiveOwnAccessList(target);
  SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
  const std::string list = AccessListOf(target);
  const std::uint64_t old = FileIndexOf(target);
  Refusals refusals;
  refusals.moveError = ERROR_ACCESS_DENIED;
  ASSERT_TRUE(RefusedWrite(target, "new program", &refusals));
  EXPECT_EQ(test::ReadWholeFile(target), "new program");
  EXPECT_EQ(FileIndexOf(target), old) << "the same file, overwritten";
  EXPECT_EQ(AccessListOf(target), list);
  EXPECT_EQ(GetFileAttributesA(target.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(Listing(), std::vector<std::string>{"payload.exe"}) << "a scratch file was left";
}

TEST_F(FileOperationsTest, AMoveThatMeetsABriefSharingViolationIsTriedAgain) {
  const std::string target = Path("payload.exe");
  test::WriteWholeFile(target, "old program");
  const std::uint64_t old = FileIndexOf(target);
  Refusals refusals;
  refusals.sharingViolations = 3;  // a scanner that looks at the file for a moment
  ASSERT_TRUE(RefusedWrite(target, "new program", &refusals));
  EXPECT_EQ(test::ReadWholeFile(target), "new program");
  EXPECT_NE(FileIndexOf(target), old) << "the move went through in the end: replaced, not overwritten";
  EXPECT_EQ(Listing(), std::vector<std::string>{"payload.exe"});
}

TEST_F(FileOperationsTest, AMoveThatKeepsMeetingSharingViolationsEndsInAnOverwrite) {
  const std::string target = Path("payload.exe");
  test::WriteWholeFile(target, "old program");
  const std::uint64_t old = FileIndexOf(target);
  Refusals refusals;
  refusals.sharingViolations = 1000;
  ASSERT_TRUE(RefusedWrite(target, "new program", &refusals));
  EXPECT_EQ(test::ReadWholeFile(target), "new program");
  EXPECT_EQ(FileIndexOf(target), old);
  // Bounded: about a second of tries, not a thousand.
  EXPECT_GE(refusals.moves, 2);
  EXPECT_LE(refusals.moves, 20);
  EXPECT_EQ(Listing(), std::vector<std::string>{"payload.exe"});
}

// ---- Links in a file's place -------------------------------------------------------------------

TEST_F(FileOperationsTest, ALinkInTheFilesPlaceIsReplacedNotWrittenThrough) {
  CreateDirectoryA(Path("elsewhere").c_str(), nullptr);
  const std::string other = Path("elsewhere\\someone.exe");
  test::WriteWholeFile(other, "someone else's program");
  const std::string target = Path("payload.exe");
  if (!test::MakeLinuxLink(target, other)) GTEST_SKIP() << "no Linux symbolic link could be made here";
  auto data = MakeArray("new program");
  ASSERT_TRUE(WriteBytesToFile(target.c_str(), {AsArray(data)}));
  EXPECT_EQ(test::ReadWholeFile(other), "someone else's program") << "written through the link";
  EXPECT_EQ(GetFileAttributesA(target.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << "the link is still there";
  EXPECT_EQ(test::ReadWholeFile(target), "new program");
  EXPECT_EQ(test::FilesIn(Path("elsewhere")), std::vector<std::string>{"someone.exe"});
}

TEST_F(FileOperationsTest, ALinkToAMissingFileIsReplacedAndMakesNoFileElsewhere) {
  CreateDirectoryA(Path("elsewhere").c_str(), nullptr);
  const std::string target = Path("payload.exe");
  if (!test::MakeLinuxLink(target, Path("elsewhere\\planted.exe")))
    GTEST_SKIP() << "a link to a missing file is not seen as a reparse point here";
  auto data = MakeArray("new program");
  EXPECT_TRUE(WriteBytesToFile(target.c_str(), {AsArray(data)}));
  EXPECT_TRUE(test::FilesIn(Path("elsewhere")).empty()) << "a file was made through the link";
  EXPECT_EQ(test::ReadWholeFile(target), "new program");
}

// Windows' DeleteFileA removes a symbolic link itself; Wine's removes the file that a Linux link
// points at, so this case can only be confirmed on Windows.
TEST_F(FileOperationsTest, RemovingALinkInTheFilesPlaceLeavesTheFileItPointsAt) {
  if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr)
    GTEST_SKIP() << "Wine deletes what a Linux symbolic link points at, not the link";
  CreateDirectoryA(Path("elsewhere").c_str(), nullptr);
  const std::string other = Path("elsewhere\\someone.exe");
  test::WriteWholeFile(other, "someone else's program");
  const std::string target = Path("payload.exe");
  if (CreateSymbolicLinkA(target.c_str(), other.c_str(), 0) == 0)
    GTEST_SKIP() << "no symbolic link could be made (it needs the right to make one): " << GetLastError();
  EXPECT_TRUE(RemoveFile(target.c_str()));
  EXPECT_EQ(GetFileAttributesA(target.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(test::ReadWholeFile(other), "someone else's program");
}

// The profile writer follows a link in the file's place and rewrites the file it leads to (seen with
// a configuration linked to another file); replacing the link would drop every other setting. A link,
// symbolic or a second name that a backup tool made, or a file whose identity cannot be read, is not
// written: the write fails, and the link and its file stay byte for byte.
test::ImportHook* g_identity = nullptr;
BOOL WINAPI UnreadableIdentity(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetFinalPathNameByHandleW(file, path, MAX_PATH, FILE_NAME_NORMALIZED);
  if (length > 0 && length < MAX_PATH && std::wstring(path).ends_with(L".ini")) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
  }
  return g_identity->original<decltype(&GetFileInformationByHandle)>()(file, information);
}

TEST_F(IniTest, ALinkInTheFilesPlaceIsNeitherWrittenThroughNorReplaced) {
  CreateDirectoryA(Path("elsewhere").c_str(), nullptr);
  const std::string other = Path("elsewhere\\system.ini");
  const std::string before = "[boot]\r\nshell=explorer.exe\r\n";
  enum Kind { kSymbolic, kHard, kUnreadable };
  for (const Kind kind : {kSymbolic, kHard, kUnreadable}) {
    const std::string ini = Path("zvconf" + std::to_string(kind) + ".ini");
    SCOPED_TRACE(kind == kSymbolic ? "a symbolic link"
                 : kind == kHard   ? "a hard link"
                                   : "identity unreadable");
    test::WriteWholeFile(other, before);
    const bool made = kind == kSymbolic ? test::MakeLinuxLink(ini, other)
                      : kind == kHard   ? CreateHardLinkA(ini.c_str(), other.c_str(), nullptr) != FALSE
                                        : test::WriteWholeFile(ini, before);
    ASSERT_TRUE(made) << "the link could not be made";
    std::optional<test::ImportHook> identity;
    if (kind == kUnreadable)
      identity.emplace("GetFileInformationByHandle", reinterpret_cast<void*>(&UnreadableIdentity));
    g_identity = identity ? &*identity : nullptr;
    EXPECT_FALSE(WriteIniValue(ini.c_str(), "yonghuzu", TextArg("nicheng"), TextArg("小明")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANT_ACCESS_FILE));
    identity.reset();
    EXPECT_EQ(test::ReadWholeFile(other), before) << "the file it leads to changed";
    EXPECT_EQ(test::ReadWholeFile(ini), before) << "the link was replaced";
    for (const std::string& name : Listing()) EXPECT_NE(name.substr(0, 3), "zvw") << "left behind";
  }
}

// ---- The INI space reserve ---------------------------------------------------------------------

// What the reserve wrote: a compressed folder stores zeros (or any repeated block) for next to
// nothing, so the reserve must hold bytes that do not compress.
struct ReserveWatch {
  std::vector<std::string> blocks;
  test::ImportHook* write = nullptr;
};
ReserveWatch* g_reserve = nullptr;
BOOL WINAPI ReserveWriteFile(HANDLE file, LPCVOID bytes, DWORD length, LPDWORD written, LPOVERLAPPED overlapped) {
  // The reserve's writes, then the new content's (a few bytes, which neither check below minds).
  g_reserve->blocks.emplace_back(static_cast<const char*>(bytes), length);
  return g_reserve->write->original<decltype(&WriteFile)>()(file, bytes, length, written, overlapped);
}

TEST_F(IniTest, TheSpaceReserveCannotBeCompressedAway) {
  ReserveWatch watch;
  test::ImportHook write("WriteFile", reinterpret_cast<void*>(&ReserveWriteFile));
  ASSERT_TRUE(write.ok());
  watch.write = &write;
  g_reserve = &watch;
  const bool written = WriteIniValue(ini_.c_str(), "yonghuzu", TextArg("nicheng"), TextArg("小明"));
  g_reserve = nullptr;
  ASSERT_TRUE(written);
  std::string all;
  for (const std::string& block : watch.blocks) all += block;
  ASSERT_GE(all.size(), 8u * 1024) << "no reserve was taken";
  // No run of equal bytes longer than a few, and no 4 KB block repeated.
  std::size_t longestRun = 0;
  for (std::size_t i = 0, run = 0; i < all.size(); ++i) {
    run = i > 0 && all[i] == all[i - 1] ? run + 1 : 1;
    longestRun = std::max(longestRun, run);
  }
  EXPECT_LT(longestRun, 16u) << "the reserve holds long runs of one byte";
  for (std::size_t i = 4096; i + 4096 <= all.size(); i += 4096)
    EXPECT_NE(all.compare(i, 4096, all, i - 4096, 4096), 0) << "block at " << i << " repeats the one before";
  EXPECT_EQ(ReadIniValue(ini_.c_str(), "yonghuzu", "nicheng").c_str(), std::string("小明"));
}

}  // namespace
}  // namespace zv
