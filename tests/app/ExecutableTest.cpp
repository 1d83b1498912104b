// The shipped program file as Windows sees it: a 32-bit i386 GUI image with the application icon
// group, the manifest and the version block, loaded here as a data file (nothing of it runs).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/WinTestSupport.h"

namespace {

#pragma pack(push, 2)
struct IconGroupHeader {
  WORD reserved;
  WORD type;
  WORD count;
};
struct IconGroupEntry {
  BYTE width;
  BYTE height;
  BYTE colours;
  BYTE reserved;
  WORD planes;
  WORD bitCount;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)

class SetupExecutable : public testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExA(ZV_SETUP_EXE, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module_, nullptr) << ZV_SETUP_EXE;
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
  }
  std::string Resource(const char* name, const char* type) {
    HRSRC found = FindResourceA(module_, name, type);
    if (found == nullptr) return {};
    HGLOBAL loaded = LoadResource(module_, found);
    return std::string(static_cast<const char*>(LockResource(loaded)), SizeofResource(module_, found));
  }
  HMODULE module_ = nullptr;
};

TEST(SetupExecutableImage, IsA32BitI386GuiProgram) {
#if !defined(__i386__)
  GTEST_SKIP() << "this is the x86_64 test build; only the shipped i386 build is a PE32 i386 program";
#endif
  const std::string image = zv::test::ReadWholeFile(ZV_SETUP_EXE);
  ASSERT_GT(image.size(), sizeof(IMAGE_DOS_HEADER));
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, image.data(), sizeof dos);
  ASSERT_EQ(dos.e_magic, IMAGE_DOS_SIGNATURE);
  IMAGE_NT_HEADERS32 nt;
  ASSERT_LE(static_cast<size_t>(dos.e_lfanew) + sizeof nt, image.size());
  std::memcpy(&nt, image.data() + dos.e_lfanew, sizeof nt);
  EXPECT_EQ(nt.Signature, IMAGE_NT_SIGNATURE);
  EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
  EXPECT_EQ(nt.OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
  EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

TEST_F(SetupExecutable, CarriesTenThirtyTwoBitIconsWithThe256AsPng) {
  const std::string group = Resource("DEFAULT_ICON", MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
  ASSERT_GE(group.size(), sizeof(IconGroupHeader));
  IconGroupHeader header;
  std::memcpy(&header, group.data(), sizeof header);
  ASSERT_EQ(header.count, 10);
  ASSERT_EQ(group.size(), sizeof header + 10 * sizeof(IconGroupEntry));
  const int expected[] = {256, 128, 96, 80, 72, 64, 48, 32, 24, 16};
  for (int i = 0; i < 10; ++i) {
    IconGroupEntry entry;
    std::memcpy(&entry, group.data() + sizeof header + i * sizeof entry, sizeof entry);
    EXPECT_EQ(entry.width, expected[i] % 256) << i;
    EXPECT_EQ(entry.bitCount, 32) << i;
    const std::string image = Resource(MAKEINTRESOURCEA(entry.id), MAKEINTRESOURCEA(3));  // RT_ICON
    ASSERT_EQ(image.size(), entry.bytes) << i;
    const bool png = image.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) == 0;
    EXPECT_EQ(png, expected[i] == 256) << i;
    if (!png) {
      BITMAPINFOHEADER bmp;
      std::memcpy(&bmp, image.data(), sizeof bmp);
      EXPECT_EQ(bmp.biWidth, expected[i]);
      EXPECT_EQ(bmp.biBitCount, 32);
    }
  }
}

TEST_F(SetupExecutable, ManifestAsksForCommonControlsSixAsInvoker) {
  const std::string manifest = Resource(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
}

TEST_F(SetupExecutable, HasAVersionBlock) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(ZV_SETUP_EXE, &ignored);
  ASSERT_GT(size, 0u);
  std::string data(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoA(ZV_SETUP_EXE, 0, size, data.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

}  // namespace
