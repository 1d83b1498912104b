// The wizard window at the display scale of the Wine prefix it runs in (tests/support/display-scale
// sets the prefix's LogPixels to 96, 120, 144 or 192 and names it in ZV_EXPECTED_DPI): the engine's
// window in this process (this program declares itself DPI aware, as the setup program's manifest
// does) with its size and place, every control's rectangle, the fonts, the geometry properties, the
// colours on screen and the labels' texts; a move to a monitor of another DPI; and the real setup
// program's window, whose awareness comes from its manifest.
#include <cstdlib>
#include <functional>
#include <vector>

#include "tests/engine/WizardEngineFixture.h"

namespace zv::test {
namespace {

// Before anything reads the DPI: the engine reads the system DPI once.
const BOOL kAware = SetProcessDPIAware();

// Height of the stock GUI font on a 96-DPI screen in this locale (checked by the 96-DPI run).
constexpr LONG kStockHeightAt96 = -12;
constexpr UINT kDpiChanged = 0x02E0;

int ExpectedDpi() {
  const char* value = std::getenv("ZV_EXPECTED_DPI");
  return value != nullptr ? std::atoi(value) : 0;
}

// A unit named by its ControlId in hex (failure messages stay ASCII).
std::string IdOf(const engine::LiveUnit& unit) {
  char text[16];
  wsprintfA(text, "unit %08lx", static_cast<unsigned long>(unit.id()));
  return text;
}

int Scaled(int v, int dpi) {
  return MulDiv(v, dpi, 96);
}

LOGFONTA FontOf(HWND h) {
  LOGFONTA lf{};
  GetObjectA(reinterpret_cast<HFONT>(SendMessageA(h, WM_GETFONT, 0, 0)), sizeof lf, &lf);
  return lf;
}

RECT RectInParent(HWND h) {
  RECT r;
  GetWindowRect(h, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(h), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// Width and height of `text` on one line in `font`.
SIZE TextExtent(HWND h, HFONT font, const char* text, int length) {
  HDC dc = GetDC(h);
  HGDIOBJ old = SelectObject(dc, font);
  RECT needed{0, 0, 0, 0};
  DrawTextA(dc, text, length, &needed, DT_SINGLELINE | DT_NOPREFIX | DT_CALCRECT);
  SelectObject(dc, old);
  ReleaseDC(h, dc);
  return SIZE{needed.right, needed.bottom};
}

class DisplayScale : public WizardEngine {
 protected:
  static int Dpi() { return ExpectedDpi(); }
  static engine::LiveWindow& Window() { return *engine::FindLoadedWindow(kWindowId); }

  // Every control's rectangle in its parent is its stored one scaled to `dpi`; the combo box is
  // created taller (its list), so only its place and width are its own.
  static void ExpectControlsAt(int dpi) {
    CreateEveryPage();  // a page created after a change of scale is created at the new one
    for (std::size_t i = 1; i < Window().units.size(); ++i) {
      const engine::LiveUnit& unit = Window().units[i];
      SCOPED_TRACE(IdOf(unit));
      const RECT r = RectInParent(unit.hwnd);
      EXPECT_EQ(r.left, Scaled(unit.record->left, dpi));
      EXPECT_EQ(r.top, Scaled(unit.record->top, dpi));
      EXPECT_EQ(r.right - r.left, Scaled(unit.record->width, dpi));
      if (unit.kind() != tpl::KindId::ComboBox) {
        EXPECT_EQ(r.bottom - r.top, Scaled(unit.record->height, dpi));
      }
    }
  }

  // The stored font heights scaled; the controls without a stored font share one font of the stock
  // GUI font's face, the stock object itself at 96 DPI.
  static void ExpectFontsAt(int dpi) {
    EXPECT_EQ(FontOf(Native(kTitleLabel)).lfHeight, Scaled(-20, dpi));
    EXPECT_STREQ(FontOf(Native(kTitleLabel)).lfFaceName, "楷体_GB2312");
    EXPECT_EQ(FontOf(Native(kFooterLabel)).lfHeight, Scaled(-20, dpi));
    EXPECT_EQ(FontOf(Native(kSelectionPrompt)).lfHeight, Scaled(-14, dpi));
    EXPECT_EQ(FontOf(Native(kInstallRadio)).lfHeight, Scaled(-16, dpi));
    EXPECT_EQ(FontOf(Native(kUninstallRadio)).lfHeight, Scaled(-16, dpi));
    EXPECT_EQ(FontOf(Native(kDisclaimerEdit)).lfHeight, Scaled(-14, dpi));
    LOGFONTA stock{};
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof stock, &stock);
    const LRESULT shared = SendMessageA(Native(kSelectionNext), WM_GETFONT, 0, 0);
    for (ControlId id : {kWindowUnit, kSelectionNext, kSelectionCancel, kRegistrationNext, kNicknameEdit,
                         kGenderCombo, kGreetingLabel, kWarningLabel, kNicknameLabel, kGenderLabel}) {
      SCOPED_TRACE(std::to_string(id));
      const LRESULT font = SendMessageA(Native(id), WM_GETFONT, 0, 0);
      EXPECT_STREQ(FontOf(Native(id)).lfFaceName, stock.lfFaceName);
      const bool label = id == kGreetingLabel || id == kWarningLabel || id == kNicknameLabel || id == kGenderLabel;
      if (label && font != shared) {
        // A label whose caption would be cut off in the shared font at this scale has its own font,
        // a few pixels smaller (and only then).
        char text[256] = {};
        const int length = GetWindowTextA(Native(id), text, sizeof text);
        RECT box;
        GetClientRect(Native(id), &box);
        EXPECT_GT(TextExtent(Native(id), reinterpret_cast<HFONT>(shared), text, length).cx, box.right);
        EXPECT_LT(-FontOf(Native(id)).lfHeight, -Scaled(kStockHeightAt96, dpi));
        EXPECT_GE(-FontOf(Native(id)).lfHeight, -Scaled(kStockHeightAt96, dpi) - 4);
        continue;
      }
      EXPECT_EQ(font, shared);
      EXPECT_EQ(FontOf(Native(id)).lfHeight, Scaled(kStockHeightAt96, dpi));
    }
    EXPECT_EQ(shared == reinterpret_cast<LRESULT>(GetStockObject(DEFAULT_GUI_FONT)), dpi == 96);
    // One font object per distinct font: the two bands share theirs, and so do the radio buttons.
    EXPECT_EQ(SendMessageA(Native(kTitleLabel), WM_GETFONT, 0, 0),
              SendMessageA(Native(kFooterLabel), WM_GETFONT, 0, 0));
    EXPECT_EQ(SendMessageA(Native(kInstallRadio), WM_GETFONT, 0, 0),
              SendMessageA(Native(kUninstallRadio), WM_GETFONT, 0, 0));
  }

  // What handlers read: the stored 96-DPI values, whatever the DPI.
  static void ExpectGeometryPropertiesAsStored() {
    for (const engine::LiveUnit& unit : Window().units) {
      if (unit.kind() == tpl::KindId::Window || unit.kind() == tpl::KindId::ComboBox) continue;
      SCOPED_TRACE(IdOf(unit));
      EXPECT_EQ(Read(unit.id(), kPropertyLeft), unit.record->left);
      EXPECT_EQ(Read(unit.id(), kPropertyTop), unit.record->top);
      EXPECT_EQ(Read(unit.id(), kPropertyWidth), unit.record->width);
      EXPECT_EQ(Read(unit.id(), kPropertyHeight), unit.record->height);
    }
    EXPECT_EQ(Read(kWindowUnit, kPropertyWidth), 360);
    EXPECT_EQ(Read(kWindowUnit, kPropertyHeight), 244);
    EXPECT_EQ(Read(kGenderCombo, kPropertyLeft), 160);
    EXPECT_EQ(Read(kGenderCombo, kPropertyWidth), 88);
  }
};

TEST_F(DisplayScale, ThePrefixRunsAtTheExpectedDpi) {
  ASSERT_NE(Dpi(), 0) << "ZV_EXPECTED_DPI is not set: run through tests/support/display-scale";
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), Dpi());
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(Window().dpi, Dpi());
  if (Dpi() == 96) {
    LOGFONTA stock{};
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof stock, &stock);
    EXPECT_EQ(stock.lfHeight, kStockHeightAt96);
  }
}

