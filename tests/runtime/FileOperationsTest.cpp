// Files and INI values against the real file system and profile API of the Wine prefix, in a fresh
// folder under C:\zvtest per test. The faults are real: read-only files, and a disk that is full (the
// small drive Q:, a 1 MB file system that the CTest fixture mounts; those cases skip, saying why, on a
// machine that cannot mount it). After every fault the old file is whole and no scratch file is left.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "runtime/FileOperations.h"
#include "tests/support/Faults.h"
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
  test::WriteWholeFile(path + ".held", "");
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
  ASSERT_TRUE(holder.StartScenario("HoldFileOpen", "\"" + target + "\""));
  for (int i = 0; i < 200 && !test::PathExists(target + ".held"); ++i) Sleep(25);
  ASSERT_TRUE(test::PathExists(target + ".held"));
  DeleteFileA((target + ".held").c_str());

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

TEST_F(IniTest, WritingANewFileOnAFullDiskFailsAndLeavesNothing) {
  test::SmallDrive drive;
  if (!drive.available()) GTEST_SKIP() << drive.whyNot();
  const std::string folder = drive.MakeFolder("NewIniOnFullDisk");
  const std::string ini = folder + "\\zvconf.ini";
  ASSERT_TRUE(drive.LeaveFree(0));
  EXPECT_FALSE(WriteIniValue(ini.c_str(), "yonghuzu", TextArg("nicheng"), TextArg("小明")));
  EXPECT_TRUE(test::FilesIn(folder).empty());
}

}  // namespace
}  // namespace zv
