// The payload store's catalogue and data: six entries in writing order, each payload a one-dimensional
// ByteArray holding exactly the bytes of the file it was built from, in read-only data of the program
// image, and carried the same way by the setup program itself; the check of their recorded CRC-32
// against the embedded bytes; then writing them, into a test folder.
#include "services/PayloadStore.h"

#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "runtime/FileOperations.h"
#include "services/InstallFolder.h"
#include "services/Registration.h"
#include "tests/support/Faults.h"
#include "tests/support/ImportHook.h"
#include "tests/support/WinTestSupport.h"

namespace zv {
namespace {

// The build-tree folder whose files were embedded, as Wine sees it (drive Z:).
constexpr char kPayloadSourceDir[] = ZV_TEST_PAYLOAD_SOURCE_DIR;
constexpr char kSetupProgram[] = ZV_TEST_SETUP_EXE;
constexpr const char* kNames[] = {"zvmain", "zvmix", "zvtune", "zvlock", "zvaux", "zvchat"};

std::string SourceFile(const char* name) {
  return std::string(kPayloadSourceDir) + "\\" + name + ".exe";
}

// The CRC-32 by its definition, bit by bit: independent of the program's own implementation.
std::uint32_t ReferenceCrc32(const std::string& bytes) {
  std::uint32_t state = 0xFFFFFFFFu;
  for (unsigned char byte : bytes) {
    state ^= byte;
    for (int bit = 0; bit < 8; ++bit) state = (state >> 1) ^ (0xEDB88320u & (0u - (state & 1u)));
  }
  return ~state;
}

std::string PayloadBytes(const ByteArray& payload) {
  return std::string(reinterpret_cast<const char*>(payload.bytes()),
                     static_cast<std::size_t>(payload.length));
}

TEST(PayloadCatalogue, ListsTheSixProgramsInWritingOrderUnderTheInstallDirectory) {
  const auto catalogue = PayloadCatalogue();
  ASSERT_EQ(catalogue.size(), std::size(kNames));
  for (std::size_t i = 0; i < catalogue.size(); ++i) {
    EXPECT_EQ(std::string(catalogue[i].path), std::string("C:\\zor\\vik\\") + kNames[i] + ".exe")
        << "entry " << i;
    EXPECT_NE(catalogue[i].payload, nullptr) << "entry " << i;
  }
}

TEST(PayloadCatalogue, EveryPayloadIsAOneDimensionalByteArrayAsLongAsItsFile) {
  const auto catalogue = PayloadCatalogue();
  ASSERT_EQ(catalogue.size(), std::size(kNames));
  for (std::size_t i = 0; i < catalogue.size(); ++i) {
    const std::string file = test::ReadWholeFile(SourceFile(kNames[i]));
    ASSERT_FALSE(file.empty()) << SourceFile(kNames[i]);
    EXPECT_EQ(catalogue[i].payload->dimensionCount, 1) << kNames[i];
    EXPECT_EQ(static_cast<std::size_t>(catalogue[i].payload->length), file.size()) << kNames[i];
  }
}

TEST(PayloadCatalogue, EveryPayloadHoldsExactlyTheBytesOfItsFile) {
  const auto catalogue = PayloadCatalogue();
  ASSERT_EQ(catalogue.size(), std::size(kNames));
  for (std::size_t i = 0; i < catalogue.size(); ++i) {
    // Compared as a whole, so that a difference in length or content both fail.
    EXPECT_TRUE(PayloadBytes(*catalogue[i].payload) == test::ReadWholeFile(SourceFile(kNames[i])))
        << kNames[i];
  }
}

TEST(PayloadCatalogue, PayloadsAreReadOnlyDataOfTheProgramImage) {
  auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleA(nullptr));
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const unsigned char* imageEnd = base + nt->OptionalHeader.SizeOfImage;
  for (const PayloadEntry& entry : PayloadCatalogue()) {
    auto* first = reinterpret_cast<const unsigned char*>(entry.payload);
    const unsigned char* last = entry.payload->bytes() + entry.payload->length - 1;
    EXPECT_TRUE(first >= base && last < imageEnd) << entry.path;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(first) % 4, 0u) << entry.path;
    for (const unsigned char* p : {first, last}) {
      MEMORY_BASIC_INFORMATION info{};
      ASSERT_NE(VirtualQuery(p, &info, sizeof info), 0u);
      EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READONLY)) << entry.path;
    }
  }
}

TEST(PayloadCatalogue, EveryEntryCarriesTheCrc32OfItsFile) {
  const auto catalogue = PayloadCatalogue();
  ASSERT_EQ(catalogue.size(), std::size(kNames));
  for (std::size_t i = 0; i < catalogue.size(); ++i) {
    ASSERT_NE(catalogue[i].crc32, nullptr) << kNames[i];
    EXPECT_EQ(*catalogue[i].crc32, ReferenceCrc32(test::ReadWholeFile(SourceFile(kNames[i])))) << kNames[i];
  }
}

TEST(PayloadCatalogue, ChecksumsAreReadOnlyDataOfTheProgramImage) {
  for (const PayloadEntry& entry : PayloadCatalogue()) {
    MEMORY_BASIC_INFORMATION info{};
    ASSERT_NE(VirtualQuery(entry.crc32, &info, sizeof info), 0u);
    EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READONLY)) << entry.path;
    EXPECT_EQ(info.AllocationBase, GetModuleHandleA(nullptr)) << entry.path;
  }
}