// Created directly in their parents: each control's native parent is its parent unit's window, its id
// is 100, 110, ... in reverse record order, and the siblings of each parent are stacked in record
// order, the first record topmost. The second page, created when it is first shown, takes the same
// places as the pages made with the window.
TEST_F(DisplayScale, ControlsHaveTheirParentsIdsAndStackingOrder) {
  ShowPageTwo();
  const std::size_t count = Window().units.size();
  for (std::size_t i = 1; i < count; ++i) {
    const engine::LiveUnit& unit = Window().units[i];
    SCOPED_TRACE(IdOf(unit));
    const HWND parent = unit.record->parent == 0 ? Main() : Native(unit.record->parent);
    EXPECT_EQ(GetParent(unit.hwnd), parent);
    EXPECT_EQ(GetDlgCtrlID(unit.hwnd), static_cast<int>(100 + 10 * (count - 1 - i)));
  }
  for (const engine::LiveUnit& parent : Window().units) {
    std::vector<HWND> expected, actual;
    for (std::size_t i = 1; i < count; ++i) {
      const engine::LiveUnit& unit = Window().units[i];
      if ((unit.record->parent == 0 ? Main() : Native(unit.record->parent)) == parent.hwnd) {
        expected.push_back(unit.hwnd);
      }
    }
    for (HWND h = GetWindow(parent.hwnd, GW_CHILD); h != nullptr; h = GetWindow(h, GW_HWNDNEXT)) {
      if (engine::FindLiveUnit(h) != nullptr) actual.push_back(h);
    }
    EXPECT_EQ(actual, expected) << IdOf(parent);
  }
}

