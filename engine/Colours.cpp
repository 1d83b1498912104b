// The colours the engine draws with: the template's, or in the system's high-contrast mode the system's
// colour pairs and a line on the window's edge; followed when the mode or the system's colours change.
#include "engine/LiveWindow.h"

namespace zv::engine {

COLORREF ResolveColour(std::uint32_t colour) {
  return colour == tpl::kDefaultColour ? GetSysColor(COLOR_BTNFACE) : static_cast<COLORREF>(colour);
}

bool HighContrastOn() {
  HIGHCONTRASTW mode{};
  mode.cbSize = sizeof mode;
  return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof mode, &mode, 0) &&
         (mode.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

void ApplyColours(const LiveWindow& window, LiveUnit& unit) {
  if (!unit.hasColours) return;
  if (window.highContrast) {
    // The template's colours are chosen for the usual scheme (black captions on the button face);
    // a high-contrast scheme can turn that face black. The system's pairs are readable in any scheme.
    const tpl::KindId kind = unit.kind();
    const bool onWindow = kind == tpl::KindId::Window || kind == tpl::KindId::TransLabel ||
                          kind == tpl::KindId::EditBox || kind == tpl::KindId::ComboBox;
    unit.textColour = GetSysColor(onWindow ? COLOR_WINDOWTEXT : COLOR_BTNTEXT);
    unit.backColour = GetSysColor(onWindow ? COLOR_WINDOW : COLOR_BTNFACE);
  } else {
    unit.textColour = ResolveColour(unit.storedText);
    unit.backColour = ResolveColour(unit.storedBack);
  }
  unit.backBrush.reset(CreateSolidBrush(unit.backColour));
}

void DrawContrastEdge(const LiveWindow& window, HWND h, HDC dc) {
  if (!window.highContrast || window.hwnd == nullptr) return;
  RECT outer, mine;
  GetClientRect(window.hwnd, &outer);
  GetClientRect(h, &mine);
  RECT placed = mine;  // where `h`'s client area lies in the window's
  MapWindowPoints(h, window.hwnd, reinterpret_cast<POINT*>(&placed), 2);
  const HBRUSH text = GetSysColorBrush(COLOR_WINDOWTEXT);
  const RECT sides[] = {{mine.left, mine.top, mine.left + 1, mine.bottom},
                        {mine.right - 1, mine.top, mine.right, mine.bottom},
                        {mine.left, mine.top, mine.right, mine.top + 1},
                        {mine.left, mine.bottom - 1, mine.right, mine.bottom}};
  const bool atEdge[] = {placed.left <= outer.left, placed.right >= outer.right, placed.top <= outer.top,
                         placed.bottom >= outer.bottom};
  for (int i = 0; i < 4; ++i) {
    if (atEdge[i]) FillRect(dc, &sides[i], text);
  }
}

void FollowSystemColours(LiveWindow& window) {
  window.highContrast = HighContrastOn();
  for (LiveUnit& unit : window.units) ApplyColours(window, unit);
  // The system's controls draw with the system's colours and learn of a change from their parent.
  for (const LiveUnit& unit : window.units) {
    if (unit.hwnd != nullptr && unit.hwnd != window.hwnd) SendMessageW(unit.hwnd, WM_SYSCOLORCHANGE, 0, 0);
  }
  RedrawWindow(window.hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

}  // namespace zv::engine
