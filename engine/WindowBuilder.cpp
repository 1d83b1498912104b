// LoadWindow: creates a window and its controls from the window's template. The window unit first;
// then each control directly in its parent (a panel before its own children), siblings in record
// order, so that each lands below the ones before it and the stacking order is the record order, first
// record topmost; native ids 100, 110, 120, ... in reverse record order; visible controls created
// visible. Nothing is re-parented, re-stacked or shown afterwards except the window, once, complete.
// A panel on the window that is hidden then (a later page) is created, with its controls, when a
// caller first needs one of them, and put where it would have been in the stacking order: the window
// shows without paying for pages that are not on it.
// Stored geometry and font heights are in 96-DPI units and are scaled to the window's DPI.
// Every window is a Unicode window: texts, items and font face names go to the system as UTF-16,
// converted from the template's GBK with code page 936 named (ToWide).
#include <cstring>

#include "engine/LiveWindow.h"
#include "engine/WindowEngine.h"
#include "runtime/Fatal.h"
#include "runtime/WideText.h"

namespace zv {
namespace engine {
namespace {

// A drop-down combo box is created this much taller than its stored height, so that its list drops.
constexpr int kDropDownListHeight = 140;
constexpr int kFirstNativeId = 100;
constexpr int kNativeIdStep = 10;

HINSTANCE Instance() {
  return GetModuleHandleW(nullptr);
}

// The stored font (the fields of a LOGFONTA, its face name GBK) as the system's wide form. The face
// name is converted, nothing more: the system's font mapper finds the face, or the nearest of its
// character set, itself.
LOGFONTW ToLogFont(const tpl::StoredFont& f) {
  LOGFONTW lf{};
  lf.lfHeight = f.height;
  lf.lfWidth = f.width;
  lf.lfEscapement = f.escapement;
  lf.lfOrientation = f.orientation;
  lf.lfWeight = f.weight;
  lf.lfItalic = f.italic;
  lf.lfUnderline = f.underline;
  lf.lfStrikeOut = f.strikeOut;
  lf.lfCharSet = f.charSet;
  lf.lfOutPrecision = f.outPrecision;
  lf.lfClipPrecision = f.clipPrecision;
  lf.lfQuality = f.quality;
  lf.lfPitchAndFamily = f.pitchAndFamily;
  const WideText face = ToWide(f.faceName.data(), f.faceName.size());
  const std::size_t units = face.length() < LF_FACESIZE ? face.length() : LF_FACESIZE - 1;
  std::memcpy(lf.lfFaceName, face.c_str(), units * sizeof(wchar_t));
  return lf;
}
static_assert(sizeof(LOGFONTA) == tpl::kLogFontSize, "the stored font has the layout of a LOGFONTA");

// The screen's DPI, read once: the DPI of every window where the system has no per-window DPI.
int SystemDpi() {
  static int dpi = 0;
  if (dpi == 0) {
    HDC dc = GetDC(nullptr);
    dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    if (dpi <= 0) dpi = 96;
  }
  return dpi;
}

// The DPI of the monitor the window is on, where the system tells it per window; 0 elsewhere (the
// call exists from Windows 10 on; looked up at run time so that the program still starts without it).
UINT DpiOfWindow(HWND h) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto get = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  return get != nullptr ? get(h) : 0;
}

// A system metric at `dpi` where the system gives them per DPI (from Windows 10 on; looked up at run
// time); elsewhere the system DPI's, scaled.
int MetricAt(int index, int dpi) {
  using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
  static const auto get = reinterpret_cast<GetSystemMetricsForDpiFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetSystemMetricsForDpi")));
  if (get != nullptr) return get(index, static_cast<UINT>(dpi));
  const int metric = GetSystemMetrics(index);
  return dpi == SystemDpi() ? metric : MulDiv(metric, dpi, SystemDpi());
}

// The font object a font maker made for every unit that shares its font: never a label's own
// smaller font (FitCaption).
HFONT SharedFont(const LiveUnit& maker) {
  if (maker.ownFont) return maker.ownFont.get();
  return maker.stockFont ? static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)) : nullptr;
}