// A heap copy of a payload (header and bytes), which a test may then damage.
class PayloadCopy {
 public:
  explicit PayloadCopy(const ByteArray& original)
      : block_(sizeof(ByteArray) + static_cast<std::size_t>(original.length)) {
    std::memcpy(block_.data(), &original, block_.size());
  }
  ByteArray* get() { return reinterpret_cast<ByteArray*>(block_.data()); }

 private:
  std::vector<unsigned char> block_;
};

// The catalogue as it stands, so that a test can swap one entry's payload or checksum.
std::vector<PayloadEntry> CatalogueCopy() {
  const auto catalogue = PayloadCatalogue();
  return {catalogue.begin(), catalogue.end()};
}

TEST(PayloadVerification, TheEmbeddedPayloadsPass) {
  EXPECT_TRUE(VerifyPayloads());
  EXPECT_TRUE(VerifyPayloads(PayloadCatalogue()));
}

TEST(PayloadVerification, AnUnchangedCopyPassesAndOneChangedByteAnywhereFails) {
  for (std::size_t index : {0u, 4u, 5u}) {
    std::vector<PayloadEntry> entries = CatalogueCopy();
    PayloadCopy copy(*entries[index].payload);
    entries[index].payload = copy.get();
    EXPECT_TRUE(VerifyPayloads(entries)) << kNames[index];
    const std::int32_t length = copy.get()->length;
    for (std::int32_t at : {0, length / 2, length - 1}) {
      copy.get()->bytes()[at] ^= 0x20;
      EXPECT_FALSE(VerifyPayloads(entries)) << kNames[index] << " byte " << at;
      copy.get()->bytes()[at] ^= 0x20;
    }
  }
}

TEST(PayloadVerification, ACutShortPayloadFails) {
  std::vector<PayloadEntry> entries = CatalogueCopy();
  PayloadCopy copy(*entries[2].payload);
  copy.get()->length -= 1;
  entries[2].payload = copy.get();
  EXPECT_FALSE(VerifyPayloads(entries));
}

TEST(PayloadVerification, AChecksumThatDoesNotMatchItsPayloadFails) {
  std::vector<PayloadEntry> entries = CatalogueCopy();
  const std::uint32_t wrong = *entries[5].crc32 ^ 1u;
  entries[5].crc32 = &wrong;
  EXPECT_FALSE(VerifyPayloads(entries));
  // Two payloads' checksums swapped: each one matches some payload, but not its own.
  entries = CatalogueCopy();
  std::swap(entries[1].crc32, entries[3].crc32);
  EXPECT_FALSE(VerifyPayloads(entries));
}

TEST(PayloadVerification, AnEntryWithoutChecksumOrPayloadFails) {
  std::vector<PayloadEntry> entries = CatalogueCopy();
  entries[0].crc32 = nullptr;
  EXPECT_FALSE(VerifyPayloads(entries));
  entries = CatalogueCopy();
  entries[0].payload = nullptr;
  EXPECT_FALSE(VerifyPayloads(entries));
}

TEST(PayloadVerification, AnEmptyPayloadPassesWithTheChecksumOfNothing) {
  const ByteArray empty{1, 0};
  const std::uint32_t none = 0;
  const PayloadEntry entry{"C:\\zvtest\\empty.bin", &empty, &none};
  EXPECT_TRUE(VerifyPayloads({&entry, 1}));
}

// The section of a PE file that holds the file offset, or null.
const IMAGE_SECTION_HEADER* SectionAt(const std::string& image, std::size_t offset) {
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image.data() + dos->e_lfanew);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    if (offset >= section->PointerToRawData && offset < section->PointerToRawData + section->SizeOfRawData) {
      return section;
    }
  }
  return nullptr;
}

// The payload's header and bytes as one block: the program keeps the array exactly as it is written
// out.
std::string BlockOf(const PayloadEntry& entry) {
  return std::string(reinterpret_cast<const char*>(entry.payload),
                     sizeof(ByteArray) + static_cast<std::size_t>(entry.payload->length));
}

// The file offset of the first copy of `block` in the image, or npos.
std::size_t OffsetIn(const std::string& image, const std::string& block) {
  const auto found =
      std::search(image.begin(), image.end(), std::boyer_moore_horspool_searcher(block.begin(), block.end()));
  return found == image.end() ? std::string::npos : static_cast<std::size_t>(found - image.begin());
}

TEST(SetupProgram, CarriesEveryPayloadAsAByteArrayInReadOnlyData) {
  const std::string setup = test::ReadWholeFile(kSetupProgram);
  ASSERT_GT(setup.size(), sizeof(IMAGE_DOS_HEADER)) << kSetupProgram;
  for (const PayloadEntry& entry : PayloadCatalogue()) {
    const std::string block = BlockOf(entry);
    const std::size_t offset = OffsetIn(setup, block);
    ASSERT_NE(offset, std::string::npos) << entry.path;
    const IMAGE_SECTION_HEADER* section = SectionAt(setup, offset);
    ASSERT_NE(section, nullptr) << entry.path;
    EXPECT_LE(offset + block.size(), section->PointerToRawData + section->SizeOfRawData) << entry.path;
    EXPECT_NE(section->Characteristics & IMAGE_SCN_MEM_READ, 0u) << entry.path;
    EXPECT_EQ(section->Characteristics & IMAGE_SCN_MEM_WRITE, 0u) << entry.path;
    EXPECT_EQ((offset - section->PointerToRawData + section->VirtualAddress) % 4, 0u) << entry.path;
  }
}

