/* The baselines of start-up, from one source:
   - zvbench_plain_window: the least that a Windows program can do to show a window like the wizard's.
     One class, one borderless 360 x 244 window centred on the screen, shown, then the message loop.
   - zvbench_text_window (ZV_BENCH_TEXT): the fair limit. The same window also draws one line of
     Chinese text in the 宋体 face, so it pays, as the wizard does, for the font system's first use:
     the face is realised and the line measured before the window is shown, and the line is drawn when
     the window paints. Narrow literals are GBK (the ANSI code page 936).
   Each ends when its window is destroyed. */
#include <windows.h>

#ifdef ZV_BENCH_TEXT
static const char kLine[] = "请选择你要执行的项目 然后点击 下一步";
static HFONT font;

static void PaintLine(HWND window) {
  PAINTSTRUCT paint;
  RECT client;
  HDC dc = BeginPaint(window, &paint);
  HGDIOBJ old = SelectObject(dc, font);
  GetClientRect(window, &client);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 0, 255));
  DrawTextA(dc, kLine, -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SelectObject(dc, old);
  EndPaint(window, &paint);
}

/* The face of the wizard's first-page label: height -14, GB2312, stroke precision, draft quality. */
static BOOL RealiseFont(void) {
  HDC screen;
  HGDIOBJ old;
  SIZE extent = {0, 0};
  font = CreateFontA(-14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_STROKE_PRECIS,
                     CLIP_STROKE_PRECIS, DRAFT_QUALITY, VARIABLE_PITCH, "宋体");
  screen = GetDC(NULL);
  old = SelectObject(screen, font);
  GetTextExtentPoint32A(screen, kLine, lstrlenA(kLine), &extent);
  SelectObject(screen, old);
  ReleaseDC(NULL, screen);
  return extent.cx > 0;
}
#endif

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
#ifdef ZV_BENCH_TEXT
  if (message == WM_PAINT) {
    PaintLine(window);
    return 0;
  }
#endif
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  WNDCLASSA windowClass;
  HWND window;
  MSG message;
  (void)previous;
  (void)commandLine;
  (void)show;
#ifdef ZV_BENCH_TEXT
  if (!RealiseFont()) return 1;
#endif
  ZeroMemory(&windowClass, sizeof windowClass);
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
  windowClass.hbrBackground = CreateSolidBrush(RGB(128, 0, 0));
  windowClass.lpszClassName = "ZvPlainWindow";
  RegisterClassA(&windowClass);
  window = CreateWindowExA(0, "ZvPlainWindow", "", WS_POPUP | WS_CLIPCHILDREN,
                           (GetSystemMetrics(SM_CXSCREEN) - 360) / 2, (GetSystemMetrics(SM_CYSCREEN) - 244) / 2,
                           360, 244, NULL, NULL, instance, NULL);
  if (window == NULL) return 1;
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  while (GetMessageA(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return (int)message.wParam;
}