// The width and height of the border of border code `code` (BorderExStyle) on each side at `dpi`.
SIZE BorderSize(std::int32_t code, int dpi) {
  const SIZE edge{MetricAt(SM_CXEDGE, dpi), MetricAt(SM_CYEDGE, dpi)};
  const SIZE line{MetricAt(SM_CXBORDER, dpi), MetricAt(SM_CYBORDER, dpi)};
  const SIZE frame{MetricAt(SM_CXDLGFRAME, dpi), MetricAt(SM_CYDLGFRAME, dpi)};
  switch (code) {
    case 1:
      return edge;
    case 2:
      return frame;
    case 3:
      return line;
    case 4:
      return SIZE{edge.cx + frame.cx, edge.cy + frame.cy};
    case 5:
      return line;
    default:
      return SIZE{0, 0};
  }
}

// The unit's font object at the window's DPI: the stock GUI font itself at 96 DPI, else a font of the
// stored face with the height (and width) scaled. Replaces (and deletes) the unit's previous one.
void MakeFont(const LiveWindow& window, LiveUnit& unit) {
  if (unit.stockFont && window.dpi == 96 && SystemDpi() == 96) {
    unit.ownFont.reset();
    unit.font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    return;
  }
  LOGFONTW lf = unit.storedFont;
  lf.lfHeight = ToWindowDpi(window, lf.lfHeight);
  lf.lfWidth = ToWindowDpi(window, lf.lfWidth);
  unit.ownFont.reset(CreateFontIndirectW(&lf));
  unit.font = unit.ownFont.get();
}

// Width and height of `text` on one line in `font`, as a label draws it.
SIZE CaptionExtent(HFONT font, const std::string& text) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  RECT needed{0, 0, 0, 0};
  const WideText wide = ToWide(text.data(), text.size());
  DrawTextW(dc, wide.c_str(), static_cast<int>(wide.length()), &needed, DT_SINGLELINE | DT_NOPREFIX | DT_CALCRECT);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return SIZE{needed.right, needed.bottom};
}

// A label's caption that fits its stored box at 96 DPI must not be cut off at another scale. Font
// heights are whole pixels, and a face's glyphs do not widen in proportion at every size (a face
// with bitmap strikes takes the next strike's advance), so the scaled font can make the caption
// wider than the scaled box. Such a label gets a font of its own, one pixel smaller at a time (a few
// pixels at most), in which the caption fits; every other unit keeps the shared font.
// The caption is measured against the label's client area: its box less its border on each side.
void FitCaption(const LiveWindow& window, LiveUnit& unit) {
  unit.fitFont.reset();
  unit.font = SharedFont(*unit.fontMaker);
  const std::string* caption = nullptr;
  std::int32_t border = 0;
  if (const auto* l = std::get_if<tpl::LabelData>(&unit.data)) {
    caption = &l->caption;
    border = l->border;
  }
  if (const auto* t = std::get_if<tpl::TransLabelData>(&unit.data)) caption = &t->caption;
  if (caption == nullptr || caption->empty() || window.dpi == 96) return;
  const SIZE edge = BorderSize(border, window.dpi), edge96 = BorderSize(border, 96);
  const int width = ToWindowDpi(window, unit.width) - 2 * edge.cx;
  const int height = ToWindowDpi(window, unit.height) - 2 * edge.cy;
  SIZE now = CaptionExtent(unit.font, *caption);
  if (now.cx <= width && now.cy <= height) return;
  LOGFONTW lf = unit.storedFont;
  UniqueFont at96(CreateFontIndirectW(&lf));
  const SIZE before = CaptionExtent(at96.get(), *caption);
  if (before.cx > unit.width - 2 * edge96.cx || before.cy > unit.height - 2 * edge96.cy) {
    return;  // cut off at 96 DPI already
  }
  lf.lfHeight = ToWindowDpi(window, lf.lfHeight);
  lf.lfWidth = ToWindowDpi(window, lf.lfWidth);
  for (int step = 0; step < 4 && (lf.lfHeight > 1 || lf.lfHeight < -1); ++step) {
    lf.lfHeight += lf.lfHeight > 0 ? -1 : 1;
    UniqueFont smaller(CreateFontIndirectW(&lf));
    now = CaptionExtent(smaller.get(), *caption);
    if (now.cx <= width && now.cy <= height) {
      unit.fitFont = std::move(smaller);
      unit.font = unit.fitFont.get();
      return;
    }
  }
}