TEST_F(DisplayScale, WindowIsScaledAndCentredOnTheScreen) {
  const int width = Scaled(360, Dpi()), height = Scaled(244, Dpi());
  RECT r, client;
  GetWindowRect(Main(), &r);
  GetClientRect(Main(), &client);
  EXPECT_EQ(client.right, width);
  EXPECT_EQ(client.bottom, height);
  EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
  EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
}

TEST_F(DisplayScale, EveryControlsRectangleIsItsStoredOneScaled) {
  ExpectControlsAt(Dpi());
}

TEST_F(DisplayScale, FontHeightsAreScaledOnce) {
  ExpectFontsAt(Dpi());
}

TEST_F(DisplayScale, GeometryPropertiesKeepTheirStoredValues) {
  ExpectGeometryPropertiesAsStored();
  // A write in 96-DPI units lands scaled and reads back as written.
  Write(kSelectionPrompt, kPropertyLeft, 30);
  Write(kSelectionPrompt, kPropertyWidth, 250);
  const RECT r = RectInParent(Native(kSelectionPrompt));
  EXPECT_EQ(r.left, Scaled(30, Dpi()));
  EXPECT_EQ(r.right - r.left, Scaled(250, Dpi()));
  EXPECT_EQ(Read(kSelectionPrompt, kPropertyLeft), 30);
  EXPECT_EQ(Read(kSelectionPrompt, kPropertyWidth), 250);
  EXPECT_EQ(Read(kSelectionPrompt, kPropertyTop), 24);
}


