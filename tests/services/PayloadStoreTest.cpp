// The payload store's catalogue and data: six entries in writing order, each payload a one-dimensional
// ByteArray holding exactly the bytes of the file it was built from, in read-only data of the program
// image, and carried the same way by the setup program itself. Writing is not exercised here.
#include "services/PayloadStore.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

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

TEST(SetupProgram, CarriesEveryPayloadAsAByteArrayInReadOnlyData) {
  const std::string setup = test::ReadWholeFile(kSetupProgram);
  ASSERT_GT(setup.size(), sizeof(IMAGE_DOS_HEADER)) << kSetupProgram;
  for (const PayloadEntry& entry : PayloadCatalogue()) {
    // Header and bytes as one block: the program keeps the array exactly as it is written out.
    const std::string block(reinterpret_cast<const char*>(entry.payload),
                            sizeof(ByteArray) + static_cast<std::size_t>(entry.payload->length));
    const auto found = std::search(setup.begin(), setup.end(),
                                   std::boyer_moore_horspool_searcher(block.begin(), block.end()));
    ASSERT_NE(found, setup.end()) << entry.path;
    const std::size_t offset = static_cast<std::size_t>(found - setup.begin());
    const IMAGE_SECTION_HEADER* section = SectionAt(setup, offset);
    ASSERT_NE(section, nullptr) << entry.path;
    EXPECT_LE(offset + block.size(), section->PointerToRawData + section->SizeOfRawData) << entry.path;
    EXPECT_NE(section->Characteristics & IMAGE_SCN_MEM_READ, 0u) << entry.path;
    EXPECT_EQ(section->Characteristics & IMAGE_SCN_MEM_WRITE, 0u) << entry.path;
    EXPECT_EQ((offset - section->PointerToRawData + section->VirtualAddress) % 4, 0u) << entry.path;
  }
}

}  // namespace
}  // namespace zv
