// The desktop shortcut against the real shell object, read back through the shell's own shortcut
// reader, and the path helpers against the real system folders. Each case uses a shortcut name of its
// own, so that parallel cases never share a file.
#include "services/DesktopShortcut.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "runtime/Automation.h"
#include "runtime/DeclaredCalls.h"
#include "tests/support/Faults.h"
#include "tests/support/ShortcutReader.h"
#include "tests/support/StackDispatch.h"
#include "tests/support/WinTestSupport.h"

namespace zv {
namespace {

class DesktopShortcutTest : public testing::Test {
 protected:
  void SetUp() override {
    OleInitialize(nullptr);
    RegisterDeclaredCommands(ProgramDeclaredCommands());
  }
  void TearDown() override {
    for (const std::string& f : created_) DeleteFileA(f.c_str());
    OleUninitialize();
  }
  std::string OnDesktop(const std::string& file) {
    created_.push_back(test::DesktopFolder() + "\\" + file);
    return created_.back();
  }
  std::vector<std::string> created_;
};

const char kTarget[] = "C:\\zor\\vik\\zvmain.exe";

TEST_F(DesktopShortcutTest, WritesTheWizardsShortcutAndNamesItsPath) {
  const std::string expected = OnDesktop("ZvWizard.lnk");
  Text name = Text::Copy("ZvWizard");
  EXPECT_TRUE(CreateDesktopShortcut(name, kTarget, {}, {}, 1));
  EXPECT_EQ(std::string(name.c_str()), expected);
  const test::ShortcutInfo link = test::ReadShortcut(expected);
  ASSERT_TRUE(link.loaded);
  EXPECT_EQ(link.target, kTarget);
  EXPECT_EQ(link.workingDirectory, "C:\\zor\\vik\\");
  EXPECT_EQ(link.iconPath, kTarget);
  EXPECT_EQ(link.iconIndex, 0);
  EXPECT_EQ(link.showCommand, SW_SHOWNORMAL);
  EXPECT_EQ(link.arguments, "");
  EXPECT_EQ(link.description, "");
}

TEST_F(DesktopShortcutTest, EveryGivenPropertyIsWhatTheSavedFileHolds) {
  const std::string path = OnDesktop("ZvAllGiven.lnk");
  Text name = Text::Copy("ZvAllGiven");
  ASSERT_TRUE(CreateDesktopShortcut(name, "C:\\zor\\vik\\zvmain.exe", TextArg("--nick 小明"),
                                    TextArg("C:\\zor\\vik\\zvmix.exe,2"), 7, TextArg("Zorvik 桌面扩展"),
                                    TextArg("Ctrl+Alt+Z")));
  const test::ShortcutInfo link = test::ReadShortcut(path);
  ASSERT_TRUE(link.loaded);
  EXPECT_EQ(link.target, "C:\\zor\\vik\\zvmain.exe");
  EXPECT_EQ(link.workingDirectory, "C:\\zor\\vik\\");
  EXPECT_EQ(link.arguments, "--nick 小明");
  EXPECT_EQ(link.iconPath, "C:\\zor\\vik\\zvmix.exe");
  EXPECT_EQ(link.iconIndex, 2);
  EXPECT_EQ(link.showCommand, SW_SHOWMINNOACTIVE);  // window style 7: minimised, not activated
  EXPECT_EQ(link.description, "Zorvik 桌面扩展");
  // The hot key is handed to the shell object too, but this system's shell object does not keep it
  // (its Hotkey is not implemented), so the file cannot say whether it arrived.
}

TEST_F(DesktopShortcutTest, WithNothingOptionalGivenTheFileHoldsTheDefaults) {
  const std::string path = OnDesktop("ZvNoneGiven.lnk");
  Text name = Text::Copy("ZvNoneGiven");
  ASSERT_TRUE(CreateDesktopShortcut(name, "C:\\zor\\vik\\zvtune.exe"));
  const test::ShortcutInfo link = test::ReadShortcut(path);
  ASSERT_TRUE(link.loaded);
  EXPECT_EQ(link.target, "C:\\zor\\vik\\zvtune.exe");
  EXPECT_EQ(link.workingDirectory, "C:\\zor\\vik\\");
  EXPECT_EQ(link.arguments, "");
  EXPECT_EQ(link.iconPath, "C:\\zor\\vik\\zvtune.exe");  // the target's own icon
  EXPECT_EQ(link.iconIndex, 0);
  EXPECT_EQ(link.showCommand, 0);  // an omitted window style is 0
  EXPECT_EQ(link.description, "");
}

TEST_F(DesktopShortcutTest, ReplacesAnExistingShortcutWithoutKeepingItsProperties) {
  const std::string path = OnDesktop("ZvReplace.lnk");
  Text name = Text::Copy("ZvReplace");
  ASSERT_TRUE(CreateDesktopShortcut(name, "C:\\old\\place\\old.exe", TextArg("-x"), {}, 7, TextArg("old one")));
  Text again = Text::Copy("ZvReplace");
  ASSERT_TRUE(CreateDesktopShortcut(again, kTarget, {}, {}, 1));
  const test::ShortcutInfo link = test::ReadShortcut(path);
  ASSERT_TRUE(link.loaded);
  EXPECT_EQ(link.target, kTarget);
  EXPECT_EQ(link.arguments, "");
  EXPECT_EQ(link.description, "");
  EXPECT_EQ(link.showCommand, SW_SHOWNORMAL);
}

TEST_F(DesktopShortcutTest, AGivenExtensionIsKeptInItsOwnCase) {
  const std::string expected = OnDesktop("ZvCase.LNK");
  Text name = Text::Copy("ZvCase.LNK");
  EXPECT_TRUE(CreateDesktopShortcut(name, kTarget, {}, {}, 1));
  EXPECT_EQ(std::string(name.c_str()), expected);
  EXPECT_TRUE(test::PathExists(expected));
}

TEST_F(DesktopShortcutTest, TheDirectoryOfAGivenPathIsDropped) {
  const std::string expected = OnDesktop("ZvOld.lnk");
  Text name = Text::Copy("D:\\old\\ZvOld.lnk");
  EXPECT_TRUE(CreateDesktopShortcut(name, kTarget, {}, {}, 1));
  EXPECT_EQ(std::string(name.c_str()), expected);
  EXPECT_TRUE(test::ReadShortcut(expected).loaded);
}

TEST_F(DesktopShortcutTest, ATargetWithoutBackslashFailsAndLeavesTheOldShortcut) {
  const std::string path = OnDesktop("ZvKeep.lnk");
  Text name = Text::Copy("ZvKeep");
  ASSERT_TRUE(CreateDesktopShortcut(name, kTarget, {}, {}, 1));
  Text bad = Text::Copy("ZvKeep");
  EXPECT_FALSE(CreateDesktopShortcut(bad, "zvmain.exe", {}, {}, 1));
  EXPECT_EQ(std::string(bad.c_str()), path);
  EXPECT_EQ(test::ReadShortcut(path).target, kTarget);
}

TEST_F(DesktopShortcutTest, ATargetWithoutExtensionGetsTheShellFolderIcon) {
  const std::string path = OnDesktop("ZvFolder.lnk");
  Text name = Text::Copy("ZvFolder");
  EXPECT_TRUE(CreateDesktopShortcut(name, "C:\\zor\\vik", {}, {}, 1));
  const test::ShortcutInfo link = test::ReadShortcut(path);
  ASSERT_TRUE(link.loaded);
  EXPECT_EQ(link.iconPath, "SHELL32.dll");
  EXPECT_EQ(link.iconIndex, 4);
  EXPECT_EQ(link.workingDirectory, "C:\\zor\\");
}

TEST_F(DesktopShortcutTest, AShortcutThatCannotBeSavedIsReportedAsFailed) {
  // A folder of the shortcut's name can be neither deleted as a file nor written over.
  const std::string path = test::DesktopFolder() + "\\ZvBlocked.lnk";
  ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr));
  Text name = Text::Copy("ZvBlocked");
  EXPECT_FALSE(CreateDesktopShortcut(name, kTarget, {}, {}, 1));
  RemoveDirectoryA(path.c_str());
}

