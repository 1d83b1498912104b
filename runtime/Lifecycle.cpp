// Runtime start-up and shutdown on Windows.
#include "runtime/Lifecycle.h"

#include <windows.h>

#include "runtime/Heap.h"

namespace zv {
namespace {
ExitRoutine g_exitRoutine = nullptr;
DWORD g_guiThreadId = 0;
bool g_ending = false;
// Database, media-player and network support: each answers whether its extension is present.
ExtensionResolver g_extensionHooks[3] = {};

// The whole program image counts as constant data: releasing a pointer into it does nothing.
void RegisterImageAsConstant() {
  auto* base = reinterpret_cast<const unsigned char*>(GetModuleHandleA(nullptr));
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  heap::RegisterConstantRange(base, base + nt->OptionalHeader.SizeOfImage);
}
}  // namespace

void InitRuntime() {
  RegisterImageAsConstant();
  g_guiThreadId = GetCurrentThreadId();
}

void BindExtensionHooks(ExtensionResolver resolver) {
  for (ExtensionResolver& hook : g_extensionHooks) hook = resolver;
}

void SetExitRoutine(ExitRoutine routine) {
  g_exitRoutine = routine;
}

void ShutdownRuntime() {
  g_ending = true;
  if (ExitRoutine routine = g_exitRoutine) {
    g_exitRoutine = nullptr;
    routine();
  }
}

void EndProgram(int exitCode) {
  if (!g_ending || GetCurrentThreadId() == g_guiThreadId) ShutdownRuntime();
  ExitProcess(static_cast<UINT>(exitCode));
}

}  // namespace zv
