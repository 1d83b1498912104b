/* A small library for the tests of library loading. It appends one line to "<its own path>.log" when
   it is loaded and when it is unloaded, telling an unload by FreeLibrary from one at process exit.
   Copied into a test folder under a system library's name it shows whether a planted library was
   loaded; loaded by its full path it shows when the runtime frees it. Its exports are harmless
   stand-ins (stdcall, undecorated names; ZvMarkerPing also has the fixed ordinal 7). */
#include <windows.h>

static void AppendLine(HMODULE self, const char* line) {
  char path[MAX_PATH + 8];
  DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  lstrcpyA(path + length, ".log");
  HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
  if (log == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(log, line, (DWORD)lstrlenA(line), &written, NULL);
  CloseHandle(log);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) AppendLine(instance, "attach\n");
  if (reason == DLL_PROCESS_DETACH) AppendLine(instance, reserved == NULL ? "detach by FreeLibrary\n" : "detach at exit\n");
  return TRUE;
}

DWORD WINAPI ZvMarkerPing(void) { return 0x5A17; }

/* Stand-ins for the path functions, so that a process that did load a planted copy carries on. */
LPSTR WINAPI PathFindFileNameA(LPCSTR path) {
  LPCSTR name = path;
  for (LPCSTR p = path; *p != '\0'; ++p) {
    if (*p == '\\') name = p + 1;
  }
  return (LPSTR)name;
}

LPSTR WINAPI PathFindExtensionA(LPCSTR path) {
  LPCSTR dot = NULL;
  LPCSTR p = path;
  for (; *p != '\0'; ++p) {
    if (*p == '.') dot = p;
    if (*p == '\\') dot = NULL;
  }
  return (LPSTR)(dot != NULL ? dot : p);
}
