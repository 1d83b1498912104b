// The real ZorvikSetup.exe, started and inspected from outside as a user's tools would see it: the
// window's size, place and frame, each control's class, parent, position, native id, styles, stacking
// and text, the combo box's items, the colours on screen, and how the program ends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/WinTestSupport.h"

namespace zv {
namespace {

constexpr int kWidth = 360;
constexpr int kHeight = 244;

std::string SetupProgram() {
  std::string path = "Z:" ZV_SETUP_EXE;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

// The controls in record order: the first is the topmost of its siblings, and the native ids count
// 100, 110, ... in creation order, which is the reverse of this order.
enum Parent { kOnWindow, kOnPageOne, kOnPageTwo };
struct Control {
  const char* name;
  const char* className;
  Parent parent;
  int left, top, width, height;
  const char* text;
  bool tabStop;
  bool disabled;
  bool shownWithItsParent;
};

const char kDisclaimer[] =
    "这是一款私人制作 非营利型应用\r\n\r\n"
    "可能会导致部分杀毒软件的误报，你可以选择取消安装\r\n\r\n"
    "这个安装程序同时也是卸载程序，所以请保留它\r\n\r\n"
    "相信这个应用 愿意自己承担一切后果 请点击 下一步\r\n\r\n"
    "否则请点击【取消】按钮\r\n\r\n";

const Control kControls[] = {
    {"编辑框1", "Edit", kOnPageTwo, 21, 11, 344, 130, kDisclaimer, true, true, true},
    {"标签5", "ZorvikLabel", kOnPageTwo, 69, 111, 240, 24, "以上信息注册后不可更改！！！", false, false,
     true},
    {"标签4", "ZorvikLabel", kOnPageTwo, 64, 10, 240, 24, "你好 先给自己简单的注册一个个性的昵称吧", false,
     false, true},
    {"组合框性别", "ComboBox", kOnPageTwo, 160, 82, 88, -1, "女性", true, false, true},
    {"标签3", "ZorvikLabel", kOnPageTwo, 120, 80, 32, 24, "性别：", false, false, true},
    {"编辑框昵称", "Edit", kOnPageTwo, 160, 50, 88, 24, "", true, false, true},
    {"标签2", "ZorvikLabel", kOnPageTwo, 120, 50, 32, 24, "昵称：", false, false, true},
    {"透明标签2", "ZorvikTransLabel", kOnWindow, 0, 214, 360, 32, " 便捷 强大 绿色 的桌面扩展", false, false,
     true},
    {"透明标签1", "ZorvikTransLabel", kOnWindow, 48, 0, 264, 32, "Z O R V I K", false, false, true},
    {"安装画板2", "ZorvikPanel", kOnWindow, 0, 30, 360, 184, "", false, false, false},
    {"取消安装按钮3", "Button", kOnPageTwo, 15, 146, 88, 32, "取消", true, false, true},
    {"安装下一步按钮4", "Button", kOnPageTwo, 254, 146, 88, 32, "下一步", true, false, true},
    {"取消选择按钮2", "Button", kOnPageOne, 64, 136, 88, 32, "取消", true, false, true},
    {"选择下一步按钮1", "Button", kOnPageOne, 192, 136, 88, 32, "下一步", true, false, true},
    {"标签1", "ZorvikLabel", kOnPageOne, 40, 24, 272, 32, "请选择你要执行的项目 然后点击 下一步", false,
     false, true},
    // The button class keeps WS_TABSTOP only on the checked radio button of a group.
    {"单选框卸载3", "Button", kOnPageOne, 205, 90, 80, 24, "卸载", false, false, true},
    {"单选框安装2", "Button", kOnPageOne, 69, 88, 80, 24, "安装", true, false, true},
    {"选择画板1", "ZorvikPanel", kOnWindow, 0, 30, 360, 184, "", false, false, true},
};
constexpr int kControlCount = sizeof kControls / sizeof kControls[0];
constexpr int kPageOne = kControlCount - 1;
constexpr int kPageTwo = 9;

int NativeId(int recordIndex) {
  return 100 + 10 * (kControlCount - 1 - recordIndex);
}

// UTF-16 as GBK, to compare with the wizard's own texts.
std::string Gbk(const wchar_t* wide) {
  char text[2048] = {};
  WideCharToMultiByte(936, 0, wide, -1, text, sizeof text, nullptr, nullptr);
  return text;
}

// What the window holds as its text, read as UTF-16 (WM_GETTEXT: edit boxes and combo boxes keep
// their text themselves, so GetWindowText from another process cannot see it), and as GBK.
std::wstring WideTextOf(HWND h) {
  wchar_t text[1024] = {};
  SendMessageW(h, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
  return text;
}
std::string TextOf(HWND h) {
  return Gbk(WideTextOf(h).c_str());
}

// A combo box item, read as UTF-16 (the ANSI form of this message is not converted across processes).
std::string ComboItem(HWND combo, int index) {
  wchar_t wide[64] = {};
  SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(wide));
  return Gbk(wide);
}

std::string ClassOf(HWND h) {
  char name[64] = {};
  GetClassNameA(h, name, sizeof name);
  return name;
}

RECT RectIn(HWND h, HWND parent) {
  RECT r;
  GetWindowRect(h, &r);
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

class RunningWizard : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string commandLine = "\"";
    commandLine += SetupProgram();
    commandLine += '"';
    ASSERT_TRUE(wizard_.Start(commandLine));
    for (int i = 0; i < 300 && window_ == nullptr; ++i) {
      std::vector<HWND> found = test::TopLevelWindows(wizard_.id(), "ZorvikWindow");
      if (!found.empty()) window_ = found.front();
      if (window_ == nullptr) Sleep(50);
    }
    ASSERT_NE(window_, nullptr) << "the wizard window did not appear";
    pages_[kOnWindow] = window_;
    pages_[kOnPageOne] = GetDlgItem(window_, NativeId(kPageOne));
    if (MakesPageTwo()) MakePageTwo(true);
  }

  // The second page is made when the program first shows it: these checks of the whole window have
  // it made as a user does, with Next on the first page (install checked), and then, unless
  // `backToPageOne` is false, the first page shown again from outside as it was at the start. The
  // program would install again at once if it found a nickname recorded, so the configuration file
  // is set aside for the click and put back.
  virtual bool MakesPageTwo() const { return true; }
  void MakePageTwo(bool backToPageOne) {
    const char* config = "C:\\zor\\vik\\zvconf.ini";
    const bool configured = test::PathExists(config);
    const std::string content = configured ? test::ReadWholeFile(config) : std::string();
    if (configured) DeleteFileA(config);
    SendMessageA(Find("选择下一步按钮1"), BM_CLICK, 0, 0);
    if (configured) test::WriteWholeFile(config, content);
    pages_[kOnPageTwo] = GetDlgItem(window_, NativeId(kPageTwo));
    ASSERT_NE(pages_[kOnPageTwo], nullptr) << "Next did not make the second page";
    if (backToPageOne) {
      ShowWindow(pages_[kOnPageOne], SW_SHOW);
      ShowWindow(pages_[kOnPageTwo], SW_HIDE);
      UpdateWindow(window_);
    }
  }

  HWND Find(int recordIndex) const {
    const HWND parent = pages_[kControls[recordIndex].parent];
    return parent != nullptr ? GetDlgItem(parent, NativeId(recordIndex)) : nullptr;
  }
  static int Index(const char* name) {
    for (int i = 0; i < kControlCount; ++i) {
      if (std::string(kControls[i].name) == name) return i;
    }
    return -1;
  }
  HWND Find(const char* name) const { return Find(Index(name)); }

  void ShowPageTwo(bool disclaimer) {
    ShowWindow(pages_[kOnPageTwo], SW_SHOW);
    ShowWindow(pages_[kOnPageOne], SW_HIDE);
    if (!disclaimer) ShowWindow(Find("编辑框1"), SW_HIDE);
    UpdateWindow(window_);
    Sleep(300);
  }

  test::ChildProcess wizard_;
  HWND window_ = nullptr;
  HWND pages_[3] = {};
};

// For scripts/screenshots: shows a page of the running wizard from outside, as the page handlers will
// through the visible property: "disclaimer" (page 2 as it opens), "registration" (page 2 after the
// first Next) or "close" (ends the wizard).
ZV_CHILD_SCENARIO(WizardPage) {
  const HWND window = FindWindowA("ZorvikWindow", nullptr);
  if (window == nullptr) ExitProcess(2);
  const std::string page = argv[argc - 1];
  if (page == "close") {
    PostMessageA(window, WM_CLOSE, 0, 0);
    return;
  }
  const HWND pageOne = GetDlgItem(window, NativeId(kPageOne));
  // The program makes its second page when Next first shows it.
  if (GetDlgItem(window, NativeId(kPageTwo)) == nullptr) {
    for (int i = 0; i < kControlCount; ++i) {
      if (std::string(kControls[i].name) == "选择下一步按钮1")
        SendMessageA(GetDlgItem(pageOne, NativeId(i)), BM_CLICK, 0, 0);
    }
  }
  const HWND pageTwo = GetDlgItem(window, NativeId(kPageTwo));
  ShowWindow(pageTwo, SW_SHOW);
  ShowWindow(pageOne, SW_HIDE);
  if (page == "registration") ShowWindow(GetDlgItem(pageTwo, NativeId(0)), SW_HIDE);
  UpdateWindow(window);
}

TEST_F(RunningWizard, WindowIs360By244CentredOnTheScreen) {
  RECT r;
  GetWindowRect(window_, &r);
  EXPECT_EQ(r.right - r.left, kWidth);
  EXPECT_EQ(r.bottom - r.top, kHeight);
  EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2);
  EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2);
}

