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

// The shipped i386 program (or the x86_64 test vehicle: the image of this test's own kind) and the
// mitigations that Windows applies to a program which asks for them. Stack protection shows in the
// i386 code: many functions compare a stack copy of one word of the image's data with the word itself
// before returning (`sub r32, [guard]`), the guard that the C runtime seeds from the system's random
// generator at start-up.
TEST(SetupExecutableImage, IsAGuiProgramWithTheSystemsMitigations) {
  const std::string image = zv::test::ReadWholeFile(ZV_SETUP_EXE);
  ASSERT_GT(image.size(), sizeof(IMAGE_DOS_HEADER));
  IMAGE_DOS_HEADER dos;
  std::memcpy(&dos, image.data(), sizeof dos);
  ASSERT_EQ(dos.e_magic, IMAGE_DOS_SIGNATURE);
  IMAGE_NT_HEADERS nt;
  ASSERT_LE(static_cast<size_t>(dos.e_lfanew) + sizeof nt, image.size());
  std::memcpy(&nt, image.data() + dos.e_lfanew, sizeof nt);
  EXPECT_EQ(nt.Signature, IMAGE_NT_SIGNATURE);
  EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  const bool i386 = nt.FileHeader.Machine == IMAGE_FILE_MACHINE_I386;
#if defined(__i386__)
  EXPECT_TRUE(i386 && nt.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC);
#endif
  const struct {
    const char* name;
    WORD flag;
    bool wanted;
  } flags[] = {{"ASLR", IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, true},
               {"DEP", IMAGE_DLLCHARACTERISTICS_NX_COMPAT, true},
               {"no SEH handlers", IMAGE_DLLCHARACTERISTICS_NO_SEH, i386},
               {"terminal-server aware", IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE, true}};
  for (const auto& f : flags)
    EXPECT_EQ((nt.OptionalHeader.DllCharacteristics & f.flag) != 0, f.wanted) << f.name;
  EXPECT_GT(nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size, 0u) << "no relocations";
  EXPECT_NE(image.find(std::string("CryptGenRandom\0", 15)), std::string::npos) << "no stack guard seeded";
  if (!i386) return;
  IMAGE_SECTION_HEADER code;  // the first section
  std::memcpy(&code, image.data() + dos.e_lfanew + sizeof nt, sizeof code);
  int checks = 0;  // `sub r32, [address inside the image]`: rare in code without the guard
  for (std::size_t at = code.PointerToRawData; at + 6 <= code.PointerToRawData + code.SizeOfRawData; ++at) {
    DWORD address = 0;
    std::memcpy(&address, image.data() + at + 2, sizeof address);
    checks += image[at] == '\x2b' && (image[at + 1] & 0xC7) == 0x05 &&
              address - nt.OptionalHeader.ImageBase < nt.OptionalHeader.SizeOfImage;
  }
  EXPECT_GE(checks, 20) << "no stack guard checked in many functions";
}

// Every size that the system asks for, 32 bits each; from 64 pixels up as PNG (read in icons since
// Vista), 48 and below as bitmaps. The images together stay within 48 KB.
TEST_F(SetupExecutable, CarriesTenThirtyTwoBitIconsPngFrom64Up) {
  const std::string group = Resource("DEFAULT_ICON", MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
  ASSERT_GE(group.size(), sizeof(IconGroupHeader));
  IconGroupHeader header;
  std::memcpy(&header, group.data(), sizeof header);
  ASSERT_EQ(header.count, 10);
  ASSERT_EQ(group.size(), sizeof header + 10 * sizeof(IconGroupEntry));
  const int expected[] = {256, 128, 96, 80, 72, 64, 48, 32, 24, 16};
  std::size_t total = 0;
  for (int i = 0; i < 10; ++i) {
    IconGroupEntry entry;
    std::memcpy(&entry, group.data() + sizeof header + i * sizeof entry, sizeof entry);
    EXPECT_EQ(entry.width, expected[i] % 256) << i;
    EXPECT_EQ(entry.bitCount, 32) << i;
    const std::string image = Resource(MAKEINTRESOURCEA(entry.id), MAKEINTRESOURCEA(3));  // RT_ICON
    ASSERT_EQ(image.size(), entry.bytes) << i;
    total += image.size();
    const bool png = image.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) == 0;
    EXPECT_EQ(png, expected[i] >= 64) << expected[i];
    if (png) {
      // IHDR: width and height (big-endian), 8 bits per channel, colour type 6 (RGBA).
      ASSERT_GE(image.size(), 26u);
      const auto be32 = [&](std::size_t at) {
        return (static_cast<unsigned char>(image[at]) << 24) | (static_cast<unsigned char>(image[at + 1]) << 16) |
               (static_cast<unsigned char>(image[at + 2]) << 8) | static_cast<unsigned char>(image[at + 3]);
      };
      EXPECT_EQ(image.compare(12, 4, "IHDR"), 0) << expected[i];
      EXPECT_EQ(be32(16), expected[i]);
      EXPECT_EQ(be32(20), expected[i]);
      EXPECT_EQ(image[24], 8) << expected[i];
      EXPECT_EQ(image[25], 6) << expected[i];
    } else {
      BITMAPINFOHEADER bmp;
      std::memcpy(&bmp, image.data(), sizeof bmp);
      EXPECT_EQ(bmp.biWidth, expected[i]);
      EXPECT_EQ(bmp.biBitCount, 32);
    }
  }
  EXPECT_LE(total, 48u * 1024u);
}

