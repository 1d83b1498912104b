// The stand-in programs of the placeholder suite, as built: complete, stripped PE32 i386 GUI programs
// without trailing data, each showing a window titled with its name until it is closed, and the main
// program greeting the nickname recorded in a configuration file (given on its command line here, so
// that the install directory is never touched).
#include "payload/StandIn.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/WinTestSupport.h"

namespace zv {
namespace {

// The build-tree folder of the stand-ins, as Wine sees it (drive Z:).
constexpr char kStandInDir[] = ZV_TEST_STANDIN_DIR;

std::string StandInPath(const std::string& name) {
  return std::string(kStandInDir) + "\\" + name + ".exe";
}

// The text in double quotes, for a command line. (Built by appending: GCC 12 warns falsely about
// `"\"" + text`.)
std::string Quoted(const std::string& text) {
  std::string quoted(1, '"');
  quoted.append(text).push_back('"');
  return quoted;
}

std::string WindowText(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// The process's top-level window of that class, once it has appeared; null after the time-out.
HWND WaitForWindow(const test::ChildProcess& process, const std::string& className) {
  WaitForInputIdle(process.handle(), 10000);
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < 15000) {
    std::vector<HWND> windows = test::TopLevelWindows(process.id(), className.c_str());
    if (!windows.empty()) return windows.front();
    if (!process.IsRunning()) return nullptr;
    Sleep(50);
  }
  return nullptr;
}

// What the PE headers say about a file, as far as the stand-ins are concerned.
struct PeFacts {
  bool valid = false;
  WORD machine = 0;
  WORD optionalMagic = 0;
  WORD subsystem = 0;
  DWORD symbolTable = 0;   // file offset of a COFF symbol table; 0 when stripped
  std::size_t rawEnd = 0;  // where the last section's raw data ends
};

PeFacts ReadPeFacts(const std::string& file) {
  PeFacts facts;
  if (file.size() < sizeof(IMAGE_DOS_HEADER)) return facts;
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data());
  if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew < 0 ||
      static_cast<std::size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS32) > file.size()) {
    return facts;
  }
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(file.data() + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return facts;
  facts.machine = nt->FileHeader.Machine;
  facts.optionalMagic = nt->OptionalHeader.Magic;
  facts.subsystem = nt->OptionalHeader.Subsystem;
  facts.symbolTable = nt->FileHeader.PointerToSymbolTable;
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  const auto* tableEnd = reinterpret_cast<const char*>(section + nt->FileHeader.NumberOfSections);
  if (tableEnd > file.data() + file.size()) return facts;
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    const std::size_t end = std::size_t{section->PointerToRawData} + section->SizeOfRawData;
    if (end > facts.rawEnd) facts.rawEnd = end;
  }
  facts.valid = true;
  return facts;
}

class StandIn : public testing::TestWithParam<const char*> {};

TEST_P(StandIn, IsAStrippedPe32I386GuiProgramWithoutTrailingData) {
#if !defined(__i386__)
  GTEST_SKIP() << "this is the x86_64 test build; its stand-ins are PE32+ x86_64, read here as PE32 i386";
#endif
  const std::string file = test::ReadWholeFile(StandInPath(GetParam()));
  const PeFacts facts = ReadPeFacts(file);
  ASSERT_TRUE(facts.valid) << StandInPath(GetParam());
  EXPECT_EQ(facts.machine, IMAGE_FILE_MACHINE_I386);
  EXPECT_EQ(facts.optionalMagic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
  EXPECT_EQ(facts.subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
  EXPECT_EQ(facts.symbolTable, 0u);
  EXPECT_EQ(facts.rawEnd, file.size());
}

TEST_P(StandIn, ShowsAWindowTitledWithItsNameUntilClosed) {
  const std::string name = GetParam();
  test::ChildProcess process;
  ASSERT_TRUE(process.Start(Quoted(StandInPath(name))));
  HWND window = WaitForWindow(process, name);
  ASSERT_NE(window, nullptr) << name << " showed no window";
  EXPECT_EQ(WindowText(window), name);
  HWND label = GetDlgItem(window, standin::kNameLabelId);
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(WindowText(label), name);

  Sleep(200);
  EXPECT_TRUE(process.IsRunning()) << name << " did not stay running";
  PostMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(process.Wait(10000), 0u) << name << " did not end with 0 when closed";
}

INSTANTIATE_TEST_SUITE_P(EveryCatalogueName, StandIn,
                         testing::Values("zvmain", "zvmix", "zvtune", "zvlock", "zvaux", "zvchat"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param);
                         });

// Starts zvmain with the configuration file and returns the text of its greeting label, read through
// the wide call: the stand-in converts the file's GBK itself, whatever the system's code page.
class StandInMain : public testing::Test {
 protected:
  void SetUp() override { root_ = test::MakeTestRoot("standin_main"); }
  void TearDown() override {
    processes_.clear();
    test::RemoveTree(root_);
  }

  std::wstring GreetingFor(const std::string& configFile) {
    test::ChildProcess& process = processes_.emplace_back();
    if (!process.Start(Quoted(StandInPath("zvmain")) + " " + Quoted(configFile))) return L"<not started>";
    HWND window = WaitForWindow(process, "zvmain");
    if (window == nullptr) return L"<no window>";
    HWND greeting = GetDlgItem(window, standin::kGreetingLabelId);
    wchar_t text[512] = {};
    if (greeting == nullptr) return L"<no greeting label>";
    GetWindowTextW(greeting, text, 512);
    return text;
  }

  std::string root_;
  std::vector<test::ChildProcess> processes_;
};

TEST_F(StandInMain, GreetsTheNicknameRecordedInTheConfigurationFile) {
  // A path with a space, passed quoted, as a test would pass any path.
  const std::string config = root_ + "\\user conf.ini";
  ASSERT_TRUE(WritePrivateProfileStringA(standin::kUserSection, standin::kNicknameKey, "小明ab", config.c_str()));
  EXPECT_EQ(GreetingFor(config), L"欢迎你，小明ab！");
}

// The file's bytes are read as the profile calls read them: names in any letter case, blanks around
// names and values ignored, the first key of the suite's own section only.
TEST_F(StandInMain, ReadsTheNicknameOnlyFromItsOwnSection) {
  const struct {
    const char* content;
    const wchar_t* greeting;
  } kFiles[] = {
      {"[other]\r\nnicheng=x\r\n[yonghuzu]\r\nxingbie=男性\r\n", L""},
      {"[other]\nnicheng=x\n[YongHuZu]\nxingbie=男性\n NiCheng = 一二三四五 \nnicheng=y\n[x]\nnicheng=z\n",
       L"欢迎你，一二三四五！"},
  };
  for (const auto& file : kFiles) {
    SCOPED_TRACE(file.content);
    const std::string config = root_ + "\\zvconf" + std::to_string(&file - kFiles) + ".ini";
    ASSERT_TRUE(test::WriteWholeFile(config, file.content));
    EXPECT_EQ(GreetingFor(config), file.greeting);
  }
}

TEST_F(StandInMain, ShowsNoGreetingWhenTheConfigurationFileIsMissing) {
  EXPECT_EQ(GreetingFor(root_ + "\\missing.ini"), L"");
}

}  // namespace
}  // namespace zv
