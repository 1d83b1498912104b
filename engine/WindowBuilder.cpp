// LoadWindow: creates a window and its controls from the window's template, in this order: the window
// unit; the controls in reverse record order, each first as a child of the window, with native ids
// 100, 110, 120, ...; each control re-parented under its parent unit (a panel's children then move,
// show and hide with it); cursors; siblings stacked in record order, the first record topmost; then
// each control shown or hidden by its visible flag, and the window shown.
#include <cstring>

#include "engine/LiveWindow.h"
#include "engine/WindowEngine.h"
#include "runtime/Fatal.h"

namespace zv {
namespace engine {
namespace {

// A drop-down combo box is created this much taller than its stored height, so that its list drops.
constexpr int kDropDownListHeight = 140;
constexpr int kFirstNativeId = 100;
constexpr int kNativeIdStep = 10;

std::vector<std::unique_ptr<LiveWindow>>& LoadedWindows() {
  static std::vector<std::unique_ptr<LiveWindow>> windows;
  return windows;
}

HINSTANCE Instance() {
  return GetModuleHandleA(nullptr);
}

LOGFONTA ToLogFont(const tpl::StoredFont& f) {
  LOGFONTA lf{};
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
  const std::size_t face =
      f.faceName.size() < sizeof lf.lfFaceName ? f.faceName.size() : sizeof lf.lfFaceName - 1;
  std::memcpy(lf.lfFaceName, f.faceName.data(), face);
  return lf;
}
static_assert(sizeof(LOGFONTA) == tpl::kLogFontSize, "the stored font is a LOGFONTA");

void UseFont(LiveUnit& unit, const tpl::StoredFont& font) {
  if (font.present) {
    const LOGFONTA lf = ToLogFont(font);
    unit.ownFont.reset(CreateFontIndirectA(&lf));
  }
  unit.font = unit.ownFont ? unit.ownFont.get() : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

void UseColours(LiveUnit& unit, std::uint32_t text, std::uint32_t back) {
  unit.hasColours = true;
  unit.textColour = ResolveColour(text);
  unit.backColour = ResolveColour(back);
  unit.backBrush.reset(CreateSolidBrush(unit.backColour));
}

// Border codes shared by edit boxes, labels and panels. Replaces whatever border bits the control had.
void ApplyBorder(HWND hwnd, std::int32_t code) {
  constexpr LONG kExBits = WS_EX_CLIENTEDGE | WS_EX_DLGMODALFRAME | WS_EX_STATICEDGE;
  LONG style = GetWindowLongA(hwnd, GWL_STYLE) & ~WS_BORDER;
  LONG ex = GetWindowLongA(hwnd, GWL_EXSTYLE) & ~kExBits;
  switch (code) {
    case 1:
      ex |= WS_EX_CLIENTEDGE;
      break;
    case 2:
      ex |= WS_EX_DLGMODALFRAME;
      break;
    case 3:
      ex |= WS_EX_STATICEDGE;
      break;
    case 4:
      ex |= WS_EX_CLIENTEDGE | WS_EX_DLGMODALFRAME;
      break;
    case 5:
      style |= WS_BORDER;
      break;
    default:
      break;
  }
  SetWindowLongA(hwnd, GWL_STYLE, style);
  SetWindowLongA(hwnd, GWL_EXSTYLE, ex);
  SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

DWORD ButtonAlignment(std::int32_t h, std::int32_t v) {
  DWORD style = h == 0 ? BS_LEFT : h == 2 ? BS_RIGHT : BS_CENTER;
  style |= v == 0 ? BS_TOP : v == 2 ? BS_BOTTOM : BS_VCENTER;
  return style;
}

// Height of one line of text in `font` plus the edges of a single-line edit box.
int SingleLineEditHeight(HFONT font) {
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return tm.tmHeight + 2 * GetSystemMetrics(SM_CYEDGE);
}

// What CreateWindowExA needs for one control, and what to do once it exists.
struct ControlPlan {
  const char* className = nullptr;
  DWORD style = 0;
  DWORD exStyle = 0;
  const char* text = "";
  int height = 0;
  std::int32_t border = -1;  // -1: the kind has no border code
};

bool PlanControl(LiveUnit& unit, ControlPlan& plan) {
  plan.height = unit.height;
  if (auto* e = std::get_if<tpl::EditBoxData>(&unit.data)) {
    plan.className = "EDIT";
    plan.style |= e->alignment == 1 ? ES_CENTER : e->alignment == 2 ? ES_RIGHT : ES_LEFT;
    plan.style |= e->multiLine ? (ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN) : ES_AUTOHSCROLL;
    if (e->scrollBars & 1) plan.style |= WS_HSCROLL | ES_AUTOHSCROLL;
    if (e->scrollBars & 2) plan.style |= WS_VSCROLL;
    if (!e->hideSelection) plan.style |= ES_NOHIDESEL;
    if (e->inputMode == 1) plan.style |= ES_READONLY;
    if (e->inputMode == 2) plan.style |= ES_PASSWORD;
    if (e->caseConversion == 1) plan.style |= ES_LOWERCASE;
    if (e->caseConversion == 2) plan.style |= ES_UPPERCASE;
    plan.text = e->content.c_str();
    plan.border = e->border;
    UseFont(unit, e->font);
    UseColours(unit, e->textColour, e->backColour);
    if (!e->multiLine) {
      const int minimum = SingleLineEditHeight(unit.font);
      if (plan.height < minimum) plan.height = minimum;
    }
  } else if (auto* l = std::get_if<tpl::LabelData>(&unit.data)) {
    plan.className = kLabelClass;
    plan.text = l->caption.c_str();
    plan.border = l->border;
    UseFont(unit, l->font);
    UseColours(unit, l->textColour, l->backColour);
  } else if (auto* t = std::get_if<tpl::TransLabelData>(&unit.data)) {
    plan.className = kTransLabelClass;
    plan.text = t->caption.c_str();
    UseFont(unit, t->font);
    UseColours(unit, t->textColour, tpl::kDefaultColour);
  } else if (auto* b = std::get_if<tpl::ButtonData>(&unit.data)) {
    plan.className = "BUTTON";
    plan.style |= (b->type == 1 ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | BS_MULTILINE |
                  ButtonAlignment(b->hAlign, b->vAlign);
    plan.text = b->caption.c_str();
    UseFont(unit, b->font);
  } else if (auto* r = std::get_if<tpl::RadioBoxData>(&unit.data)) {
    plan.className = "BUTTON";
    plan.style |= BS_AUTORADIOBUTTON | BS_MULTILINE | ButtonAlignment(r->hAlign, r->vAlign);
    if (r->pushLike) plan.style |= BS_PUSHLIKE;
    if (r->flat) plan.style |= BS_FLAT;
    if (r->textOnLeft) plan.style |= BS_LEFTTEXT;
    plan.text = r->caption.c_str();
    UseFont(unit, r->font);
    UseColours(unit, r->textColour, r->backColour);
  } else if (auto* c = std::get_if<tpl::ComboBoxData>(&unit.data)) {
    plan.className = "COMBOBOX";
    plan.style |= WS_VSCROLL;
    plan.style |= c->type == 0   ? CBS_SIMPLE
                  : c->type == 1 ? (CBS_DROPDOWN | CBS_AUTOHSCROLL)
                                 : CBS_DROPDOWNLIST;
    if (c->sorted) plan.style |= CBS_SORT;
    if (c->type != 0) plan.height += kDropDownListHeight;
    UseFont(unit, c->font);
    UseColours(unit, c->textColour, c->backColour);
  } else if (auto* p = std::get_if<tpl::DrawPanelData>(&unit.data)) {
    plan.className = kPanelClass;
    plan.style |= WS_CLIPCHILDREN;
    plan.exStyle |= WS_EX_CONTROLPARENT;  // Tab walks into the panel's controls
    plan.border = p->border;
    UseFont(unit, p->font);
    UseColours(unit, 0, p->backColour);
  } else {
    return false;  // a window unit among the controls
  }
  return true;
}

// What a control needs once its native window exists: items, selection, check state.
void FinishControl(LiveUnit& unit) {
  HWND h = unit.hwnd;
  if (auto* e = std::get_if<tpl::EditBoxData>(&unit.data)) {
    if (e->maxLength > 0) SendMessageA(h, EM_LIMITTEXT, static_cast<WPARAM>(e->maxLength), 0);
    if (e->inputMode == 2) SendMessageA(h, EM_SETPASSWORDCHAR, e->passwordChar, 0);
    SendMessageA(h, EM_SETSEL, static_cast<WPARAM>(e->selectionStart),
                 static_cast<LPARAM>(e->selectionStart + e->selectionLength));
  } else if (auto* r = std::get_if<tpl::RadioBoxData>(&unit.data)) {
    SendMessageA(h, BM_SETCHECK, r->checked == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
  } else if (auto* c = std::get_if<tpl::ComboBoxData>(&unit.data)) {
    const bool hasValues = c->itemValues.size() == 4 * c->items.size();
    for (std::size_t i = 0; i < c->items.size(); ++i) {
      const LRESULT at = SendMessageA(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(c->items[i].c_str()));
      if (hasValues && at >= 0) {
        const std::uint8_t* v = c->itemValues.data() + 4 * i;
        const DWORD value = v[0] | v[1] << 8 | v[2] << 16 | static_cast<DWORD>(v[3]) << 24;
        SendMessageA(h, CB_SETITEMDATA, static_cast<WPARAM>(at), value);
      }
    }
    if (c->type != 2) {
      if (c->maxLength > 0) SendMessageA(h, CB_LIMITTEXT, static_cast<WPARAM>(c->maxLength), 0);
      SetWindowTextA(h, c->content.c_str());
    }
    if (c->currentSelection >= 0) SendMessageA(h, CB_SETCURSEL, static_cast<WPARAM>(c->currentSelection), 0);
    if (c->extraItemHeight != 0) {
      const LRESULT item = SendMessageA(h, CB_GETITEMHEIGHT, 0, 0);
      if (item > 0) {
        SendMessageA(h, CB_SETITEMHEIGHT, 0, item + c->extraItemHeight);
        // Some combo boxes only honour this when owner-drawn; their list box takes it directly.
        COMBOBOXINFO info{};
        info.cbSize = sizeof info;
        if (SendMessageA(h, CB_GETITEMHEIGHT, 0, 0) != item + c->extraItemHeight &&
            GetComboBoxInfo(h, &info) && info.hwndList != nullptr) {
          SendMessageA(info.hwndList, LB_SETITEMHEIGHT, 0, item + c->extraItemHeight);
        }
      }
    }
  }
}

bool CreateControl(LiveWindow& window, LiveUnit& unit, int nativeId) {
  ControlPlan plan;
  if (!PlanControl(unit, plan)) return false;
  const tpl::UnitRecord& r = *unit.record;
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS | plan.style;
  if (r.flags & tpl::kUnitDisabled) style |= WS_DISABLED;
  if (r.flags & tpl::kUnitTabStop) style |= WS_TABSTOP;
  unit.hwnd = CreateWindowExA(plan.exStyle, plan.className, plan.text, style, r.left, r.top, r.width,
                              plan.height, window.hwnd,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(nativeId)), Instance(), &unit);
  if (unit.hwnd == nullptr) return false;
  SendMessageA(unit.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(unit.font), FALSE);
  if (plan.border >= 0) ApplyBorder(unit.hwnd, plan.border);
  FinishControl(unit);
  return true;
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
  int x = r.left, y = r.top;
  if (d->startPosition == 1) {
    x = (GetSystemMetrics(SM_CXSCREEN) - r.width) / 2;
    y = (GetSystemMetrics(SM_CYSCREEN) - r.height) / 2;
  }
  window.hwnd = CreateWindowExA(ex, kWindowClass, d->title.c_str(), style, x, y, r.width, r.height, nullptr,
                                nullptr, Instance(), &window);
  if (window.hwnd == nullptr) return false;
  unit.hwnd = window.hwnd;
  if (d->border == 0) {
    // No caption, frame or system menu: the window is all client area.
    const LONG cleared =
        GetWindowLongA(window.hwnd, GWL_STYLE) &
        ~(WS_BORDER | WS_DLGFRAME | WS_THICKFRAME | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX);
    SetWindowLongA(window.hwnd, GWL_STYLE, cleared);
    SetWindowPos(window.hwnd, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  }
  RECT outer{};
  GetWindowRect(window.hwnd, &outer);
  if (outer.right - outer.left != r.width || outer.bottom - outer.top != r.height) {
    SetWindowPos(window.hwnd, nullptr, x, y, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (!d->movable && d->systemMenu) RemoveMenu(GetSystemMenu(window.hwnd, FALSE), SC_MOVE, MF_BYCOMMAND);
  unit.font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  SendMessageA(window.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(unit.font), FALSE);
  UseColours(unit, 0, d->backColour);
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
bool PrepareUnits(LiveWindow& window, const LoadedTemplate& source) {
  const auto& records = source.window.units;
  if (records.empty() || records[0].kind != tpl::KindId::Window) return false;
  window.units.resize(records.size());
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
  for (std::size_t i = 1; i < records.size(); ++i) {
    const std::uint32_t parent = records[i].parent;
    if (parent == 0) continue;
    LiveUnit* p = window.FindUnit(parent);
    if (p == nullptr || p == &window.units[i] || p == &window.units[0]) return false;
  }
  return true;
}

bool BuildWindow(LiveWindow& window) {
  const std::size_t count = window.units.size();
  if (!RegisterWindowClasses() || !CreateWindowUnit(window, window.units[0])) return false;
  int nativeId = kFirstNativeId;
  for (std::size_t i = count - 1; i >= 1; --i, nativeId += kNativeIdStep) {
    if (!CreateControl(window, window.units[i], nativeId)) return false;
  }
  for (std::size_t i = 1; i < count; ++i) {
    LiveUnit& unit = window.units[i];
    if (unit.record->parent != 0) SetParent(unit.hwnd, window.FindUnit(unit.record->parent)->hwnd);
  }
  for (LiveUnit& unit : window.units) unit.cursorHandle = CursorFromData(unit.cursor);
  // Stacking: each control goes right below the previous record with the same parent.
  for (std::size_t i = 1; i < count; ++i) {
    HWND after = HWND_TOP;
    for (std::size_t j = i - 1; j >= 1; --j) {
      if (window.units[j].record->parent == window.units[i].record->parent) {
        after = window.units[j].hwnd;
        break;
      }
    }
    SetWindowPos(window.units[i].hwnd, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  for (std::size_t i = 1; i < count; ++i) {
    ShowWindow(window.units[i].hwnd, window.units[i].visible ? SW_SHOWNA : SW_HIDE);
  }
  ShowWindow(window.hwnd, ShowCommand(window.units[0].data));
  UpdateWindow(window.hwnd);
  return true;
}

}  // namespace

LiveUnit* LiveWindow::FindUnit(std::uint32_t id) {
  for (LiveUnit& unit : units) {
    if (unit.record->id == id) return &unit;
  }
  return nullptr;
}

LiveUnit* LiveWindow::FindUnit(HWND h) {
  if (h == nullptr) return nullptr;
  for (LiveUnit& unit : units) {
    if (unit.hwnd == h) return &unit;
  }
  return nullptr;
}

LiveWindow* FindLoadedWindow(WindowId id) {
  for (auto& window : LoadedWindows()) {
    if (window->windowId == id && window->hwnd != nullptr) return window.get();
  }
  return nullptr;
}

LiveWindow* FindLoadedWindowOf(HWND h) {
  if (h == nullptr) return nullptr;
  HWND root = GetAncestor(h, GA_ROOT);
  for (auto& window : LoadedWindows()) {
    if (window->hwnd != nullptr && window->hwnd == root) return window.get();
  }
  return nullptr;
}

LiveUnit* FindLiveUnit(HWND h) {
  for (auto& window : LoadedWindows()) {
    if (LiveUnit* unit = window->FindUnit(h)) return unit;
  }
  return nullptr;
}

bool AnyWindowAlive(const LiveWindow* except) {
  for (auto& window : LoadedWindows()) {
    if (window.get() != except && window->hwnd != nullptr && IsWindow(window->hwnd)) return true;
  }
  return false;
}

void ForgetWindow(LiveWindow* window) {
  auto& windows = LoadedWindows();
  for (auto it = windows.begin(); it != windows.end(); ++it) {
    if (it->get() == window) {
      windows.erase(it);
      return;
    }
  }
}

HCURSOR CursorFromData(const tpl::Bytes& data) {
  if (data.size() < 4) return nullptr;
  const DWORD id = data[0] | data[1] << 8 | data[2] << 16 | static_cast<DWORD>(data[3]) << 24;
  if (id == 0) return nullptr;
  return LoadCursorA(nullptr, MAKEINTRESOURCEA(id));
}

COLORREF ResolveColour(std::uint32_t colour) {
  return colour == tpl::kDefaultColour ? GetSysColor(COLOR_BTNFACE) : static_cast<COLORREF>(colour);
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
    LoadedWindows().push_back(std::make_unique<LiveWindow>());
    LiveWindow* window = LoadedWindows().back().get();
    window->windowId = id;
    window->source = source;
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