// The unit's font (an empty stored font: the stock GUI font). Units with the same font share the
// font object of the first of them.
void UseFont(LiveWindow& window, LiveUnit& unit, const tpl::StoredFont& font) {
  if (font.present) {
    unit.storedFont = ToLogFont(font);
  } else {
    unit.stockFont = true;
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof unit.storedFont, &unit.storedFont);
    // The stock fonts are made for the system DPI; kept in 96-DPI units like the stored ones (their
    // width is 0: the face's own proportions).
    unit.storedFont.lfHeight = MulDiv(unit.storedFont.lfHeight, 96, SystemDpi());
  }
  for (LiveUnit& other : window.units) {
    if (&other != &unit && other.fontMaker == &other && other.stockFont == unit.stockFont &&
        std::memcmp(&other.storedFont, &unit.storedFont, sizeof unit.storedFont) == 0) {
      unit.fontMaker = &other;
      unit.font = SharedFont(other);
      return;
    }
  }
  unit.fontMaker = &unit;
  MakeFont(window, unit);
}

void UseColours(const LiveWindow& window, LiveUnit& unit, std::uint32_t text, std::uint32_t back) {
  unit.hasColours = true;
  unit.storedText = text;
  unit.storedBack = back;
  ApplyColours(window, unit);
}

// Border codes shared by edit boxes, labels and panels: the extended styles of codes 1 to 4, given at
// creation; code 5 (a single line) is WS_BORDER, set once the control exists, since an edit box drops
// a WS_BORDER that it is created with and draws a border of its own instead.
DWORD BorderExStyle(std::int32_t code) {
  switch (code) {
    case 1:
      return WS_EX_CLIENTEDGE;
    case 2:
      return WS_EX_DLGMODALFRAME;
    case 3:
      return WS_EX_STATICEDGE;
    case 4:
      return WS_EX_CLIENTEDGE | WS_EX_DLGMODALFRAME;
    default:
      return 0;
  }
}
constexpr std::int32_t kLineBorder = 5;

void AddLineBorder(HWND hwnd) {
  SetWindowLongW(hwnd, GWL_STYLE, GetWindowLongW(hwnd, GWL_STYLE) | WS_BORDER);
  SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

DWORD ButtonAlignment(std::int32_t h, std::int32_t v) {
  DWORD style = h == 0 ? BS_LEFT : h == 2 ? BS_RIGHT : BS_CENTER;
  style |= v == 0 ? BS_TOP : v == 2 ? BS_BOTTOM : BS_VCENTER;
  return style;
}

// Height of one line of text in `font` plus the edges of a single-line edit box.
int SingleLineEditHeight(HFONT font, int dpi) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return tm.tmHeight + 2 * MetricAt(SM_CYEDGE, dpi);
}

// Where a control goes in its parent at the window's DPI: the stored rectangle scaled; a drop-down
// combo box that much taller that its list drops; a single-line edit box at least one line of its
// font tall.
struct Placement {
  int x = 0, y = 0, width = 0, height = 0;
};
Placement PlaceControl(const LiveWindow& window, const LiveUnit& unit) {
  int height = unit.height;
  const auto* c = std::get_if<tpl::ComboBoxData>(&unit.data);
  if (c != nullptr && c->type != 0) height += kDropDownListHeight;
  Placement p{ToWindowDpi(window, unit.left), ToWindowDpi(window, unit.top), ToWindowDpi(window, unit.width),
              ToWindowDpi(window, height)};
  const auto* e = std::get_if<tpl::EditBoxData>(&unit.data);
  if (e != nullptr && !e->multiLine) {
    const int minimum = SingleLineEditHeight(unit.font, window.dpi);
    if (p.height < minimum) p.height = minimum;
  }
  return p;
}

