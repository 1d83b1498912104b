/* The fair limit of start-up: the plain window of PlainWindow.c that also draws one line of Chinese
   text in the 宋体 face. So it pays, as the wizard does, for the font system's first use: the face is
   looked up and realised, and its Chinese glyphs are measured, before the window is shown, and the
   line is drawn when the window paints. Narrow literals are GBK (the ANSI code page 936). */
#include <windows.h>

static const char kLine[] = "请选择你要执行的项目 然后点击 下一步";
static HFONT font;

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
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
    return 0;
  }
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
  HDC screen;
  HGDIOBJ old;
  SIZE extent;
  (void)previous;
  (void)commandLine;
  (void)show;
  font = CreateFontA(-14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET, OUT_STROKE_PRECIS,
                     CLIP_STROKE_PRECIS, DRAFT_QUALITY, VARIABLE_PITCH, "宋体");
  screen = GetDC(NULL);
  old = SelectObject(screen, font);
  GetTextExtentPoint32A(screen, kLine, lstrlenA(kLine), &extent);
  SelectObject(screen, old);
  ReleaseDC(NULL, screen);
  ZeroMemory(&windowClass, sizeof windowClass);
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
  windowClass.hbrBackground = CreateSolidBrush(RGB(128, 0, 0));
  windowClass.lpszClassName = "ZvTextWindow";
  RegisterClassA(&windowClass);
  window = CreateWindowExA(0, "ZvTextWindow", "", WS_POPUP | WS_CLIPCHILDREN,
                           (GetSystemMetrics(SM_CXSCREEN) - 360) / 2, (GetSystemMetrics(SM_CYSCREEN) - 244) / 2,
                           360, 244, NULL, NULL, instance, NULL);
  if (window == NULL || extent.cx == 0) return 1;
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  while (GetMessageA(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  DeleteObject(font);
  return (int)message.wParam;
}
