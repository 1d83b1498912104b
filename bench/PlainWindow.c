/* The baseline of start-up: the least that a Windows program can do to show a window like the
   wizard's. One class, one borderless 360 x 244 window centred on the screen, shown, then the message
   loop. It ends when its window is destroyed. */
#include <windows.h>

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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