// Each image as the system draws it: the icon made from the resource, drawn onto black, shows the
// design at every size, PNG or bitmap alike: the dark-red square, the cyan top bar of the Z, the
// green underline and the transparent corner.
TEST_F(SetupExecutable, EveryIconImageDrawsTheSameDesign) {
  const int sizes[] = {256, 128, 96, 80, 72, 64, 48, 32, 24, 16};
  for (int size : sizes) {
    HICON icon = static_cast<HICON>(LoadImageA(module_, "DEFAULT_ICON", IMAGE_ICON, size, size, 0));
    ASSERT_NE(icon, nullptr) << size;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size;
    info.bmiHeader.biHeight = -size;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bitmap, nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    std::memset(bits, 0, static_cast<std::size_t>(size) * size * 4);
    EXPECT_TRUE(DrawIconEx(dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL)) << size;
    GdiFlush();
    const auto* pixels = static_cast<const DWORD*>(bits);
    const auto at = [&](double x, double y) {
      return pixels[static_cast<int>(y * size) * size + static_cast<int>(x * size)] & 0xFFFFFF;  // 0xRRGGBB
    };
    // (At 16 pixels the rounded corner covers a little of the corner pixel, and from 48 pixels up a
    // pixel row lies wholly inside the underline.)
    if (size >= 24) EXPECT_EQ(at(0.01, 0.01), 0x000000u) << size << ": the corner is not transparent";
    EXPECT_EQ(at(0.5, 0.26), 0x00FFFFu) << size << ": no cyan top bar";
    EXPECT_EQ(at(0.1, 0.5), 0x800000u) << size << ": no dark-red square";
    if (size >= 48) EXPECT_EQ(at(0.5, 0.84), 0x00FF00u) << size << ": no green underline";
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    DestroyIcon(icon);
  }
}

// The text between <name ...> and </name> of the first such element, and its start tag; empty when
// the element is missing.
struct Element {
  std::string tag;
  std::string content;
};
Element FindElement(const std::string& xml, const std::string& name, std::size_t from = 0) {
  const std::size_t start = xml.find("<" + name, from);
  if (start == std::string::npos) return {};
  const std::size_t tagEnd = xml.find('>', start);
  const std::size_t close = xml.find("</" + name + ">", tagEnd);
  if (tagEnd == std::string::npos || close == std::string::npos) return {};
  return {xml.substr(start, tagEnd + 1 - start), xml.substr(tagEnd + 1, close - tagEnd - 1)};
}