// The section that carries the payloads starts on a page of the file, so that a loader can map the
// suite from the file as it is read instead of reading it in when the program starts (Wine reads a
// section at an offset that is not page-aligned in whole). The payloads' section is the first of
// the read-only sections (the arrays are at its start) and no payload lies beyond it. Only the
// shipped i386 program is laid out so; the x86_64 test vehicle keeps the toolchain's layout.
TEST(SetupProgram, CarriesThePayloadsInASectionThatStartsOnAPageOfTheFile) {
  const std::string setup = test::ReadWholeFile(kSetupProgram);
  ASSERT_GT(setup.size(), sizeof(IMAGE_DOS_HEADER)) << kSetupProgram;
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(setup.data());
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(setup.data() + dos->e_lfanew);
  if (nt->FileHeader.Machine != IMAGE_FILE_MACHINE_I386)
    GTEST_SKIP() << "the x86_64 test vehicle keeps the toolchain's section layout";
  constexpr std::size_t kPage = 4096;
  const IMAGE_SECTION_HEADER* carrier = nullptr;
  for (const PayloadEntry& entry : PayloadCatalogue()) {
    const std::size_t offset = OffsetIn(setup, BlockOf(entry));
    ASSERT_NE(offset, std::string::npos) << entry.path;
    const IMAGE_SECTION_HEADER* section = SectionAt(setup, offset);
    ASSERT_NE(section, nullptr) << entry.path;
    if (carrier == nullptr) carrier = section;
    EXPECT_EQ(section, carrier) << entry.path << ": the payloads are split over sections";
  }
  ASSERT_NE(carrier, nullptr);
  EXPECT_EQ(carrier->PointerToRawData % kPage, 0u) << "file offset " << carrier->PointerToRawData;
  EXPECT_EQ(carrier->VirtualAddress % kPage, 0u);
}

// The catalogue's payloads aimed at a test folder instead of the install directory.
class PayloadWrite : public testing::Test {
 protected:
  void SetUp() override {
    root_ = test::MakeTestRoot(testing::UnitTest::GetInstance()->current_test_info()->name());
    Retarget(root_);
  }
  void TearDown() override { test::RemoveTree(root_); }
  void Retarget(const std::string& folder) {
    paths_.clear();
    entries_.clear();
    for (const char* name : kNames) paths_.push_back(folder + "\\" + name + ".exe");
    const auto catalogue = PayloadCatalogue();
    for (std::size_t i = 0; i < catalogue.size(); ++i)
      entries_.push_back({paths_[i].c_str(), catalogue[i].payload});
  }
  std::vector<std::string> FilesInRoot() const { return test::FilesIn(root_); }
  std::string root_;
  std::vector<std::string> paths_;
  std::vector<PayloadEntry> entries_;
};

TEST_F(PayloadWrite, WritesEveryPayloadByteForByte) {
  WritePayloads(entries_);
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    EXPECT_TRUE(test::ReadWholeFile(paths_[i]) == test::ReadWholeFile(SourceFile(kNames[i]))) << kNames[i];
  }
}