TEST_F(RunningWizard, WindowHasNoCaptionFrameOrSystemMenu) {
  const LONG style = GetWindowLongA(window_, GWL_STYLE);
  EXPECT_EQ(style & (WS_BORDER | WS_DLGFRAME | WS_THICKFRAME | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX),
            0);
  EXPECT_NE(style & WS_CLIPCHILDREN, 0);
  EXPECT_EQ(GetWindowLongA(window_, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
  RECT client;
  GetClientRect(window_, &client);
  EXPECT_EQ(client.right, kWidth);
  EXPECT_EQ(client.bottom, kHeight);
  EXPECT_EQ(TextOf(window_), "Zorvik 安装向导");  // not drawn: for the taskbar, Alt+Tab and screen readers
}

TEST_F(RunningWizard, EveryControlHasItsClassParentPlaceIdAndText) {
  for (int i = 0; i < kControlCount; ++i) {
    const Control& c = kControls[i];
    SCOPED_TRACE(c.name);
    const HWND h = Find(i);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetParent(h), pages_[c.parent]);
    EXPECT_EQ(GetDlgCtrlID(h), NativeId(i));
    EXPECT_EQ(_stricmp(ClassOf(h).c_str(), c.className), 0) << ClassOf(h);
    const RECT r = RectIn(h, pages_[c.parent]);
    EXPECT_EQ(r.left, c.left);
    EXPECT_EQ(r.top, c.top);
    EXPECT_EQ(r.right - r.left, c.width);
    if (c.height >= 0) {
      EXPECT_EQ(r.bottom - r.top, c.height);
    }
    EXPECT_EQ(TextOf(h), c.text);
  }
}

TEST_F(RunningWizard, EveryControlHasTheCommonStylesAndItsFlags) {
  for (int i = 0; i < kControlCount; ++i) {
    const Control& c = kControls[i];
    SCOPED_TRACE(c.name);
    const LONG style = GetWindowLongA(Find(i), GWL_STYLE);
    EXPECT_EQ(style & (WS_CHILD | WS_CLIPSIBLINGS), WS_CHILD | WS_CLIPSIBLINGS);
    EXPECT_EQ((style & WS_TABSTOP) != 0, c.tabStop);
    EXPECT_EQ((style & WS_DISABLED) != 0, c.disabled);
    EXPECT_EQ((style & WS_VISIBLE) != 0, c.shownWithItsParent);
  }
}

// The window as it starts: the first page shown, the second not made yet; Next makes it and shows it
// in the first page's place.
class RunningWizardAtStart : public RunningWizard {
 protected:
  bool MakesPageTwo() const override { return false; }
};

TEST_F(RunningWizardAtStart, PageOneIsShownAndPageTwoIsMadeByNext) {
  for (int i = 0; i < kControlCount; ++i) {
    if (kControls[i].parent == kOnPageTwo || i == kPageTwo) continue;
    SCOPED_TRACE(kControls[i].name);
    EXPECT_TRUE(IsWindowVisible(Find(i)));
  }
  EXPECT_EQ(GetDlgItem(window_, NativeId(kPageTwo)), nullptr);
  EXPECT_TRUE(IsWindowVisible(Find("透明标签1")));
  MakePageTwo(false);
  EXPECT_TRUE(IsWindowVisible(pages_[kOnPageTwo]));
  EXPECT_FALSE(IsWindowVisible(pages_[kOnPageOne]));
  EXPECT_TRUE(IsWindowVisible(Find("编辑框1")));
}

TEST_F(RunningWizard, PageOneIsShownAndPageTwoHidden) {
  for (int i = 0; i < kControlCount; ++i) {
    SCOPED_TRACE(kControls[i].name);
    const bool expected = kControls[i].parent == kOnPageOne || i == kPageOne ||
                          (kControls[i].parent == kOnWindow && i != kPageTwo);
    EXPECT_EQ(IsWindowVisible(Find(i)) != FALSE, expected);
  }
}

TEST_F(RunningWizard, SiblingsAreStackedInRecordOrder) {
  for (int parent = kOnWindow; parent <= kOnPageTwo; ++parent) {
    std::vector<int> expected, actual;
    for (int i = 0; i < kControlCount; ++i) {
      if (kControls[i].parent == parent) expected.push_back(NativeId(i));
    }
    for (HWND h = GetWindow(pages_[parent], GW_CHILD); h != nullptr; h = GetWindow(h, GW_HWNDNEXT)) {
      actual.push_back(GetDlgCtrlID(h));
    }
    EXPECT_EQ(actual, expected) << "parent " << parent;
  }
}

TEST_F(RunningWizard, ButtonsArePlainMultiLinePushButtonsCentredBothWays) {
  for (const char* name : {"取消安装按钮3", "安装下一步按钮4", "取消选择按钮2", "选择下一步按钮1"}) {
    SCOPED_TRACE(name);
    const LONG style = GetWindowLongA(Find(name), GWL_STYLE);
    EXPECT_EQ(style & BS_TYPEMASK, BS_PUSHBUTTON);
    EXPECT_NE(style & BS_MULTILINE, 0);
    EXPECT_EQ(style & BS_CENTER, BS_CENTER);
    EXPECT_EQ(style & BS_VCENTER, BS_VCENTER);
  }
}

TEST_F(RunningWizard, RadioButtonsAreFlatAutomaticAndInstallIsChecked) {
  for (const char* name : {"单选框卸载3", "单选框安装2"}) {
    SCOPED_TRACE(name);
    const LONG style = GetWindowLongA(Find(name), GWL_STYLE);
    EXPECT_EQ(style & BS_TYPEMASK, BS_AUTORADIOBUTTON);
    EXPECT_NE(style & BS_FLAT, 0);
    EXPECT_NE(style & BS_MULTILINE, 0);
    EXPECT_EQ(style & BS_CENTER, BS_LEFT);
    EXPECT_EQ(style & BS_VCENTER, BS_VCENTER);
  }
  EXPECT_EQ(SendMessageA(Find("单选框安装2"), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageA(Find("单选框卸载3"), BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

TEST_F(RunningWizard, DisclaimerIsABorderlessMultiLineEditWithoutScrollBars) {
  const LONG style = GetWindowLongA(Find("编辑框1"), GWL_STYLE);
  EXPECT_EQ(style & (ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN),
            ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN);
  EXPECT_EQ(style & (WS_HSCROLL | WS_VSCROLL | WS_BORDER | ES_CENTER | ES_RIGHT), 0);
  EXPECT_EQ(GetWindowLongA(Find("编辑框1"), GWL_EXSTYLE) & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE), 0);
  EXPECT_EQ(TextOf(Find("编辑框1")).size(), 208u);
}

TEST_F(RunningWizard, NicknameIsASingleLineEditWithALineBorder) {
  const LONG style = GetWindowLongA(Find("编辑框昵称"), GWL_STYLE);
  EXPECT_NE(style & ES_AUTOHSCROLL, 0);
  EXPECT_NE(style & WS_BORDER, 0);
  EXPECT_EQ(style & (ES_MULTILINE | ES_PASSWORD | ES_READONLY | ES_CENTER | ES_RIGHT), 0);
}

TEST_F(RunningWizard, GenderComboIsAnUnsortedDropDownListOfThreeWithTheFirstSelected) {
  const HWND combo = Find("组合框性别");
  const LONG style = GetWindowLongA(combo, GWL_STYLE);
  EXPECT_EQ(style & 3, CBS_DROPDOWNLIST);
  EXPECT_EQ(style & CBS_SORT, 0);
  ASSERT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 3);
  const char* items[] = {"女性", "男性", "人妖"};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ComboItem(combo, i), items[i]);
  EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 0);
}

TEST_F(RunningWizard, LabelsKeepTheirCaptionAsWindowText) {
  for (int i = 0; i < kControlCount; ++i) {
    const std::string className = kControls[i].className;
    if (className != "ZorvikLabel" && className != "ZorvikTransLabel") continue;
    wchar_t text[256] = {};
    GetWindowTextW(Find(i), text, 256);
    EXPECT_EQ(Gbk(text), kControls[i].text) << kControls[i].name;
  }
}

// ---- Colours on screen ----

COLORREF ScreenPixel(int x, int y) {
  HDC screen = GetDC(nullptr);
  const COLORREF c = GetPixel(screen, x, y);
  ReleaseDC(nullptr, screen);
  return c;
}

// Whether any pixel of `colour` lies in the rectangle (window coordinates).
bool HasColour(HWND window, int left, int top, int width, int height, COLORREF colour) {
  RECT w;
  GetWindowRect(window, &w);
  HDC screen = GetDC(nullptr);
  bool found = false;
  for (int y = top; y < top + height && !found; ++y) {
    for (int x = left; x < left + width && !found; ++x)
      found = GetPixel(screen, w.left + x, w.top + y) == colour;
  }
  ReleaseDC(nullptr, screen);
  return found;
}

const COLORREF kDarkRed = RGB(128, 0, 0);

COLORREF PixelAt(HWND window, int x, int y) {
  RECT w;
  GetWindowRect(window, &w);
  return ScreenPixel(w.left + x, w.top + y);
}

void WaitUntilPainted(HWND window) {
  for (int i = 0; i < 100 && PixelAt(window, 2, 2) != kDarkRed; ++i) Sleep(50);
  Sleep(300);
}

TEST_F(RunningWizard, PageOneShowsDarkRedBandsAroundTheButtonFacePanel) {
  WaitUntilPainted(window_);
  EXPECT_EQ(PixelAt(window_, 2, 2), kDarkRed);
  EXPECT_EQ(PixelAt(window_, 2, 28), kDarkRed);
  EXPECT_EQ(PixelAt(window_, 357, 241), kDarkRed);
  EXPECT_EQ(PixelAt(window_, 2, 30), GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(PixelAt(window_, 180, 31), GetSysColor(COLOR_BTNFACE));  // under the title label's last rows
  EXPECT_EQ(PixelAt(window_, 357, 213), GetSysColor(COLOR_BTNFACE));
  EXPECT_TRUE(HasColour(window_, 48, 0, 264, 30, RGB(0, 255, 255))) << "cyan title";
  EXPECT_TRUE(HasColour(window_, 0, 214, 360, 30, RGB(0, 255, 0))) << "green footer";
  EXPECT_TRUE(HasColour(window_, 40, 54, 272, 32, RGB(0, 0, 255))) << "blue prompt";
}

TEST_F(RunningWizard, PageTwoShowsTheDisclaimerOverTheRegistrationControls) {
  WaitUntilPainted(window_);
  ShowPageTwo(true);
  WaitUntilPainted(window_);  // the page switch repaints the window, slowly on a busy machine
  // Where the nickname edit's white field would be, the disclaimer covers it.
  EXPECT_NE(PixelAt(window_, 200, 92), RGB(255, 255, 255));
  EXPECT_FALSE(HasColour(window_, 69, 141, 240, 24, RGB(255, 0, 0))) << "the red warning is covered";
  EXPECT_EQ(PixelAt(window_, 2, 2), kDarkRed);
}

TEST_F(RunningWizard, PageTwoWithoutTheDisclaimerShowsTheRegistrationControls) {
  WaitUntilPainted(window_);
  ShowPageTwo(false);
  WaitUntilPainted(window_);  // the page switch repaints the window, slowly on a busy machine
  EXPECT_EQ(PixelAt(window_, 200, 92), RGB(255, 255, 255));  // inside the nickname edit
  EXPECT_TRUE(HasColour(window_, 69, 141, 240, 24, RGB(255, 0, 0))) << "red warning";
  EXPECT_TRUE(HasColour(window_, 64, 40, 240, 24, RGB(0, 0, 255))) << "blue greeting";
  EXPECT_EQ(PixelAt(window_, 2, 35), GetSysColor(COLOR_BTNFACE));
}

// ---- Dragging, with real mouse input ----

void MouseTo(int x, int y, DWORD buttons = 0) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = (x * 65536 + GetSystemMetrics(SM_CXSCREEN) - 1) / GetSystemMetrics(SM_CXSCREEN);
  input.mi.dy = (y * 65536 + GetSystemMetrics(SM_CYSCREEN) - 1) / GetSystemMetrics(SM_CYSCREEN);
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | buttons;
  SendInput(1, &input, sizeof input);
  Sleep(40);
}

// Presses the left button at (x, y) of the window, moves by (dx, dy) in steps and releases.
void Drag(HWND window, int x, int y, int dx, int dy) {
  RECT w;
  GetWindowRect(window, &w);
  const int startX = w.left + x, startY = w.top + y;
  MouseTo(startX, startY);
  MouseTo(startX, startY, MOUSEEVENTF_LEFTDOWN);
  for (int step = 1; step <= 10; ++step) MouseTo(startX + dx * step / 10, startY + dy * step / 10);
  MouseTo(startX + dx, startY + dy, MOUSEEVENTF_LEFTUP);
  Sleep(300);
}

TEST_F(RunningWizard, DraggingALabelOrTheTitleBandMovesTheWindow) {
  WaitUntilPainted(window_);
  RECT before, after;
  GetWindowRect(window_, &before);
  Drag(window_, 60, 70, 30, 20);  // on 标签1
  GetWindowRect(window_, &after);
  EXPECT_EQ(after.left - before.left, 30);
  EXPECT_EQ(after.top - before.top, 20);
  Drag(window_, 20, 10, -30, -20);  // the window's own client area, left of the title label
  GetWindowRect(window_, &after);
  EXPECT_EQ(after.left, before.left);
  EXPECT_EQ(after.top, before.top);
}

TEST_F(RunningWizard, DraggingOnAPanelOrATransparentLabelDoesNotMoveTheWindow) {
  WaitUntilPainted(window_);
  RECT before, after;
  GetWindowRect(window_, &before);
  Drag(window_, 20, 200, 30, 20);  // the page-1 panel
  Drag(window_, 180, 12, 30, 20);  // the title label
  GetWindowRect(window_, &after);
  EXPECT_EQ(after.left, before.left);
  EXPECT_EQ(after.top, before.top);
}

// ---- Endings and input ----

TEST_F(RunningWizard, ClosingTheWindowFromOutsideEndsWithZeroAndWritesNothing) {
  const bool installDirBefore = test::PathExists("C:\\zor");
  PostMessageA(window_, WM_CLOSE, 0, 0);
  EXPECT_EQ(wizard_.Wait(), 0u);
  if (!installDirBefore) {
    EXPECT_FALSE(test::PathExists("C:\\zor"));
  }
}

TEST_F(RunningWizard, ClosingTheWindowOnPageTwoAlsoEndsWithZero) {
  ShowPageTwo(false);
  PostMessageA(window_, WM_CLOSE, 0, 0);
  EXPECT_EQ(wizard_.Wait(), 0u);
}

TEST_F(RunningWizard, CancelOnPageOneEndsWithZero) {
  PostMessageA(Find("取消选择按钮2"), BM_CLICK, 0, 0);
  EXPECT_EQ(wizard_.Wait(), 0u);
}

TEST_F(RunningWizard, CancelOnPageTwoEndsWithZero) {
  ShowPageTwo(true);
  PostMessageA(Find("取消安装按钮3"), BM_CLICK, 0, 0);
  EXPECT_EQ(wizard_.Wait(), 0u);
}

// A nickname typed through an input method (UTF-16 characters) with one that GBK has none for, and
// too long besides: Next refuses it for that character first, empties the box, keeps the page open
// and writes nothing.
TEST_F(RunningWizardAtStart, NextRefusesANicknameWithACharacterGbkCannotHold) {
  const std::string config = "C:\\zor\\vik\\zvconf.ini";
  const bool configured = test::PathExists(config);
  const std::string before = configured ? test::ReadWholeFile(config) : std::string();
  MakePageTwo(false);
  SendMessageA(Find("安装下一步按钮4"), BM_CLICK, 0, 0);  // the disclaimer goes
  const HWND nickname = Find("编辑框昵称");
  const std::wstring typed = L"\u5c0f\u660e\u5c0f\u660e\u5c0f\u660e\ud55c";  // 小明小明小明한
  for (const wchar_t u : typed) PostMessageW(nickname, WM_CHAR, u, 1);
  // The characters reach the box as they were typed.
  for (int i = 0; i < 100 && WideTextOf(nickname).size() < typed.size(); ++i) Sleep(20);
  EXPECT_TRUE(WideTextOf(nickname) == typed);
  PostMessageA(Find("安装下一步按钮4"), BM_CLICK, 0, 0);
  const test::MessageBox box = test::WaitForMessageBox(wizard_.id());
  ASSERT_NE(box.window, nullptr);
  EXPECT_EQ(TextOf(box.window), "抱歉");
  EXPECT_EQ(TextOf(GetDlgItem(box.window, 0xFFFF)), "亲，昵称里有无法保存的字符哦！");
  EXPECT_FALSE(box.hasIcon);
  test::PressOk(box);
  EXPECT_EQ(TextOf(nickname), "");
  EXPECT_TRUE(IsWindowVisible(pages_[kOnPageTwo]));
  EXPECT_EQ(test::PathExists(config), configured);
  if (configured) {
    EXPECT_EQ(test::ReadWholeFile(config), before);
  }
  PostMessageA(window_, WM_CLOSE, 0, 0);
  EXPECT_EQ(wizard_.Wait(), 0u);
}

// From the start, with the checked radio button focused.
TEST_F(RunningWizardAtStart, TabFocusesCancelAndEnterClicksIt) {
  PostMessageA(window_, WM_KEYDOWN, VK_TAB, 1);
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  const DWORD thread = GetWindowThreadProcessId(window_, nullptr);
  for (int i = 0; i < 100 && info.hwndFocus != Find("取消选择按钮2"); ++i) {
    Sleep(20);
    GetGUIThreadInfo(thread, &info);
  }
  EXPECT_EQ(info.hwndFocus, Find("取消选择按钮2"));
  PostMessageA(info.hwndFocus, WM_KEYDOWN, VK_RETURN, 1);
  EXPECT_EQ(wizard_.Wait(), 0u);
}

// A keyboard user's walk, the focus asked of the running program after each step: at start on the
// checked radio button; on the page Next shows, on its Next while the disclaimer covers the inputs
// (a second Enter accepts the disclaimer rather than cancelling), Tab passing over the controls under
// the disclaimer until it is gone, then on the nickname box, Tab in reading order; back where it was
// when the window is activated again (Alt+Tab) or after a nickname check's box. Escape then does what
// the page's Cancel does.
TEST_F(RunningWizardAtStart, TheFocusIsWhereAKeyboardUserExpectsIt) {
  enum Action { kNone, kTab, kEnter, kAwayAndBack, kNextOnPageOne, kNextShowingABox };
  const struct {
    Action action;
    const char* focused;
  } steps[] = {{kNone, "单选框安装2"},
               {kTab, "取消选择按钮2"},
               {kAwayAndBack, "取消选择按钮2"},
               {kNextOnPageOne, "安装下一步按钮4"},
               {kTab, "取消安装按钮3"},
               {kTab, "安装下一步按钮4"},
               {kEnter, "编辑框昵称"},
               {kTab, "组合框性别"},
               {kTab, "取消安装按钮3"},
               {kNextShowingABox, "安装下一步按钮4"}};  // BM_CLICK focuses the button, as a click does
  GUITHREADINFO info{sizeof info};
  const DWORD thread = GetWindowThreadProcessId(window_, nullptr);
  for (const auto& step : steps) {
    SCOPED_TRACE(step.focused);
    GetGUIThreadInfo(thread, &info);
    if (step.action == kTab || step.action == kEnter)
      PostMessageA(info.hwndFocus, WM_KEYDOWN, step.action == kTab ? VK_TAB : VK_RETURN, 1);
    if (step.action == kNextOnPageOne) MakePageTwo(false);
    if (step.action == kAwayAndBack) {
      const HWND other = CreateWindowExA(0, "Static", "", WS_POPUP | WS_VISIBLE, 0, 0, 9, 9, 0, 0, 0, 0);
      SetForegroundWindow(other);
      SetForegroundWindow(window_);
      DestroyWindow(other);
    }
    if (step.action == kNextShowingABox) {  // the nickname is empty
      PostMessageA(Find("安装下一步按钮4"), BM_CLICK, 0, 0);
      test::PressOk(test::WaitForMessageBox(wizard_.id()));
    }
    // Once the program has had its turn (the box gone); a posted key may still be on its way.
    for (int i = 0; i < 100 && !IsWindowEnabled(window_); ++i) Sleep(20);
    SendMessageA(window_, WM_NULL, 0, 0);
    for (int i = 0; i < 100 && GetGUIThreadInfo(thread, &info) && info.hwndFocus != Find(step.focused); ++i)
      Sleep(20);
    EXPECT_EQ(info.hwndFocus, Find(step.focused));
  }
  PostMessageA(Find("安装下一步按钮4"), WM_KEYDOWN, VK_ESCAPE, 1);
  EXPECT_EQ(wizard_.Wait(), 0u);
}

}  // namespace
}  // namespace zv
