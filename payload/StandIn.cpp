// A stand-in for one program of the suite, used where the suite's own programs are not at hand: a
// small window whose class and title are the program's name, running until it is closed or
// terminated, exit code 0. The build makes one executable per catalogue name from this source, with
// ZV_STANDIN_NAME defined as the name ("zvmain", ...). With ZV_STANDIN_GREETS defined (the main
// program) it also greets the registered user: the `nicheng` value of section `yonghuzu` in
// C:\zor\vik\zvconf.ini. That file is GBK on every system, so the stand-in reads its bytes itself (the
// profile calls would decode them by the system's ANSI code page, GBK only on a Chinese system) and
// shows its texts through the wide calls, converted from GBK (code page 936) in one place.
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

// Whether bytes [first, last) are `name`, ASCII letters in any case (as the profile calls compare
// section and key names).
bool IsName(const char* first, const char* last, const char* name) {
  for (; first < last && *name != '\0'; ++first, ++name) {
    if ((*first | 0x20) != (*name | 0x20)) return false;
  }
  return first == last && *name == '\0';
}

// The nickname's GBK bytes ("" when the file, the section or the key is missing). The line breaks,
// "[", "]" and "=" are never the second byte of a GBK character, so the bytes can be split on them.
void ReadNickname(const char* configFile, char* out, int capacity) {
  out[0] = '\0';
  HANDLE handle = CreateFileA(configFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return;
  DWORD size = GetFileSize(handle, nullptr);
  char* file = size <= (1u << 20) ? static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size + 1)) : nullptr;
  const BOOL read = file != nullptr && ReadFile(handle, file, size, &size, nullptr);
  CloseHandle(handle);
  if (!read) {
    if (file != nullptr) HeapFree(GetProcessHeap(), 0, file);
    return;
  }
  bool inSection = false;
  for (const char *line = file, *end = file + size; line < end;) {
    const char* next = line;
    while (next < end && *next != '\n') ++next;
    const char* last = next;  // the line without the blanks around it and its '\r'
    while (last > line && (last[-1] == '\r' || last[-1] == ' ' || last[-1] == '\t')) --last;
    while (line < last && (*line == ' ' || *line == '\t')) ++line;
    if (line < last && *line == '[') {
      const char* close = line;
      while (close < last && *close != ']') ++close;
      inSection = IsName(line + 1, close, zv::standin::kUserSection);
    } else if (inSection) {
      const char* equals = line;
      while (equals < last && *equals != '=') ++equals;
      const char* keyEnd = equals;
      while (keyEnd > line && (keyEnd[-1] == ' ' || keyEnd[-1] == '\t')) --keyEnd;
      if (equals < last && IsName(line, keyEnd, zv::standin::kNicknameKey)) {
        const char* value = equals + 1;
        while (value < last && (*value == ' ' || *value == '\t')) ++value;
        int n = 0;
        for (; value < last && n + 1 < capacity; ++value) out[n++] = *value;
        out[n] = '\0';
        break;
      }
    }
    line = next + 1;
  }
  HeapFree(GetProcessHeap(), 0, file);
}

// "欢迎你，<nickname>！", or the empty text when no nickname is recorded.
void Greeting(const char* configFile, char* out, int capacity) {
  char nickname[256];
  ReadNickname(configFile, nickname, sizeof nickname);
  out[0] = '\0';
  if (nickname[0] == '\0') return;
  lstrcpynA(out, zv::standin::kGreetingPrefix, capacity);
  lstrcatA(out, nickname);
  lstrcatA(out, zv::standin::kGreetingSuffix);
}

char g_greeting[sizeof zv::standin::kGreetingPrefix + 256 + sizeof zv::standin::kGreetingSuffix];
#endif

// A centred one-line label across the window's client area, in the GUI font, showing GBK `text`.
// The one place where the stand-in's text meets Windows: converted from GBK, shown through the W call.
void AddLabel(HWND parent, const char* text, int id, int top) {
  wchar_t wide[512];
  const int n = MultiByteToWideChar(936, 0, text, -1, wide, sizeof wide / sizeof wide[0]);
  if (n == 0) wide[0] = L'\0';
  RECT client;
  GetClientRect(parent, &client);
  HWND label = CreateWindowExW(0, L"STATIC", wide, WS_CHILD | WS_VISIBLE | SS_CENTER, 0, top, client.right, 24,
                               parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), nullptr, nullptr);
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
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
