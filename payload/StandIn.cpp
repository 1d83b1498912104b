// A stand-in for one program of the suite, used where the suite's own programs are not at hand: a
// small window whose class and title are the program's name, running until it is closed or
// terminated, exit code 0. The build makes one executable per catalogue name from this source, with
// ZV_STANDIN_NAME defined as the name ("zvmain", ...). With ZV_STANDIN_GREETS defined (the main
// program) it also greets the registered user: the `nicheng` value of section `yonghuzu`, read from
// C:\zor\vik\zvconf.ini with GetPrivateProfileStringA, as the suite's programs read it.
//
// Command line: empty in normal use. Tests may pass one INI file path (quoted or not), which is read
// instead of C:\zor\vik\zvconf.ini, so that they never touch the install directory.
#include <windows.h>

#include "payload/StandIn.h"

#ifndef ZV_STANDIN_NAME
#error "ZV_STANDIN_NAME must name the program, e.g. \"zvmain\""
#endif

namespace {

constexpr char kName[] = ZV_STANDIN_NAME;
constexpr int kWidth = 280;
constexpr int kHeight = 120;

#ifdef ZV_STANDIN_GREETS
// The INI file named on the command line, without surrounding quotes and blanks, or the suite's own.
void ConfigFilePath(const char* commandLine, char* out, int capacity) {
  while (*commandLine == ' ' || *commandLine == '\t') ++commandLine;
  if (*commandLine == '\0') {
    lstrcpynA(out, zv::standin::kConfigFile, capacity);
    return;
  }
  char end = ' ';
  if (*commandLine == '"') {
    end = '"';
    ++commandLine;
  }
  int n = 0;
  while (n + 1 < capacity && commandLine[n] != '\0' && commandLine[n] != end) {
    out[n] = commandLine[n];
    ++n;
  }
  out[n] = '\0';
}

// "欢迎你，<nickname>！", or the empty text when no nickname is recorded.
void Greeting(const char* configFile, char* out, int capacity) {
  char nickname[256];
  GetPrivateProfileStringA(zv::standin::kUserSection, zv::standin::kNicknameKey, "", nickname,
                           sizeof nickname, configFile);
  out[0] = '\0';
  if (nickname[0] == '\0') return;
  lstrcpynA(out, zv::standin::kGreetingPrefix, capacity);
  lstrcatA(out, nickname);
  lstrcatA(out, zv::standin::kGreetingSuffix);
}

char g_greeting[sizeof zv::standin::kGreetingPrefix + 256 + sizeof zv::standin::kGreetingSuffix];
#endif

// A centred one-line label across the window's client area, in the GUI font.
void AddLabel(HWND parent, const char* text, int id, int top) {
  RECT client;
  GetClientRect(parent, &client);
  HWND label = CreateWindowExA(0, "STATIC", text, WS_CHILD | WS_VISIBLE | SS_CENTER, 0, top, client.right, 24,
                               parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), nullptr, nullptr);
  SendMessageA(label, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      AddLabel(window, kName, zv::standin::kNameLabelId, 16);
#ifdef ZV_STANDIN_GREETS
      AddLabel(window, g_greeting, zv::standin::kGreetingLabelId, 48);
#endif
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
#ifdef ZV_STANDIN_GREETS
  char configFile[MAX_PATH];
  ConfigFilePath(commandLine, configFile, sizeof configFile);
  Greeting(configFile, g_greeting, sizeof g_greeting);
#else
  (void)commandLine;
#endif

  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kName;
  if (!RegisterClassA(&windowClass)) return 1;

  HWND window =
      CreateWindowExA(0, kName, kName, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                      CW_USEDEFAULT, CW_USEDEFAULT, kWidth, kHeight, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, showCommand);
  UpdateWindow(window);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
}