// All six or none: a file that cannot be replaced keeps every other one as it was too (here: not there).
TEST_F(PayloadWrite, AFileHeldOpenKeepsItsContentAndNoOtherIsWritten) {
  ASSERT_TRUE(test::WriteWholeFile(paths_[1], "old zvmix"));
  HANDLE held = CreateFileA(paths_[1].c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  WritePayloads(entries_);
  CloseHandle(held);
  EXPECT_EQ(test::ReadWholeFile(paths_[1]), "old zvmix");
  // Exactly that file: no other program, and no scratch file of the failed write, is left behind.
  EXPECT_EQ(FilesInRoot(), std::vector<std::string>{"zvmix.exe"});
}

TEST_F(PayloadWrite, AMissingFolderMakesEveryWriteFailAndCreatesNothing) {
  Retarget(root_ + "\\missing");
  WritePayloads(entries_);
  EXPECT_FALSE(test::PathExists(root_ + "\\missing"));
  EXPECT_TRUE(FilesInRoot().empty());
}

// The paths that a FailedFiles lists, in order.
std::vector<std::string> ListedPaths(const FailedFiles& failed) {
  std::vector<std::string> paths;
  const std::string listing = failed.Listing();
  for (std::size_t at = 0; at < listing.size();) {
    const std::size_t end = listing.find("\r\n", at);
    paths.push_back(listing.substr(at, end - at));
    at = end == std::string::npos ? listing.size() : end + 2;
  }
  return paths;
}

bool HoldsPayload(const std::string& path, std::size_t index) {
  return test::ReadWholeFile(path) == test::ReadWholeFile(SourceFile(kNames[index]));
}

TEST_F(PayloadWrite, EveryWriteThatSucceedsIsReportedAsSuch) {
  FailedFiles failed;
  WritePayloads(entries_, &failed);
  EXPECT_TRUE(failed.empty()) << failed.Listing();
}

TEST_F(PayloadWrite, ADiskThatFillsUpMidwayReportsWhatDidNotFitAndKeepsTheOldFiles) {
  test::SmallDrive drive;
  if (!drive.available()) GTEST_SKIP() << drive.whyNot();
  const std::string folder = drive.MakeFolder("PayloadsOnFullDisk");
  Retarget(folder);
  // An earlier installation left zvlock.exe and zvchat.exe behind.
  ASSERT_TRUE(test::WriteWholeFile(paths_[3], "old zvlock"));
  ASSERT_TRUE(test::WriteWholeFile(paths_[5], "old zvchat"));
  // Room for the first two payloads and half of the third, in the drive's 4 KB pages.
  auto pages = [](std::int32_t bytes) { return (static_cast<std::uint64_t>(bytes) + 4095) / 4096 * 4096; };
  const std::uint64_t room = pages(entries_[0].payload->length) + pages(entries_[1].payload->length) +
                             pages(entries_[2].payload->length / 2);
  if (room > drive.FreeBytes()) GTEST_SKIP() << "the embedded payloads are too large for the small drive";
  ASSERT_TRUE(drive.LeaveFree(room));

  FailedFiles failed;
  WritePayloads(entries_, &failed);

  EXPECT_EQ(ListedPaths(failed), (std::vector<std::string>{paths_[2], paths_[3], paths_[4], paths_[5]}));
  EXPECT_EQ(test::ReadWholeFile(paths_[3]), "old zvlock");
  EXPECT_EQ(test::ReadWholeFile(paths_[5]), "old zvchat");
  // None of the payloads, not even those that fitted, no part of one, and no scratch file.
  EXPECT_EQ(test::FilesIn(folder), (std::vector<std::string>{"zvchat.exe", "zvlock.exe"}));
}

TEST_F(PayloadWrite, AReadOnlyTargetIsReportedAndKeptAndNoOtherIsWritten) {
  ASSERT_TRUE(test::WriteWholeFile(paths_[2], "old zvtune"));
  test::ReadOnlyFile readOnly(paths_[2]);
  ASSERT_TRUE(readOnly.ok()) << readOnly.whyNot();
  FailedFiles failed;
  WritePayloads(entries_, &failed);
  EXPECT_EQ(ListedPaths(failed), std::vector<std::string>{paths_[2]});
  EXPECT_EQ(test::ReadWholeFile(paths_[2]), "old zvtune");
  EXPECT_EQ(FilesInRoot(), std::vector<std::string>{"zvtune.exe"});
}

TEST_F(PayloadWrite, ARunningProgramIsReportedAndKeptAndNoOtherIsWritten) {
  // An older program runs under the name zvmain.exe (the zvmix stand-in, so that its bytes differ).
  const std::string older = test::ReadWholeFile(std::string(ZV_TEST_STANDIN_DIR) + "\\zvmix.exe");
  ASSERT_FALSE(older.empty());
  ASSERT_TRUE(test::WriteWholeFile(paths_[0], older));
  test::ChildProcess running;
  ASSERT_TRUE(running.Start("\"" + paths_[0] + "\""));
  for (int i = 0; i < 100 && test::TopLevelWindows(running.id()).empty(); ++i) Sleep(50);
  ASSERT_TRUE(running.IsRunning());

  FailedFiles failed;
  WritePayloads(entries_, &failed);
  running.Terminate();

  EXPECT_EQ(ListedPaths(failed), std::vector<std::string>{paths_[0]});
  EXPECT_TRUE(test::ReadWholeFile(paths_[0]) == older);
  EXPECT_EQ(FilesInRoot(), std::vector<std::string>{"zvmain.exe"});
}

TEST_F(PayloadWrite, AnInstallFolderThatIsAFileFailsEveryWriteAndLeavesTheFile) {
  ASSERT_TRUE(test::WriteWholeFile(root_ + "\\vik", "a file where the folder should be"));
  Retarget(root_ + "\\vik");
  FailedFiles failed;
  WritePayloads(entries_, &failed);
  EXPECT_EQ(ListedPaths(failed), paths_);
  EXPECT_EQ(test::ReadWholeFile(root_ + "\\vik"), "a file where the folder should be");
  EXPECT_EQ(FilesInRoot(), std::vector<std::string>{"vik"});
}

TEST_F(PayloadWrite, WritingDoesNotCopyAPayloadInMemory) {
  // An 8 MB payload made and touched before measuring; a writer that copied it would add its size
  // to the peak commit charge.
  constexpr std::int32_t kBytes = 8 << 20;
  auto* big =
      static_cast<ByteArray*>(VirtualAlloc(nullptr, sizeof(ByteArray) + kBytes, MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(big, nullptr);
  big->dimensionCount = 1;
  big->length = kBytes;
  std::memset(big->bytes(), 0x5A, kBytes);
  const std::string target = root_ + "\\big.bin";
  const PayloadEntry entry{target.c_str(), big};
  PROCESS_MEMORY_COUNTERS before{}, after{};
  GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
  ASSERT_GT(before.PeakPagefileUsage, static_cast<SIZE_T>(kBytes));  // the counter does see the payload
  WritePayloads({&entry, 1});
  GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
  VirtualFree(big, 0, MEM_RELEASE);
  EXPECT_EQ(test::ReadWholeFile(target).size(), static_cast<std::size_t>(kBytes));
  EXPECT_LT(after.PeakPagefileUsage - before.PeakPagefileUsage, static_cast<SIZE_T>(kBytes / 2));
}

// A program that somebody opens between its staging and its move (a copy started meanwhile) refuses
// the move: the programs already moved are put back, so that the suite is wholly old again, and the
// held one is reported.
test::ImportHook* g_renames = nullptr;
BOOL WINAPI RefusingZvtuneRename(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size) {
  const auto* rename = static_cast<const FILE_RENAME_INFO*>(info);
  if (kind == FileRenameInfo &&
      std::wstring(rename->FileName, rename->FileNameLength / sizeof(wchar_t)).ends_with(L"\\zvtune.exe")) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  return g_renames->original<decltype(&SetFileInformationByHandle)>()(file, kind, info, size);
}

TEST_F(PayloadWrite, AMoveRefusedAfterOthersPutsThemBack) {
  for (const std::string& path : paths_) ASSERT_TRUE(test::WriteWholeFile(path, "old " + path));
  test::ImportHook renames("SetFileInformationByHandle", reinterpret_cast<void*>(&RefusingZvtuneRename));
  ASSERT_TRUE(renames.ok());
  g_renames = &renames;
  FailedFiles failed;
  WritePayloads(entries_, &failed);
  g_renames = nullptr;
  EXPECT_EQ(ListedPaths(failed), std::vector<std::string>{paths_[2]});
  for (const std::string& path : paths_) EXPECT_EQ(test::ReadWholeFile(path), "old " + path);
  EXPECT_EQ(FilesInRoot().size(), paths_.size()) << testing::PrintToString(FilesInRoot());
}

// ---- Putting the suite in place ------------------------------------------------------------------
// The calls that put files in place, seen in order ('R' a rename into place, not to a scratch name;
// 'F' a flush, 'f' of a folder; 'D' a deletion), and refused where a test says so.
struct Calls {
  std::vector<std::pair<char, HANDLE>> seen;
  std::vector<std::pair<std::wstring, int>> refusedRenames;  // how the target ends, which one (1: first)
  const wchar_t* refusedOpen = nullptr;                      // CreateFileW refuses names ending so
  bool noSecondNames = false;                                // the system refuses second names
  test::ImportHook* hooks[5] = {};
  const wchar_t* untold = nullptr;  // the system cannot tell where files whose names end so are
};
Calls g_calls;

BOOL WINAPI CallsInformation(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size) {
  std::wstring target;
  if (kind == FileRenameInfo) {
    const auto* rename = static_cast<const FILE_RENAME_INFO*>(info);
    target.assign(rename->FileName, rename->FileNameLength / sizeof(wchar_t));
    for (auto& [ending, nth] : g_calls.refusedRenames)
      if (target.ends_with(ending) && --nth == 0) return SetLastError(ERROR_ACCESS_DENIED), FALSE;
  }
  const BOOL done =
      g_calls.hooks[0]->original<decltype(&SetFileInformationByHandle)>()(file, kind, info, size);
  if (done && kind == FileRenameInfo && target.find(L"\\zvw") == std::wstring::npos)
    g_calls.seen.push_back({'R', file});
  if (done && kind == FileDispositionInfo) g_calls.seen.push_back({'D', file});
  return done;
}
BOOL WINAPI CallsFlush(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information{};
  GetFileInformationByHandle(file, &information);
  g_calls.seen.push_back({(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 'f' : 'F', file});
  return g_calls.hooks[1]->original<decltype(&FlushFileBuffers)>()(file);
}
HANDLE WINAPI CallsOpen(LPCWSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f, HANDLE g) {
  if (g_calls.refusedOpen != nullptr && std::wstring(a).ends_with(g_calls.refusedOpen))
    return SetLastError(ERROR_SHARING_VIOLATION), INVALID_HANDLE_VALUE;
  return g_calls.hooks[2]->original<decltype(&CreateFileW)>()(a, b, c, d, e, f, g);
}
// A second name is given through the file's handle (the link record, class 11).
NTSTATUS NTAPI CallsLink(HANDLE a, PIO_STATUS_BLOCK b, PVOID c, ULONG d, FILE_INFORMATION_CLASS e) {
  constexpr NTSTATUS kInvalidDeviceRequest = static_cast<NTSTATUS>(0xC0000010L);
  if (g_calls.noSecondNames && e == 11) return kInvalidDeviceRequest;
  return g_calls.hooks[3]->original<decltype(&NtSetInformationFile)>()(a, b, c, d, e);
}
DWORD WINAPI CallsFinalPath(HANDLE file, LPWSTR path, DWORD size, DWORD flags) {
  const DWORD length =
      g_calls.hooks[4]->original<decltype(&GetFinalPathNameByHandleW)>()(file, path, size, flags);
  if (g_calls.untold != nullptr && length > 0 && length < size &&
      std::wstring(path).ends_with(g_calls.untold))
    return SetLastError(ERROR_ACCESS_DENIED), 0;
  return length;
}
struct CallsHooked {
  test::ImportHook hooks[5] = {{"SetFileInformationByHandle", reinterpret_cast<void*>(&CallsInformation)},
                               {"FlushFileBuffers", reinterpret_cast<void*>(&CallsFlush)},
                               {"CreateFileW", reinterpret_cast<void*>(&CallsOpen)},
                               {"NtSetInformationFile", reinterpret_cast<void*>(&CallsLink)},
                               {"GetFinalPathNameByHandleW", reinterpret_cast<void*>(&CallsFinalPath)}};
  CallsHooked() {
    for (int i = 0; i < 5; ++i) g_calls.hooks[i] = hooks[i].ok() ? &hooks[i] : nullptr;
  }
};

// A move that only the cache knows of can be undone by a power cut: each file moved into place is
// flushed through the handle that moved it, and its folder, before the write returns, and no old
// program is deleted before then.
TEST_F(PayloadWrite, EveryMoveIsOnDiskBeforeTheWriteReturnsOrAnOldProgramGoes) {
  const std::string ini = root_ + "\\zvconf.ini";
  for (const bool configuration : {false, true}) {
    for (const bool oldFiles : {false, true}) {
      SCOPED_TRACE(std::string(configuration ? "configuration" : "programs") +
                   (oldFiles ? ", replaced" : ", new"));
      test::RemoveTree(root_);
      CreateDirectoryA(root_.c_str(), nullptr);
      if (oldFiles) {
        for (const std::string& path : paths_) ASSERT_TRUE(test::WriteWholeFile(path, "old " + path));
        ASSERT_TRUE(test::WriteWholeFile(ini, "[yonghuzu]\r\nnicheng=老王\r\n"));
      }
      g_calls = Calls{};
      {
        CallsHooked hooked;
        ASSERT_TRUE(g_calls.hooks[0] && g_calls.hooks[1]);
        if (configuration) WriteIniValue(ini.c_str(), "yonghuzu", TextArg("xingbie"), TextArg("男性"));
        if (!configuration) WritePayloads(entries_);
      }
      const auto& seen = g_calls.seen;
      std::size_t moves = 0, last = 0, flushed = 0;
      for (std::size_t r = 0; r < seen.size(); ++r) {
        if (seen[r].first != 'R') continue;
        ++moves;
        last = r;
        const auto flush = std::find(seen.begin() + r, seen.end(), std::make_pair('F', seen[r].second));
        EXPECT_TRUE(flush != seen.end()) << "move " << moves << " is not flushed after it";
        flushed = std::max(flushed, static_cast<std::size_t>(flush - seen.begin()));
      }
      EXPECT_EQ(moves, configuration ? 1u : paths_.size());
      const auto after = [&](char kind, std::size_t from) {
        return std::count_if(seen.begin() + from, seen.end(),
                             [kind](const auto& e) { return e.first == kind; });
      };
      EXPECT_GT(after('f', last), 0) << "the folder is not flushed after the last move";
      EXPECT_EQ(after('D', last), after('D', flushed)) << "a file deleted before every move is on disk";
      EXPECT_EQ(after('D', flushed), oldFiles && !configuration ? 6 : 0) << "the old programs stay";
    }
  }
}

// Each row breaks one step of putting the suite in place or back. Whatever breaks, every program's
// name is there afterwards, with its old bytes or, where its old file could not be put back, with its
// new ones and the old file kept under a name that carries the program's, for the next run.
TEST_F(PayloadWrite, NoFailedStepOfTheUndoLosesAProgramsName) {
  struct Row {
    const char* what;
    std::vector<std::pair<std::wstring, int>> renames;
    const wchar_t* open;
    bool noSecondNames, leftByKilledRun;
    std::vector<std::size_t> failed, keptNew;  // programs reported; left new, their old kept aside
    const wchar_t* untold = nullptr;
  };
  const Row rows[] = {
      {"rename of the first refused", {{L"\\zvmain.exe", 1}}, nullptr, false, false, {0}, {}},
      {"rename of the sixth refused", {{L"\\zvchat.exe", 1}}, nullptr, false, false, {5}, {}},
      {"restore refused", {{L"\\zvtune.exe", 1}, {L"\\zvmix.exe", 2}}, nullptr, false, false, {1, 2}, {1}},
      {"kept copy cannot be opened", {{L"\\zvtune.exe", 1}}, L".zvmix.exe.old", false, false, {1, 2}, {1}},
      {"no second names, rename refused", {{L"\\zvtune.exe", 1}}, nullptr, true, false, {2}, {}},
      {"no second names, keeping aside refused", {{L".zvmix.exe.old", 1}}, nullptr, true, false, {1}, {}},
      {"no second names, restore refused",
       {{L"\\zvtune.exe", 1}, {L"\\zvmix.exe", 2}},
       nullptr,
       true,
       false,
       {1, 2},
       {1}},
      {"a kept copy left by a killed run", {{L"\\zvtune.exe", 1}}, nullptr, false, true, {2}, {}},
      // Replaced without being kept aside, a program that might be a link could not be put back.
      {"a program that cannot be told from a link", {}, nullptr, false, false, {1}, {}, L"\\zvmix.exe"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    test::RemoveTree(root_);
    CreateDirectoryA(root_.c_str(), nullptr);
    for (const std::string& path : paths_) ASSERT_TRUE(test::WriteWholeFile(path, "old " + path));
    if (row.leftByKilledRun) {  // zvmix kept aside, its name missing; a stale copy of zvmain
      ASSERT_TRUE(MoveFileA(paths_[1].c_str(), (root_ + "\\zvw0123456789ABCDEF.zvmix.exe.old").c_str()));
      ASSERT_TRUE(test::WriteWholeFile(root_ + "\\zvwFEDCBA9876543210.zvmain.exe.old", "stale"));
    }
    g_calls = Calls{{}, row.renames, row.open, row.noSecondNames, {}, row.untold};
    FailedFiles failed;
    {
      CallsHooked hooked;
      ASSERT_TRUE(g_calls.hooks[0] && g_calls.hooks[2] && g_calls.hooks[3] && g_calls.hooks[4]);
      WritePayloads(entries_, &failed);
    }
    std::vector<std::string> expectedFailed, expectedFiles;
    for (std::size_t i : row.failed) expectedFailed.push_back(paths_[i]);
    EXPECT_EQ(ListedPaths(failed), expectedFailed);
    for (std::size_t i = 0; i < paths_.size(); ++i) {
      expectedFiles.push_back(std::string(kNames[i]) + ".exe");
      if (std::count(row.keptNew.begin(), row.keptNew.end(), i) == 0) {
        EXPECT_EQ(test::ReadWholeFile(paths_[i]), "old " + paths_[i]) << kNames[i];
        continue;
      }
      EXPECT_TRUE(HoldsPayload(paths_[i], i)) << kNames[i];
      for (const std::string& name : FilesInRoot())
        if (name.ends_with(std::string(".") + kNames[i] + ".exe.old") &&
            test::ReadWholeFile(root_ + "\\" + name) == "old " + paths_[i])
          expectedFiles.push_back(name);
      EXPECT_EQ(expectedFiles.back().substr(0, 3), "zvw") << "the old " << kNames[i] << " is lost";
    }
    std::sort(expectedFiles.begin(), expectedFiles.end());
    EXPECT_EQ(FilesInRoot(), expectedFiles);
  }
}

// ---- A wizard killed at any file operation -------------------------------------------------------
// The child below writes the suite and the registration into a folder as an installation does, and
// ends itself (TerminateProcess, as the task manager would) at its Nth file operation; its exit code
// then tells how many renames it had made. The parent checks what is left on disk at every kill point
// of a first installation and of a reinstallation, then lets a fresh run finish.

struct KillPoint {
  int countdown = 0;  // file operations to go; the one that reaches 0 is not made
  int renames = 0;
  // While the programs are written: the file operations other than renames made between the first
  // rename and the last (those since the last rename are pending until the next one).
  bool watching = false;
  bool windowOpen = false;  // a rename has been made while watching
  int strays = 0;
  int pending = 0;
  test::ImportHook* hooks[6] = {};
};
KillPoint g_kill;

// The exit code of a killed child: 100, plus 50 when the operation it was killed at was a rename,
// plus the renames made before.
constexpr int kKilledAtRename = 50;

bool Reached(FILE_INFO_BY_HANDLE_CLASS kind = FileBasicInfo) {
  const bool rename = kind == FileRenameInfo;
  if (g_kill.countdown > 0 && --g_kill.countdown == 0)
    TerminateProcess(GetCurrentProcess(), 100 + g_kill.renames + (rename ? kKilledAtRename : 0));
  if (g_kill.watching && rename) {
    if (g_kill.windowOpen) g_kill.strays += g_kill.pending;
    g_kill.pending = 0;
    g_kill.windowOpen = true;
  } else if (g_kill.watching && g_kill.windowOpen) {
    ++g_kill.pending;
  }
  if (rename) ++g_kill.renames;
  return true;
}
HANDLE WINAPI KillingCreateFileW(LPCWSTR a, DWORD b, DWORD c, LPSECURITY_ATTRIBUTES d, DWORD e, DWORD f,
                                 HANDLE g) {
  Reached();
  return g_kill.hooks[0]->original<decltype(&CreateFileW)>()(a, b, c, d, e, f, g);
}
BOOL WINAPI KillingWriteFile(HANDLE a, LPCVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e) {
  Reached();
  return g_kill.hooks[1]->original<decltype(&WriteFile)>()(a, b, c, d, e);
}
BOOL WINAPI KillingFlushFileBuffers(HANDLE a) {
  Reached();
  return g_kill.hooks[2]->original<decltype(&FlushFileBuffers)>()(a);
}
BOOL WINAPI KillingSetFileInformationByHandle(HANDLE a, FILE_INFO_BY_HANDLE_CLASS b, LPVOID c, DWORD d) {
  Reached(b);
  return g_kill.hooks[3]->original<decltype(&SetFileInformationByHandle)>()(a, b, c, d);
}
// Inside the held folder, names are opened, renamed (class 10) and linked through the system's own calls.
NTSTATUS NTAPI KillingNtCreateFile(PHANDLE a, ACCESS_MASK b, POBJECT_ATTRIBUTES c, PIO_STATUS_BLOCK d,
                                   PLARGE_INTEGER e, ULONG f, ULONG g, ULONG h, ULONG i, PVOID j, ULONG k) {
  Reached();
  return g_kill.hooks[4]->original<decltype(&NtCreateFile)>()(a, b, c, d, e, f, g, h, i, j, k);
}
NTSTATUS NTAPI KillingNtSetInformationFile(HANDLE a, PIO_STATUS_BLOCK b, PVOID c, ULONG d,
                                           FILE_INFORMATION_CLASS e) {
  Reached(e == 10 ? FileRenameInfo : FileBasicInfo);
  return g_kill.hooks[5]->original<decltype(&NtSetInformationFile)>()(a, b, c, d, e);
}

// Arguments: the folder, then the file operation to be killed at (0: none).
ZV_CHILD_SCENARIO(InstallKilledAt) {
  const std::string folder = argv[argc - 2];
  test::ImportHook hooks[] = {
      {"CreateFileW", reinterpret_cast<void*>(&KillingCreateFileW)},
      {"WriteFile", reinterpret_cast<void*>(&KillingWriteFile)},
      {"FlushFileBuffers", reinterpret_cast<void*>(&KillingFlushFileBuffers)},
      {"SetFileInformationByHandle", reinterpret_cast<void*>(&KillingSetFileInformationByHandle)},
      {"NtCreateFile", reinterpret_cast<void*>(&KillingNtCreateFile)},
      {"NtSetInformationFile", reinterpret_cast<void*>(&KillingNtSetInformationFile)}};
  for (int i = 0; i < 6; ++i) g_kill.hooks[i] = &hooks[i];
  std::vector<std::string> paths;
  std::vector<PayloadEntry> entries;
  for (const char* name : kNames) paths.push_back(folder + "\\" + name + ".exe");
  for (std::size_t i = 0; i < paths.size(); ++i)
    entries.push_back({paths[i].c_str(), PayloadCatalogue()[i].payload});
  g_kill.countdown = std::atoi(argv[argc - 1]);
  // Held as the wizard holds C:\zor\vik, so that every file operation inside goes through its handle.
  HeldFolders held;
  const char* const folders[] = {folder.c_str()};
  if (held.Prepare(folders, FolderUse::kWrite) != FolderRefusal::kNone) ExitProcess(3);
  FailedFiles failed;
  // The tidying first, as the wizard does before anything else: putting back a kept program is a
  // rename of its own, before the window.
  RemoveLeftScratchFiles(folder.c_str());
  g_kill.watching = true;
  WritePayloads(entries, &failed);
  g_kill.watching = false;
  WriteRegistration((folder + "\\zvconf.ini").c_str(), "小明", "男性", failed);
  // 200 and more: that many file operations other than renames ran between the first and the last.
  ExitProcess(g_kill.strays > 0 ? 200 + std::min(g_kill.strays, 50) : failed.empty() ? 0 : 1);
}

TEST_F(PayloadWrite, AKilledInstallationLeavesTheWholeOldSuiteOrTheWholeNewOneAndTheNextRunCompletes) {
  const std::string ini = root_ + "\\zvconf.ini";
  const auto run = [&](int killAt) {
    test::ChildProcess child;
    EXPECT_TRUE(child.StartScenario("InstallKilledAt", "\"" + root_ + "\" " + std::to_string(killAt)))
        << "kill point " << killAt << ": " << GetLastError();
    return child.Wait(60000);
  };
  for (const bool reinstalling : {false, true}) {
    SCOPED_TRACE(reinstalling ? "reinstallation" : "first installation");
    // Renames that put the programs in place, one for each.
    const DWORD moves = 6;
    int points = 0, mixed = 0;
    for (int killAt = 1;; ++killAt) {
      test::RemoveTree(root_);
      CreateDirectoryA(root_.c_str(), nullptr);
      if (reinstalling) {
        for (const std::string& path : paths_) ASSERT_TRUE(test::WriteWholeFile(path, "old " + path));
        WritePrivateProfileStringA("yonghuzu", "xingbie", "女性", ini.c_str());
        WritePrivateProfileStringA("yonghuzu", "nicheng", "老王", ini.c_str());
      }
      const DWORD code = run(killAt);
      if (code < 100 || code >= 200) {  // ran to the end: every file operation has been a kill point
        EXPECT_EQ(code, 0u)
            << "200 + n: n file operations other than renames between the first rename and the last";
        break;
      }
      const bool atRename = code - 100 >= kKilledAtRename;
      const DWORD renames = code - 100 - (atRename ? kKilledAtRename : 0);
      ++points;
      int olds = 0, news = 0;
      for (std::size_t i = 0; i < paths_.size(); ++i) {
        const bool isNew = HoldsPayload(paths_[i], i);
        const bool isOld = reinstalling ? test::ReadWholeFile(paths_[i]) == "old " + paths_[i]
                                        : !test::PathExists(paths_[i]);
        EXPECT_TRUE(isNew || isOld) << kNames[i] << " is neither whole nor old at kill point " << killAt;
        news += isNew;
        olds += isOld;
      }
      if (news > 0 && olds > 0) {
        ++mixed;
        // Only a kill at one of the renames themselves may leave old and new side by side.
        EXPECT_TRUE(atRename && renames > 0 && renames < moves)
            << "mixed outside the moves, at kill point " << killAt;
      }
      char nickname[32] = {}, gender[32] = {};
      GetPrivateProfileStringA("yonghuzu", "nicheng", "", nickname, sizeof nickname, ini.c_str());
      GetPrivateProfileStringA("yonghuzu", "xingbie", "", gender, sizeof gender, ini.c_str());
      EXPECT_TRUE(*nickname == '\0' || *gender != '\0')
          << "registered without a gender at kill point " << killAt;
      // The next run tidies what the killed one left and completes.
      ASSERT_EQ(run(0), 0u) << "after kill point " << killAt;
      for (std::size_t i = 0; i < paths_.size(); ++i) EXPECT_TRUE(HoldsPayload(paths_[i], i)) << kNames[i];
      EXPECT_EQ(FilesInRoot().size(), paths_.size() + 1)
          << "left after kill point " << killAt << ": " << testing::PrintToString(FilesInRoot());
    }
    std::cout << (reinstalling ? "reinstallation: " : "first installation: ") << points << " kill points, "
              << mixed << " leave old and new programs side by side\n";
    EXPECT_GT(points, 20);
  }
}

// A gender that cannot be written (its file's first write refused) leaves no nickname either: the user
// is not registered without a gender, and is asked again next time.
test::ImportHook* g_writeHook = nullptr;
int g_writesToRefuse = 0;
BOOL WINAPI RefusingWriteFile(HANDLE a, LPCVOID b, DWORD c, LPDWORD d, LPOVERLAPPED e) {
  if (g_writesToRefuse > 0) {
    --g_writesToRefuse;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  return g_writeHook->original<decltype(&WriteFile)>()(a, b, c, d, e);
}

TEST_F(PayloadWrite, ARegistrationWhoseGenderCannotBeWrittenWritesNoNickname) {
  const std::string ini = root_ + "\\zvconf.ini";
  test::ImportHook hook("WriteFile", reinterpret_cast<void*>(&RefusingWriteFile));
  g_writeHook = &hook;
  g_writesToRefuse = 1;
  FailedFiles failed;
  WriteRegistration(ini.c_str(), "小明", "男性", failed);
  g_writesToRefuse = 0;
  EXPECT_FALSE(failed.empty());
  EXPECT_FALSE(IsRegistered(ini.c_str()));
}

}  // namespace
}  // namespace zv