// A label whose caption fits its stored box in the label's font at 96 DPI (the same face at the
// 96-DPI height) also fits its box at this scale, measured in the font it has now.
TEST_F(DisplayScale, NoLabelsCaptionIsCutOffThatFitsAt96Dpi) {
  ShowPageTwo();
  Write(kDisclaimerEdit, kPropertyVisible, 0);
  int fittingAt96 = 0;
  for (const engine::LiveUnit& unit : Window().units) {
    if (unit.kind() != tpl::KindId::Label && unit.kind() != tpl::KindId::TransLabel) continue;
    SCOPED_TRACE(IdOf(unit));
    char text[256] = {};
    const int length = GetWindowTextA(unit.hwnd, text, sizeof text);
    ASSERT_GT(length, 0);
    const HFONT font = reinterpret_cast<HFONT>(SendMessageA(unit.hwnd, WM_GETFONT, 0, 0));
    LOGFONTA at96{};
    GetObjectA(font, sizeof at96, &at96);
    at96.lfHeight = MulDiv(at96.lfHeight, 96, Dpi());
    const HFONT small = CreateFontIndirectA(&at96);
    const SIZE before = TextExtent(unit.hwnd, small, text, length);
    DeleteObject(small);
    if (before.cx > unit.record->width || before.cy > unit.record->height) continue;
    ++fittingAt96;
    const SIZE now = TextExtent(unit.hwnd, font, text, length);
    RECT box;
    GetClientRect(unit.hwnd, &box);
    EXPECT_LE(now.cx, box.right);
    EXPECT_LE(now.cy, box.bottom);
  }
  EXPECT_GE(fittingAt96, 5);  // the two bands and the page texts, at least
}

COLORREF PixelAt(HWND window, int x, int y) {
  RECT w;
  GetWindowRect(window, &w);
  HDC screen = GetDC(nullptr);
  const COLORREF c = GetPixel(screen, w.left + x, w.top + y);
  ReleaseDC(nullptr, screen);
  return c;
}