// What CreateWindowExW needs for one control, and what to do once it exists. The text is GBK.
struct ControlPlan {
  const wchar_t* className = nullptr;
  DWORD style = 0;
  DWORD exStyle = 0;
  const std::string* text = nullptr;  // null: no text
  std::int32_t border = -1;  // -1: the kind has no border code
};

bool PlanControl(LiveWindow& window, LiveUnit& unit, ControlPlan& plan) {
  if (auto* e = std::get_if<tpl::EditBoxData>(&unit.data)) {
    plan.className = L"EDIT";
    plan.style |= e->alignment == 1 ? ES_CENTER : e->alignment == 2 ? ES_RIGHT : ES_LEFT;
    plan.style |= e->multiLine ? (ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN) : ES_AUTOHSCROLL;
    if (e->scrollBars & 1) plan.style |= WS_HSCROLL | ES_AUTOHSCROLL;
    if (e->scrollBars & 2) plan.style |= WS_VSCROLL;
    if (!e->hideSelection) plan.style |= ES_NOHIDESEL;
    if (e->inputMode == 1) plan.style |= ES_READONLY;
    if (e->inputMode == 2) plan.style |= ES_PASSWORD;
    if (e->caseConversion == 1) plan.style |= ES_LOWERCASE;
    if (e->caseConversion == 2) plan.style |= ES_UPPERCASE;
    plan.text = &e->content;
    plan.border = e->border;
    UseFont(window, unit, e->font);
    UseColours(window, unit, e->textColour, e->backColour);
  } else if (auto* l = std::get_if<tpl::LabelData>(&unit.data)) {
    plan.className = kLabelClass;
    plan.text = &l->caption;
    plan.border = l->border;
    UseFont(window, unit, l->font);
    FitCaption(window, unit);
    UseColours(window, unit, l->textColour, l->backColour);
  } else if (auto* t = std::get_if<tpl::TransLabelData>(&unit.data)) {
    plan.className = kTransLabelClass;
    plan.text = &t->caption;
    UseFont(window, unit, t->font);
    FitCaption(window, unit);
    UseColours(window, unit, t->textColour, tpl::kDefaultColour);
  } else if (auto* b = std::get_if<tpl::ButtonData>(&unit.data)) {
    plan.className = L"BUTTON";
    plan.style |= (b->type == 1 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | BS_MULTILINE |
                  ButtonAlignment(b->hAlign, b->vAlign);
    plan.text = &b->caption;
    UseFont(window, unit, b->font);
  } else if (auto* r = std::get_if<tpl::RadioBoxData>(&unit.data)) {
    plan.className = L"BUTTON";
    plan.style |= BS_AUTORADIOBUTTON | BS_MULTILINE | ButtonAlignment(r->hAlign, r->vAlign);
    if (r->pushLike) plan.style |= BS_PUSHLIKE;
    if (r->flat) plan.style |= BS_FLAT;
    if (r->textOnLeft) plan.style |= BS_LEFTTEXT;
    plan.text = &r->caption;
    UseFont(window, unit, r->font);
    UseColours(window, unit, r->textColour, r->backColour);
  } else if (auto* c = std::get_if<tpl::ComboBoxData>(&unit.data)) {
    plan.className = L"COMBOBOX";
    plan.style |= WS_VSCROLL;
    plan.style |= c->type == 0   ? CBS_SIMPLE
                  : c->type == 1 ? (CBS_DROPDOWN | CBS_AUTOHSCROLL)
                                 : CBS_DROPDOWNLIST;
    if (c->sorted) plan.style |= CBS_SORT;
    UseFont(window, unit, c->font);
    UseColours(window, unit, c->textColour, c->backColour);
  } else if (auto* p = std::get_if<tpl::DrawPanelData>(&unit.data)) {
    plan.className = kPanelClass;
    plan.style |= WS_CLIPCHILDREN;
    plan.exStyle |= WS_EX_CONTROLPARENT;  // Tab walks into the panel's controls
    plan.border = p->border;
    UseFont(window, unit, p->font);
    UseColours(window, unit, 0, p->backColour);
  } else {
    return false;  // a window unit among the controls
  }
  return true;
}

// A combo box's list items `extra` pixels taller than its font makes them; again after every font
// change, which sets the default height anew.
void SetExtraItemHeight(HWND h, std::int32_t extra) {
  if (extra == 0) return;
  const LRESULT item = SendMessageW(h, CB_GETITEMHEIGHT, 0, 0);
  if (item <= 0) return;
  SendMessageW(h, CB_SETITEMHEIGHT, 0, item + extra);
  // Some combo boxes only honour this when owner-drawn; their list box takes it directly.
  COMBOBOXINFO info{};
  info.cbSize = sizeof info;
  if (SendMessageW(h, CB_GETITEMHEIGHT, 0, 0) != item + extra && GetComboBoxInfo(h, &info) &&
      info.hwndList != nullptr) {
    SendMessageW(info.hwndList, LB_SETITEMHEIGHT, 0, item + extra);
  }
}

// What a control needs once its native window exists: items, selection, check state.
void FinishControl(LiveUnit& unit) {
  HWND h = unit.hwnd;
  if (auto* e = std::get_if<tpl::EditBoxData>(&unit.data)) {
    if (e->maxLength > 0) SendMessageW(h, EM_LIMITTEXT, static_cast<WPARAM>(e->maxLength), 0);
    if (e->inputMode == 2) SendMessageW(h, EM_SETPASSWORDCHAR, e->passwordChar, 0);
    SendMessageW(h, EM_SETSEL, static_cast<WPARAM>(e->selectionStart),
                 static_cast<LPARAM>(e->selectionStart + e->selectionLength));
  } else if (auto* r = std::get_if<tpl::RadioBoxData>(&unit.data)) {
    SendMessageW(h, BM_SETCHECK, r->checked == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
  } else if (auto* c = std::get_if<tpl::ComboBoxData>(&unit.data)) {
    const bool hasValues = c->itemValues.size() == 4 * c->items.size();
    for (std::size_t i = 0; i < c->items.size(); ++i) {
      const WideText item = ToWide(c->items[i].data(), c->items[i].size());
      const LRESULT at = SendMessageW(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
      if (hasValues && at >= 0) {
        const std::uint8_t* v = c->itemValues.data() + 4 * i;
        const DWORD value = v[0] | v[1] << 8 | v[2] << 16 | static_cast<DWORD>(v[3]) << 24;
        SendMessageW(h, CB_SETITEMDATA, static_cast<WPARAM>(at), value);
      }
    }
    if (c->type != 2) {
      if (c->maxLength > 0) SendMessageW(h, CB_LIMITTEXT, static_cast<WPARAM>(c->maxLength), 0);
      SetWindowTextW(h, ToWide(c->content.data(), c->content.size()).c_str());
    }
    if (c->currentSelection >= 0) SendMessageW(h, CB_SETCURSEL, static_cast<WPARAM>(c->currentSelection), 0);
    SetExtraItemHeight(h, c->extraItemHeight);
  }
}

bool CreateControl(LiveWindow& window, LiveUnit& unit, HWND parent, int nativeId) {
  ControlPlan plan;
  if (!PlanControl(window, unit, plan)) return false;
  const tpl::UnitRecord& r = *unit.record;
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS | plan.style;
  if (unit.visible) style |= WS_VISIBLE;
  if (unit.disabled) style |= WS_DISABLED;  // as stored, or as a property write before it existed
  if (r.flags & tpl::kUnitTabStop) style |= WS_TABSTOP;
  const int placedAt = window.dpi;
  const Placement p = PlaceControl(window, unit);
  const WideText text = plan.text != nullptr ? ToWide(plan.text->data(), plan.text->size()) : WideText();
  unit.hwnd = CreateWindowExW(plan.exStyle | BorderExStyle(plan.border), plan.className, text.c_str(), style,
                              p.x, p.y, p.width, p.height, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(nativeId)), Instance(), &unit);
  if (unit.hwnd == nullptr) return false;
  if (window.dpi != placedAt) {  // the display scale changed while it was being created
    const Placement q = PlaceControl(window, unit);
    SetWindowPos(unit.hwnd, nullptr, q.x, q.y, q.width, q.height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  SendMessageW(unit.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(unit.font), FALSE);
  if (plan.border == kLineBorder) AddLineBorder(unit.hwnd);
  if (unit.kind() == tpl::KindId::EditBox || unit.kind() == tpl::KindId::ComboBox ||
      unit.kind() == tpl::KindId::Button)
    AnswerForControl(unit.hwnd);
  FinishControl(unit);
  return true;
}

int NativeIdOf(const LiveWindow& window, std::size_t index) {
  return kFirstNativeId + kNativeIdStep * static_cast<int>(window.units.size() - 1 - index);
}

// A panel on the window that is hidden when the window is built (a page not shown yet): it and
// everything inside it are created when a caller first needs one of them (EnsureCreated).
bool CreatedLater(const LiveUnit& unit) {
  return unit.record->parent == 0 && unit.kind() == tpl::KindId::DrawPanel && !unit.visible;
}

// Creates the units whose parent is `parent` (0: the window) inside `parentHwnd`, in record order,
// each followed at once by its own children. A child created later lands below its earlier siblings.
// On the window, the panels that are created later are left out when `leaveHiddenPanels` is set.
bool CreateChildren(LiveWindow& window, std::uint32_t parent, HWND parentHwnd, bool leaveHiddenPanels) {
  const std::size_t count = window.units.size();
  for (std::size_t i = 1; i < count; ++i) {
    LiveUnit& unit = window.units[i];
    if (unit.record->parent != parent || unit.hwnd != nullptr) continue;
    if (leaveHiddenPanels && CreatedLater(unit)) continue;
    if (!CreateControl(window, unit, parentHwnd, NativeIdOf(window, i))) return false;
    if (!CreateChildren(window, unit.id(), unit.hwnd, false)) return false;
  }
  return true;
}

// The window's place on the screen at its DPI: centred for start position 1, else where it is stored.
Placement PlaceWindow(const LiveWindow& window, const tpl::UnitRecord& r, std::int32_t startPosition) {
  Placement p{ToWindowDpi(window, r.left), ToWindowDpi(window, r.top), ToWindowDpi(window, r.width),
              ToWindowDpi(window, r.height)};
  if (startPosition == 1) {
    p.x = (GetSystemMetrics(SM_CXSCREEN) - p.width) / 2;
    p.y = (GetSystemMetrics(SM_CYSCREEN) - p.height) / 2;
  }
  return p;
}

bool CreateWindowUnit(LiveWindow& window, LiveUnit& unit) {
  auto* d = std::get_if<tpl::WindowData>(&unit.data);
  if (d == nullptr) return false;
  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_CLIPCHILDREN;
  DWORD ex = 0;
  if (d->systemMenu) style |= WS_SYSMENU;
  if (d->minButton) style |= WS_MINIMIZEBOX;
  if (d->maxButton) style |= WS_MAXIMIZEBOX;
  if (d->border == 1 || d->border == 3 || d->border == 5) style |= WS_THICKFRAME;
  if (d->border == 3 || d->border == 4) ex |= WS_EX_TOOLWINDOW;
  if (d->border == 5 || d->border == 6) ex |= WS_EX_CLIENTEDGE;
  if (d->alwaysOnTop) ex |= WS_EX_TOPMOST;
  const tpl::UnitRecord& r = *unit.record;
  window.dpi = SystemDpi();
  window.highContrast = HighContrastOn();
  Placement p = PlaceWindow(window, r, d->startPosition);
  window.hwnd = CreateWindowExW(ex, kWindowClass, ToWide(d->title.data(), d->title.size()).c_str(), style, p.x,
                                p.y, p.width, p.height, nullptr, nullptr, Instance(), &window);
  if (window.hwnd == nullptr) return false;
  unit.hwnd = window.hwnd;
  if (d->border == 0) {
    // No caption, frame or system menu: the window is all client area.
    const LONG cleared =
        GetWindowLongW(window.hwnd, GWL_STYLE) &
        ~(WS_BORDER | WS_DLGFRAME | WS_THICKFRAME | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX);
    SetWindowLongW(window.hwnd, GWL_STYLE, cleared);
    SetWindowPos(window.hwnd, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  }
  // A monitor of its own DPI (per-monitor systems): the window takes that DPI before any control exists.
  // (A display-scale change during its creation has set the DPI it now has.)
  const int own = static_cast<int>(DpiOfWindow(window.hwnd));
  if (own > 0) window.dpi = own;
  p = PlaceWindow(window, r, d->startPosition);
  RECT outer{};
  GetWindowRect(window.hwnd, &outer);
  if (outer.left != p.x || outer.top != p.y || outer.right - outer.left != p.width ||
      outer.bottom - outer.top != p.height) {
    SetWindowPos(window.hwnd, nullptr, p.x, p.y, p.width, p.height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (!d->movable && d->systemMenu) RemoveMenu(GetSystemMenu(window.hwnd, FALSE), SC_MOVE, MF_BYCOMMAND);
  UseFont(window, unit, tpl::StoredFont{});
  window.font = unit.font;
  UseColours(window, unit, 0, d->backColour);
  window.dragToMove = d->dragToMove != 0;
  return true;
}

int ShowCommand(const tpl::KindData& data) {
  const auto* d = std::get_if<tpl::WindowData>(&data);
  if (d != nullptr && d->startPosition == 2) return SW_SHOWMINIMIZED;
  if (d != nullptr && d->startPosition == 3 && (d->border == 1 || d->border == 3 || d->border == 5)) {
    return SW_SHOWMAXIMIZED;
  }
  return SW_SHOW;
}

// Decodes every unit's kind data and checks the parent links; false if the window cannot be built.
// Out of line, like the template decoder's window sections (TemplateCodec.cpp).
[[gnu::noinline]] bool PrepareUnits(LiveWindow& window, const LoadedTemplate& source) {
  const auto& records = source.window.units;
  if (records.empty() || records[0].kind != tpl::KindId::Window) return false;
  window.units = std::vector<LiveUnit>(records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    LiveUnit& unit = window.units[i];
    const tpl::UnitRecord& r = records[i];
    unit.record = &r;
    unit.events = &source.events[i];
    if (tpl::DecodeKindData(r.kind, r.kindData, unit.data) != tpl::KindDataStatus::Ok) return false;
    unit.left = r.left;
    unit.top = r.top;
    unit.width = r.width;
    unit.height = r.height;
    unit.tag = r.tag;
    unit.visible = (r.flags & tpl::kUnitVisible) != 0;
    unit.disabled = (r.flags & tpl::kUnitDisabled) != 0;
    unit.cursor = r.cursor;
  }
  // Every unit's parent chain reaches the window within as many steps as there are units (so no
  // chain is a loop), through units that exist and are not the window unit itself.
  for (std::size_t i = 1; i < records.size(); ++i) {
    std::uint32_t parent = records[i].parent;
    for (std::size_t steps = 0; parent != 0; ++steps) {
      LiveUnit* p = window.FindUnit(parent);
      if (p == nullptr || p == &window.units[0] || steps == records.size()) return false;
      parent = p->record->parent;
    }
  }
  return true;
}

bool BuildWindow(LiveWindow& window) {
  if (!RegisterWindowClasses() || !CreateWindowUnit(window, window.units[0])) return false;
  for (LiveUnit& unit : window.units) unit.cursorHandle = CursorFromData(unit.cursor);
  if (!CreateChildren(window, 0, window.hwnd, true)) return false;
  ShowWindow(window.hwnd, ShowCommand(window.units[0].data));
  // As a dialog starts: the focus on its first control that takes input (whether or not the system
  // activated the window on showing it).
  if (!IsChild(window.hwnd, GetFocus())) RestoreFocus(window);
  UpdateWindow(window.hwnd);
  return true;
}

}  // namespace

bool EnsureCreated(LiveWindow& window, LiveUnit& unit) {
  if (unit.hwnd != nullptr) return true;
  // The panel on the window that holds the unit (or the unit itself).
  LiveUnit* panel = &unit;
  while (panel->record->parent != 0) panel = window.FindUnit(panel->record->parent);
  if (panel->hwnd == nullptr) {
    const auto index = static_cast<std::size_t>(panel - window.units.data());
    if (!CreateControl(window, *panel, window.hwnd, NativeIdOf(window, index)) ||
        !CreateChildren(window, panel->id(), panel->hwnd, false)) {
      return false;
    }
    // It takes the place in the stacking order (and so in the tab order) that it would have had if
    // it had been created with the others: just below the sibling before it in record order.
    HWND above = HWND_TOP;
    for (std::size_t j = index; j-- > 1;) {
      if (window.units[j].record->parent == 0 && window.units[j].hwnd != nullptr) {
        above = window.units[j].hwnd;
        break;
      }
    }
    SetWindowPos(panel->hwnd, above, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    AnnotateControls(window);  // its inputs' names, its controls' help texts
  }
  return unit.hwnd != nullptr;
}

HCURSOR CursorFromData(const tpl::Bytes& data) {
  if (data.size() < 4) return nullptr;
  const DWORD id = data[0] | data[1] << 8 | data[2] << 16 | static_cast<DWORD>(data[3]) << 24;
  if (id == 0) return nullptr;
  return LoadCursorW(nullptr, MAKEINTRESOURCEW(id));
}

void RescaleWindow(LiveWindow& window, int dpi, const RECT* bounds) {
  window.dpi = dpi;
  // New font objects replace the old ones at once: a control whose font is gone is handed its new
  // one below before anything makes it measure or paint.
  for (LiveUnit& unit : window.units) {
    if (unit.fontMaker == &unit) MakeFont(window, unit);
  }
  // A change that arrives while the window is being built finds units without a font yet: each of
  // them is made at the new DPI when its turn comes.
  if (window.units[0].fontMaker != nullptr) window.font = SharedFont(*window.units[0].fontMaker);
  if (bounds != nullptr && window.hwnd != nullptr) {
    SetWindowPos(window.hwnd, nullptr, bounds->left, bounds->top, bounds->right - bounds->left,
                 bounds->bottom - bounds->top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  for (std::size_t i = 1; i < window.units.size(); ++i) {
    LiveUnit& unit = window.units[i];
    if (unit.fontMaker == nullptr) continue;
    FitCaption(window, unit);
    if (unit.hwnd == nullptr) continue;  // being created: it takes its font and place once it exists
    SendMessageW(unit.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(unit.font), TRUE);
    const Placement p = PlaceControl(window, unit);
    SetWindowPos(unit.hwnd, nullptr, p.x, p.y, p.width, p.height, SWP_NOZORDER | SWP_NOACTIVATE);
    if (const auto* c = std::get_if<tpl::ComboBoxData>(&unit.data))
      SetExtraItemHeight(unit.hwnd, c->extraItemHeight);
  }
  if (window.hwnd != nullptr) InvalidateRect(window.hwnd, nullptr, TRUE);
}

}  // namespace engine

void LoadWindow(WindowId id) {
  using namespace engine;
  if (LiveWindow* loaded = FindLoadedWindow(id)) {
    ShowWindow(loaded->hwnd, SW_SHOW);
    return;
  }
  const LoadedTemplate* source = FindTemplate(id);
  bool built = false;
  if (source != nullptr) {
    LiveWindow* window = AddLoadedWindow(id, source);
    built = PrepareUnits(*window, *source) && BuildWindow(*window);
    if (!built) {
      // Destroying the window takes its controls along and forgets it (WM_NCDESTROY).
      if (window->hwnd != nullptr) {
        DestroyWindow(window->hwnd);
      } else {
        ForgetWindow(window);
      }
    }
  }
  if (!built) ReportRuntimeError(kErrorNone, "载入启动窗口失败");
}

}  // namespace zv