// The names on the desktop other than shortcuts (which other cases create and delete meanwhile),
// sorted, so that a scratch file left behind shows up.
std::vector<std::string> DesktopListing() {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((test::DesktopFolder() + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = data.cFileName;
    const bool shortcut = name.size() > 4 && lstrcmpiA(name.c_str() + name.size() - 4, ".lnk") == 0;
    if (name[0] != '.' && !shortcut) names.push_back(name);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(DesktopShortcutTest, AShortcutThatCannotBeReplacedIsReportedAndTheOldOneKept) {
  const std::string path = OnDesktop("ZvReadOnly.lnk");
  Text name = Text::Copy("ZvReadOnly");
  ASSERT_TRUE(CreateDesktopShortcut(name, "C:\\old\\place\\old.exe", {}, {}, 1));
  const std::string before = test::ReadWholeFile(path);
  auto readOnly = std::make_unique<test::ReadOnlyFile>(path);
  ASSERT_TRUE(readOnly->ok()) << readOnly->whyNot();
  const std::vector<std::string> desktopBefore = DesktopListing();

  Text again = Text::Copy("ZvReadOnly");
  EXPECT_FALSE(CreateDesktopShortcut(again, kTarget, {}, {}, 1));

  EXPECT_TRUE(test::ReadWholeFile(path) == before);
  EXPECT_EQ(test::ReadShortcut(path).target, "C:\\old\\place\\old.exe");
  EXPECT_EQ(DesktopListing(), desktopBefore);
  readOnly.reset();  // before the shortcut is deleted at the end of the case
}

// A stand-in for the shell object whose CreateShortcut takes the path as [in, out] BSTR* and writes a
// new path back, as an object may do with a by-reference argument. The writer of the new text frees
// the old one; the caller must not free it again. To see a second free, the object takes the freed
// block back for itself as soon as the runtime hands control to it after the write-back (converting
// the call's result asks it for an interface): a block that the caller frees again is then this
// sentinel, which the test finds no longer in use. Where the heap does not hand the block out again
// (it may have merged it with a neighbour), the heap's own refusal of a second free of a free block
// shows instead, as the thread's last error.
class WritingBackShell : public test::StackDispatch {
 public:
  explicit WritingBackShell(const wchar_t* writtenPath) : writtenPath_(writtenPath) { typeInfo_ = BuildTypeInfo(); }
  ~WritingBackShell() {
    if (sentinel_ != nullptr) HeapFree(GetProcessHeap(), 0, sentinel_);
  }
  // The text block that the call passed in, and its size, for the sentinel.
  void WatchBlock(const void* block, std::size_t size) {
    watched_ = block;
    watchedSize_ = size;
  }
  bool reclaimed() const { return sentinel_ != nullptr; }
  // The sentinel is still a block in use of the process heap, with its marker intact.
  bool SentinelIntact() const {
    return sentinel_ != nullptr && HeapValidate(GetProcessHeap(), 0, sentinel_) &&
           std::memcmp(sentinel_, kMarker, std::min(sizeof kMarker, watchedSize_)) == 0;
  }
  int calls() const { return calls_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    Reclaim();
    return StackDispatch::QueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override {
    Reclaim();
    return StackDispatch::AddRef();
  }
  ULONG STDMETHODCALLTYPE Release() override {
    Reclaim();
    // The runtime lets go of the result last: whatever the heap says about a free after this point
    // is the caller's doing.
    if (returned_) SetLastError(ERROR_SUCCESS);
    return StackDispatch::Release();
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* parameters,
                                   VARIANT* result, EXCEPINFO*, UINT*) override {
    if (member != 1 || flags != DISPATCH_METHOD || parameters->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    VARIANTARG& path = parameters->rgvarg[0];
    if (V_VT(&path) != (VT_BYREF | VT_BSTR)) return DISP_E_TYPEMISMATCH;
    ++calls_;
    SysFreeString(*V_BSTRREF(&path));
    *V_BSTRREF(&path) = SysAllocString(writtenPath_);
    if (result != nullptr) {  // the "shortcut": this object again
      V_VT(result) = VT_DISPATCH;
      V_DISPATCH(result) = this;
      AddRef();
    }
    returned_ = true;  // from here on the runtime writes the path back and converts the result
    return S_OK;
  }

 private:
  static constexpr char kMarker[] = "zv-sentinel";

  // Takes the freed block back from the process heap, once the call has returned and the block is
  // free again.
  void Reclaim() {
    if (!returned_ || sentinel_ != nullptr || watched_ == nullptr) return;
    void* tries[64] = {};
    int count = 0;
    for (; count < 64; ++count) {
      tries[count] = HeapAlloc(GetProcessHeap(), 0, watchedSize_);
      if (tries[count] == watched_) {
        sentinel_ = tries[count];
        std::memcpy(sentinel_, kMarker, std::min(sizeof kMarker, watchedSize_));
        break;
      }
    }
    for (int i = 0; i < count; ++i) HeapFree(GetProcessHeap(), 0, tries[i]);
  }

  static ITypeInfo* BuildTypeInfo() {
    ICreateTypeLib2* library = nullptr;
    if (FAILED(CreateTypeLib2(SYS_WIN32, const_cast<LPOLESTR>(L"zvshelldouble.tlb"), &library))) return nullptr;
    ICreateTypeInfo* creator = nullptr;
    ITypeInfo* info = nullptr;
    if (SUCCEEDED(library->CreateTypeInfo(const_cast<LPOLESTR>(L"IZvShellDouble"), TKIND_INTERFACE, &creator))) {
      TYPEDESC pointee = {};
      pointee.vt = VT_BSTR;
      ELEMDESC parameter = {};
      parameter.tdesc.vt = VT_PTR;
      parameter.tdesc.lptdesc = &pointee;
      parameter.paramdesc.wParamFlags = PARAMFLAG_FIN | PARAMFLAG_FOUT;
      FUNCDESC function = {};
      function.memid = 1;
      function.funckind = FUNC_PUREVIRTUAL;
      function.invkind = INVOKE_FUNC;
      function.callconv = CC_STDCALL;
      function.cParams = 1;
      function.lprgelemdescParam = &parameter;
      function.elemdescFunc.tdesc.vt = VT_HRESULT;
      LPOLESTR names[] = {const_cast<LPOLESTR>(L"CreateShortcut"), const_cast<LPOLESTR>(L"path")};
      if (SUCCEEDED(creator->AddFuncDesc(0, &function)) && SUCCEEDED(creator->SetFuncAndParamNames(0, names, 2)) &&
          SUCCEEDED(creator->LayOut())) {
        creator->QueryInterface(IID_ITypeInfo, reinterpret_cast<void**>(&info));
      }
      creator->Release();
    }
    library->Release();
    return info;
  }

  const wchar_t* writtenPath_;
  int calls_ = 0;
  bool returned_ = false;
  const void* watched_ = nullptr;
  std::size_t watchedSize_ = 0;
  void* sentinel_ = nullptr;
};

TEST_F(DesktopShortcutTest, APathWrittenBackReplacesTheNameAndTheOldTextIsFreedOnce) {
  WritingBackShell shell(L"C:\\\u65b0\\ZvWritten.lnk");  // "C:\新\ZvWritten.lnk"
  ASSERT_TRUE(shell.ready());
  AutomationObject record = shell.Record();
  WideText path = WideText::Copy(L"C:\\Desktop\\ZvOriginalName.lnk");
  const std::size_t size = (path.length() + 1) * sizeof(wchar_t);
  shell.WatchBlock(path.get(), size);

  ObjectRecord shortcut = CreateShortcutObject(&record, path);
  const DWORD lastError = GetLastError();

  EXPECT_EQ(shell.calls(), 1);
  EXPECT_STREQ(path.c_str(), L"C:\\\u65b0\\ZvWritten.lnk");
  EXPECT_FALSE(IsObjectEmpty(shortcut.get()));
  if (shell.reclaimed()) {
    EXPECT_TRUE(shell.SentinelIntact()) << "the old text was freed a second time";
  } else {
    EXPECT_NE(lastError, static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "the heap refused a second free of the old text";
  }
  EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, nullptr));
  shortcut.reset();
  ClearObject(&record);
}

TEST_F(DesktopShortcutTest, APathNotWrittenBackStaysTheCallersText) {
  // The real shell object takes the path as a plain [in] text: the caller's text must come back as
  // it went, neither freed nor replaced.
  ObjectRecord shell = ObjectRecord::New();
  ASSERT_TRUE(CreateAutomationObject(shell.get(), "WshShell", TextArg("wshom.ocx")));
  const std::string file = test::DesktopFolder() + "\\ZvNotSaved.lnk";
  WideText path = ToWide(file.c_str());
  ObjectRecord shortcut = CreateShortcutObject(shell.get(), path);
  EXPECT_FALSE(IsObjectEmpty(shortcut.get()));
  EXPECT_TRUE(HeapValidate(GetProcessHeap(), 0, path.get()));
  EXPECT_EQ(std::string(ToGbk(path.c_str()).c_str()), file);
}

TEST_F(DesktopShortcutTest, FileNamesAndExtensions) {
  EXPECT_STREQ(GetFileNameFromPath("C:\\zor\\vik\\zvmain.exe", true).c_str(), "zvmain.exe");
  EXPECT_STREQ(GetFileNameFromPath("C:\\zor\\vik\\zvmain.exe").c_str(), "zvmain");
  EXPECT_STREQ(GetFileNameFromPath("report.final.txt").c_str(), "report.final");
  EXPECT_STREQ(GetFileNameFromPath("README").c_str(), "README");
  EXPECT_STREQ(GetPathExtension("C:\\a.b\\file").c_str(), "");
  EXPECT_STREQ(GetPathExtension("C:\\a\\file.EXE").c_str(), ".EXE");
}

TEST_F(DesktopShortcutTest, EveryShellFolderKindIsTheSystemsOwnFolderForItsId) {
  const struct {
    std::int32_t kind;
    int csidl;
  } kinds[] = {
      {kFolderDocuments, CSIDL_PERSONAL},  {kFolderFavourites, CSIDL_FAVORITES},
      {kFolderDesktop, CSIDL_DESKTOPDIRECTORY}, {kFolderFonts, CSIDL_FONTS},
      {kFolderStartMenu, CSIDL_STARTMENU}, {kFolderPrograms, CSIDL_PROGRAMS},
      {kFolderStartup, CSIDL_STARTUP},     {kFolderAppData, CSIDL_APPDATA},
      {kFolderInternetCache, CSIDL_INTERNET_CACHE},
  };
  std::vector<std::string> seen;
  for (const auto& k : kinds) {
    // The system's own answer, creating the folder where this user has none yet (the routine asks
    // without creating).
    char expected[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, expected, k.csidl, TRUE)) << "kind " << k.kind;
    EXPECT_EQ(std::string(GetSpecialFolderPath(k.kind).c_str()), std::string(expected) + "\\") << "kind " << k.kind;
    seen.push_back(expected);
  }
  // Every folder is a different one, so that a kind mapped to another kind's folder shows above.
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end()) << ::testing::PrintToString(seen);
}

TEST_F(DesktopShortcutTest, SpecialFoldersEndWithABackslash) {
  const std::string desktop = test::DesktopFolder() + "\\";
  EXPECT_EQ(std::string(GetSpecialFolderPath().c_str()), desktop);
  EXPECT_EQ(std::string(GetSpecialFolderPath(0).c_str()), desktop);
  EXPECT_EQ(std::string(GetSpecialFolderPath(kFolderDesktop).c_str()), desktop);
  char temp[MAX_PATH] = {};
  GetTempPathA(sizeof temp, temp);
  EXPECT_EQ(std::string(GetSpecialFolderPath(kFolderTemp).c_str()), temp);
  char windows[MAX_PATH] = {};
  GetWindowsDirectoryA(windows, sizeof windows);
  EXPECT_EQ(std::string(GetSpecialFolderPath(kFolderWindows).c_str()), std::string(windows) + "\\");
  char system[MAX_PATH] = {};
  GetSystemDirectoryA(system, sizeof system);
  EXPECT_EQ(std::string(GetSpecialFolderPath(kFolderSystem).c_str()), std::string(system) + "\\");
  EXPECT_TRUE(GetSpecialFolderPath(13).IsNull());
  EXPECT_TRUE(GetSpecialFolderPath(-1).IsNull());
}

}  // namespace
}  // namespace zv