TEST_F(DisplayScale, BandsAreDarkRedAboveAndBelowThePanel) {
  const COLORREF darkRed = RGB(128, 0, 0);
  for (int i = 0; i < 100 && PixelAt(Main(), 2, 2) != darkRed; ++i) Pump();
  const int d = Dpi();
  EXPECT_EQ(PixelAt(Main(), 2, 2), darkRed);
  EXPECT_EQ(PixelAt(Main(), 2, Scaled(30, d) - 2), darkRed);
  EXPECT_EQ(PixelAt(Main(), Scaled(360, d) - 3, Scaled(244, d) - 3), darkRed);
  EXPECT_EQ(PixelAt(Main(), 2, Scaled(30, d) + 1), GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(PixelAt(Main(), Scaled(360, d) - 3, Scaled(214, d) - 2), GetSysColor(COLOR_BTNFACE));
}

// Dragged to a monitor of another DPI: the window takes the suggested rectangle, the controls and
// fonts follow, the properties still read the stored values.
TEST_F(DisplayScale, MovingToAnotherDpiRescalesControlsAndFonts) {
  const int other = Dpi() == 192 ? 120 : 192;
  RECT suggested{10, 20, 10 + Scaled(360, other), 20 + Scaled(244, other)};
  SendMessageA(Main(), kDpiChanged, MAKEWPARAM(other, other), reinterpret_cast<LPARAM>(&suggested));
  Pump();
  RECT r;
  GetWindowRect(Main(), &r);
  EXPECT_EQ(r.left, suggested.left);
  EXPECT_EQ(r.top, suggested.top);
  EXPECT_EQ(r.right, suggested.right);
  EXPECT_EQ(r.bottom, suggested.bottom);
  ExpectControlsAt(other);
  ExpectFontsAt(other);
  ExpectGeometryPropertiesAsStored();
  EXPECT_EQ(SendMessageA(Native(kGenderCombo), CB_GETCOUNT, 0, 0), 3);
}

// ---- The wizard's template with one change, loaded in place of the shipped one for one test ----

tpl::UnitRecord& UnitOf(tpl::TemplateBlock& block, ControlId id) {
  for (tpl::UnitRecord& unit : block.windows[0].units) {
    if (unit.id == id) return unit;
  }
  ADD_FAILURE() << "no unit " << id;
  return block.windows[0].units[0];
}

class VariantWindow : public DisplayScale {
 protected:
  void TearDown() override {
    DisplayScale::TearDown();
    LoadWindowTemplates(Templates(ShippedBlock()));
  }
  // Destroys the shipped window and loads the changed template's in its place.
  static void LoadVariant(const std::function<void(tpl::TemplateBlock&)>& change) {
    DestroyWindow(Main());
    Pump();
    tpl::TemplateBlock block = DescribeWizardWindow();
    change(block);
    static tpl::Bytes encoded;
    encoded = tpl::EncodeTemplateBlock(block);
    LoadWindowTemplates(Templates(encoded));
    LoadWindow(kWindowId);
    Pump();
  }
  static void MoveToDpi(int dpi) {
    RECT suggested{0, 0, Scaled(360, dpi), Scaled(244, dpi)};
    SendMessageA(Main(), kDpiChanged, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
  }
  // The extent of a label's caption in its font made at 96 DPI.
  static SIZE ExtentAt96(HWND label) {
    char text[256] = {};
    const int length = GetWindowTextA(label, text, sizeof text);
    LOGFONTA lf = FontOf(label);
    lf.lfHeight = MulDiv(lf.lfHeight, 96, Window().dpi);
    const HFONT font = CreateFontIndirectA(&lf);
    const SIZE extent = TextExtent(label, font, text, length);
    DeleteObject(font);
    return extent;
  }
};

// The footer band, the first unit with the bands' font, exactly as wide as its caption at 96 DPI: at
// some scales the caption needs a smaller font of the footer's own; the title band keeps the shared
// font at every scale.
TEST_F(VariantWindow, UnitsSharingAFontNeverTakeAnotherLabelsFittedFont) {
  const int width = ExtentAt96(Native(kFooterLabel)).cx;
  LoadVariant([width](tpl::TemplateBlock& b) { UnitOf(b, kFooterLabel).width = width; });
  int fitted = 0;
  for (int dpi = 97; dpi <= 288; ++dpi) {
    SCOPED_TRACE(dpi);
    MoveToDpi(dpi);
    EXPECT_EQ(FontOf(Native(kTitleLabel)).lfHeight, Scaled(-20, dpi));
    if (FontOf(Native(kFooterLabel)).lfHeight != Scaled(-20, dpi)) ++fitted;
  }
  EXPECT_GT(fitted, 0) << "the footer never needed a font of its own: the test shows nothing";
}

// A label with a sunken border (2 pixels a side at 96 DPI) just wide enough for its caption inside the
// border: at every scale the caption fits the label's client area, measured in the font it has.
TEST_F(VariantWindow, ALabelsCaptionFitsInsideItsBorderAtEveryScale) {
  const int width = ExtentAt96(Native(kNicknameLabel)).cx + 4;
  LoadVariant([width](tpl::TemplateBlock& b) {
    tpl::UnitRecord& unit = UnitOf(b, kNicknameLabel);
    tpl::KindData data;
    ASSERT_EQ(tpl::DecodeKindData(unit.kind, unit.kindData, data), tpl::KindDataStatus::Ok);
    auto& label = std::get<tpl::LabelData>(data);
    label.border = 1;
    unit.kindData = tpl::EncodeKindData(label);
    unit.width = width;
  });
  ASSERT_NE(GetWindowLongA(Native(kNicknameLabel), GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0);
  char text[256] = {};
  const int length = GetWindowTextA(Native(kNicknameLabel), text, sizeof text);
  for (int dpi = 97; dpi <= 288; ++dpi) {
    SCOPED_TRACE(dpi);
    MoveToDpi(dpi);
    const HFONT font = reinterpret_cast<HFONT>(SendMessageA(Native(kNicknameLabel), WM_GETFONT, 0, 0));
    RECT client;
    GetClientRect(Native(kNicknameLabel), &client);
    EXPECT_LE(TextExtent(Native(kNicknameLabel), font, text, length).cx, client.right);
  }
}

// A display-scale change that arrives while the window is being built: when the window itself has
// just been created (no control and not its own font yet), or when its first control is.
bool g_changeOnWindow = false;
bool g_changed = false;
int g_changeTo = 0;
LRESULT CALLBACK ChangeDpiWhileBuilding(int code, WPARAM wp, LPARAM lp) {
  const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lp);
  if (code == HC_ACTION && call->message == WM_NCCREATE && !g_changed) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(call->lParam);
    const bool child = (create->style & WS_CHILD) != 0;
    if (child != g_changeOnWindow) {
      g_changed = true;
      const HWND root = child ? create->hwndParent : call->hwnd;
      RECT suggested{0, 0, Scaled(360, g_changeTo), Scaled(244, g_changeTo)};
      SendMessageA(root, kDpiChanged, MAKEWPARAM(g_changeTo, g_changeTo), reinterpret_cast<LPARAM>(&suggested));
    }
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

// The system may swallow a fault inside a window procedure that it called back; a first-chance
// handler still sees it.
LONG g_accessViolations = 0;
LONG CALLBACK CountAccessViolations(EXCEPTION_POINTERS* exception) {
  if (exception->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION) ++g_accessViolations;
  return EXCEPTION_CONTINUE_SEARCH;
}

class ScaleChangeWhileBuilding : public DisplayScale, public testing::WithParamInterface<bool> {};

TEST_P(ScaleChangeWhileBuilding, LeavesACompleteWindowAtOneScale) {
  DestroyWindow(Main());
  Pump();
  g_changeOnWindow = GetParam();
  g_changed = false;
  g_changeTo = Dpi() == 192 ? 120 : 192;
  g_accessViolations = 0;
  void* handler = AddVectoredExceptionHandler(1, CountAccessViolations);
  const HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROCRET, ChangeDpiWhileBuilding, nullptr, GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  LoadWindow(kWindowId);
  UnhookWindowsHookEx(hook);
  RemoveVectoredExceptionHandler(handler);
  Pump();
  ASSERT_TRUE(g_changed);
  EXPECT_EQ(g_accessViolations, 0);
  ASSERT_NE(engine::FindLoadedWindow(kWindowId), nullptr);
  // The first page complete; the later one is made at its first use, at the window's scale.
  for (const engine::LiveUnit& unit : Window().units) {
    const bool onPageTwo = unit.record->parent == kRegistrationPanel || unit.id() == kRegistrationPanel;
    EXPECT_EQ(unit.hwnd != nullptr, !onPageTwo) << IdOf(unit);
  }
  // The window's own DPI, where the system tells it, wins over a change during its creation.
  ExpectControlsAt(Window().dpi);
  ExpectFontsAt(Window().dpi);
  if (!GetParam()) {
    EXPECT_EQ(Window().dpi, g_changeTo);
  }
}
INSTANTIATE_TEST_SUITE_P(WindowOrFirstControl, ScaleChangeWhileBuilding, testing::Bool());

// The real program: the manifest makes it DPI aware, so its window is scaled too.
TEST(DisplayScaleOfTheSetupProgram, WindowIsScaledAndCentred) {
  std::string path = "Z:" ZV_SETUP_EXE;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  ChildProcess wizard;
  ASSERT_TRUE(wizard.Start("\"" + path + "\""));
  HWND window = nullptr;
  for (int i = 0; i < 600 && window == nullptr; ++i) {
    std::vector<HWND> found = TopLevelWindows(wizard.id(), kWindowClassName);
    if (!found.empty()) window = found.front();
    if (window == nullptr) Sleep(50);
  }
  ASSERT_NE(window, nullptr);
  const int width = Scaled(360, ExpectedDpi()), height = Scaled(244, ExpectedDpi());
  RECT r;
  GetWindowRect(window, &r);
  EXPECT_EQ(r.right - r.left, width);
  EXPECT_EQ(r.bottom - r.top, height);
  EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2);
  EXPECT_EQ(r.top, (GetSystemMetrics(SM_CYSCREEN) - height) / 2);
  // The install radio button, the page's first child created: scaled place and width.
  const HWND page = GetDlgItem(window, 100);
  const HWND install = GetDlgItem(page, 110);
  ASSERT_NE(install, nullptr);
  const RECT radio = RectInParent(install);
  EXPECT_EQ(radio.left, Scaled(69, ExpectedDpi()));
  EXPECT_EQ(radio.right - radio.left, Scaled(80, ExpectedDpi()));
  PostMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(wizard.Wait(), 0u);
}

}  // namespace
}  // namespace zv::test
