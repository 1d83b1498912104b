// Runtime start-up and shutdown on Windows.
#include "runtime/Lifecycle.h"

#include <windows.h>
#include <ole2.h>

#include "runtime/DeclaredCalls.h"
#include "runtime/Handles.h"
#include "runtime/Heap.h"
#include "runtime/ProcessOperations.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace zv {
namespace {
// Sent to the hidden message window by EndProgram on another thread: wParam is the exit code.
constexpr UINT kEndProgramMessage = 0x83E7;
constexpr wchar_t kMessageWindowClass[] = L"ZvRuntimeMessageWindow";

ExitRoutine g_exitRoutine = nullptr;
DWORD g_guiThreadId = 0;
volatile LONG g_ending = 0;
bool g_oleInitialized = false;
// A plain handle, not an owner: a global owner would be destroyed again during the process's own
// exit, after the window system may be gone. ShutdownRuntime hands it to an owner instead.
HWND g_messageWindow = nullptr;
// Database, media-player and network support: each answers whether its extension is present.
ExtensionResolver g_extensionHooks[3] = {};

// The whole program image counts as constant data: releasing a pointer into it does nothing.
void RegisterImageAsConstant() {
  auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  heap::RegisterConstantRange(base, base + nt->OptionalHeader.SizeOfImage);
}

// Libraries that the system or COM loads for us later come from the system directory only, where
// the system offers that (SetDefaultDllDirectories appeared with an update of Windows 7).
void LimitLibrarySearchToSystem() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto set = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (set != nullptr) set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

LRESULT CALLBACK MessageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kEndProgramMessage) EndProgram(static_cast<int>(wParam));
  return DefWindowProcW(window, message, wParam, lParam);
}

void CreateMessageWindow() {
  if (g_messageWindow != nullptr) return;
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = MessageWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kMessageWindowClass;
  RegisterClassW(&windowClass);
  g_messageWindow = CreateWindowExW(0, kMessageWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    windowClass.hInstance, nullptr);
}
}  // namespace

void InitRuntime() {
  InitRuntime(ProgramDeclaredCommands());
}

void InitRuntime(const DeclaredCommandTable& commands) {
  LimitLibrarySearchToSystem();
  if (!g_oleInitialized) g_oleInitialized = SUCCEEDED(OleInitialize(nullptr));
  RecordProgramIdentity();
  g_guiThreadId = GetCurrentThreadId();
  RegisterImageAsConstant();
  RegisterDeclaredCommands(commands);
  CreateMessageWindow();
}

void BindExtensionHooks(ExtensionResolver resolver) {
  for (ExtensionResolver& hook : g_extensionHooks) hook = resolver;
}

void SetExitRoutine(ExitRoutine routine) {
  g_exitRoutine = routine;
}

void ShutdownRuntime() {
  InterlockedExchange(&g_ending, 1);
  if (ExitRoutine routine = g_exitRoutine) {
    g_exitRoutine = nullptr;
    routine();
  }
  ReleaseDeclaredLibraries();
  UniqueWindow window(g_messageWindow);
  g_messageWindow = nullptr;
  window.reset();
  if (g_oleInitialized) {
    g_oleInitialized = false;
    OleUninitialize();
  }
}

void EndProgram(int exitCode) {
  const bool onGuiThread = g_guiThreadId == 0 || GetCurrentThreadId() == g_guiThreadId;
  if (onGuiThread) {
    ShutdownRuntime();
    ExitProcess(static_cast<UINT>(exitCode));
  }
  // The GUI thread owns the runtime's resources, so it shuts down itself; this thread only waits for
  // that, or ends the process when nothing else is ending it.
  if (HWND window = g_messageWindow)
    SendMessageW(window, kEndProgramMessage, static_cast<WPARAM>(exitCode), 0);
  if (InterlockedCompareExchange(&g_ending, 0, 0) == 0) ExitProcess(static_cast<UINT>(exitCode));
  for (;;) Sleep(INFINITE);
}

}  // namespace zv