TEST_F(SetupExecutable, ManifestAsksForCommonControlsSixAsInvoker) {
  const std::string manifest = Resource(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
  EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
}

// The program's own assembly identity names the processor it is built for: Windows refuses to start
// a program whose manifest names another (x86 for the shipped i386 build, amd64 for the x86_64 one).
TEST_F(SetupExecutable, ManifestNamesTheProgramsOwnProcessorArchitecture) {
  const std::string manifest = Resource(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  const std::size_t identity = manifest.find("<assemblyIdentity");
  ASSERT_NE(identity, std::string::npos);
  const std::string tag = manifest.substr(identity, manifest.find('>', identity) - identity);
#if defined(__i386__)
  const char* expected = "processorArchitecture=\"x86\"";
#else
  const char* expected = "processorArchitecture=\"amd64\"";
#endif
  EXPECT_NE(tag.find(expected), std::string::npos) << tag;
  EXPECT_NE(tag.find("name=\"Zorvik.Setup\""), std::string::npos) << tag;
}

// Without the list, Windows runs the program with the compatibility behaviour of older systems and
// its installer heuristics may ask whether it installed correctly.
TEST_F(SetupExecutable, ManifestDeclaresEverySupportedSystemFromVistaTo11) {
  const std::string manifest = Resource(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  const Element compatibility = FindElement(manifest, "compatibility");
  EXPECT_NE(compatibility.tag.find("xmlns=\"urn:schemas-microsoft-com:compatibility.v1\""), std::string::npos)
      << compatibility.tag;
  const Element application = FindElement(compatibility.content, "application");
  struct System {
    const char* name;
    const char* id;
  };
  const System systems[] = {{"Vista", "{e2011457-1546-43c5-a5fe-008deee3d3f0}"},
                            {"7", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"},
                            {"8", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"},
                            {"8.1", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}"},
                            {"10 and 11", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}};
  for (const System& system : systems) {
    EXPECT_NE(application.content.find("<supportedOS Id=\"" + std::string(system.id) + "\"/>"),
              std::string::npos)
        << system.name;
  }
}

// Per-monitor awareness (version 2) where the system knows it, per-monitor or system awareness on
// older systems; each declaration in the namespace its systems read.
TEST_F(SetupExecutable, ManifestDeclaresPerMonitorDpiAwarenessWithFallbacks) {
  const std::string manifest = Resource(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
  const Element settings = FindElement(manifest, "windowsSettings");
  const Element awareness = FindElement(settings.content, "dpiAwareness");
  EXPECT_NE(awareness.tag.find("xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\""),
            std::string::npos)
      << awareness.tag;
  EXPECT_EQ(awareness.content.rfind("PerMonitorV2", 0), 0u) << awareness.content;
  const Element aware = FindElement(settings.content, "dpiAware");
  EXPECT_NE(aware.tag.find("xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\""),
            std::string::npos)
      << aware.tag;
  EXPECT_EQ(aware.content, "true/pm");
}

// The version block as Explorer's properties page reads it: the fixed part, and the strings of the
// language that the block's own translation table names.
class VersionBlock : public testing::Test {
 protected:
  void SetUp() override {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(ZV_SETUP_EXE, &ignored);
    ASSERT_GT(size, 0u);
    data_.assign(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(ZV_SETUP_EXE, 0, size, data_.data()));
  }
  std::string String(const char* name) {
    struct Translation {
      WORD language;
      WORD codePage;
    }* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data_.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                        &length) ||
        length < sizeof *translation) {
      return "(no translation)";
    }
    char path[128];
    wsprintfA(path, "\\StringFileInfo\\%04x%04x\\%s", translation->language, translation->codePage, name);
    char* value = nullptr;
    if (!VerQueryValueA(data_.data(), path, reinterpret_cast<void**>(&value), &length) || value == nullptr) {
      return "(missing)";
    }
    return value;
  }
  std::string data_;
};

TEST_F(VersionBlock, IsTheFixedBlockOfAnApplication) {
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(data_.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
  EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
}

TEST_F(VersionBlock, NamesTheMakerProductFileVersionAndCopyright) {
  EXPECT_EQ(String("CompanyName"), "Zorvik");
  EXPECT_EQ(String("ProductName"), "Zorvik");
  EXPECT_EQ(String("FileDescription"), "Zorvik setup");
  EXPECT_EQ(String("OriginalFilename"), "ZorvikSetup.exe");
  EXPECT_EQ(String("LegalCopyright"), "Copyright (C) 2026 Zorvik");
  // Both version texts spell the fixed block's file version.
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(data_.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  char expected[64];
  wsprintfA(expected, "%u.%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
            HIWORD(fixed->dwFileVersionLS));
  EXPECT_EQ(String("FileVersion"), expected);
  EXPECT_EQ(String("ProductVersion"), expected);
}

}  // namespace
