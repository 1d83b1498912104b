// Processes, message boxes, waiting and the program's identity on the wide Win32 calls.
#include "runtime/ProcessOperations.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

#include "runtime/Handles.h"
#include "runtime/TextOperations.h"
#include "runtime/WideText.h"

namespace zv {
namespace {

// The longest path the system gives (the Win32 limit of 32,767 characters and the NUL).
constexpr std::size_t kModulePathSize = 32768;
constexpr DWORD kInputIdleTimeout = 1000;

// The program's folder and file name in UTF-16, as the system gives them: a folder whose name the
// system's ANSI code page (or GBK) cannot hold still serves as the current folder and library base.
wchar_t g_programDirectory[kModulePathSize] = {};
wchar_t g_programFileName[kModulePathSize] = {};

// The show command for each window mode 1..6. Mode 6 is SW_MINIMIZE (6), not SW_SHOWMINNOACTIVE.
constexpr WORD kShowCommands[] = {SW_HIDE,          SW_SHOWNORMAL,     SW_SHOWMINIMIZED,
                                  SW_SHOWMAXIMIZED, SW_SHOWNOACTIVATE, SW_MINIMIZE};

WORD ShowCommandFor(OptionalArgument<std::int32_t> mode) {
  std::int32_t m = mode.IsGiven() ? mode.value : kRunNormal;
  if (m < kRunHidden) m = kRunHidden;
  if (m > kRunMinimisedNoActivate) m = kRunMinimisedNoActivate;
  return kShowCommands[m - 1];
}

std::int32_t ButtonIndex(int result) {
  switch (result) {
    case IDOK:
      return 0;
    case IDCANCEL:
      return 1;
    case IDABORT:
      return 2;
    case IDRETRY:
      return 3;
    case IDIGNORE:
      return 4;
    case IDYES:
      return 5;
    case IDNO:
      return 6;
    default:
      return 0;
  }
}

// The message of a box: numbers, bools and dates as ValueToText writes them, other values empty.
Text MessageText(const Value& message) {
  switch (message.type) {
    case TypeFlag::Byte:
    case TypeFlag::Short:
    case TypeFlag::Int:
    case TypeFlag::Long:
    case TypeFlag::Float:
    case TypeFlag::Double:
    case TypeFlag::Bool:
    case TypeFlag::Date:
      return ValueToText(message);
    default:
      return Text();
  }
}

}  // namespace

bool RunProgram(TextArg commandLine, bool wait, OptionalArgument<std::int32_t> mode, const char* folder) {
  STARTUPINFOW startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = ShowCommandFor(mode);

  // CreateProcessW may write into its command line, so it gets a copy of its own.
  WideText line = ToWide(commandLine);
  const WideText workingFolder = ToWide(folder);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, line.get(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder != nullptr ? workingFolder.c_str() : nullptr, &startup, &info)) {
    return false;
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  if (wait) {
    WaitForSingleObject(process.get(), INFINITE);
  } else {
    WaitForInputIdle(process.get(), kInputIdleTimeout);
  }
  return true;
}

std::int32_t ShowMessage(const Value& message, std::int32_t flags, OptionalArgument<TextArg> caption) {
  Text converted;
  const char* text = "";
  if (message.type == TypeFlag::Text) {
    text = TextArg(message.AsPointer<const char>()).c_str();
  } else {
    converted = MessageText(message);
    text = converted.c_str();
  }
  UINT type = static_cast<UINT>(flags);
  if ((type & MB_SYSTEMMODAL) == 0) type |= MB_TASKMODAL;
  const char* title = caption.IsGiven() ? caption.value.c_str() : "信息：";
  // Keys typed while the program was busy (an installation runs on the message loop's thread) are
  // still queued, and the box would take them as its own: a queued Enter would dismiss it unread.
  MSG typed;
  while (PeekMessageW(&typed, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
  }
  // Through the wide entry point, so that the GBK texts read right whatever the system's code page.
  return ButtonIndex(MessageBoxW(nullptr, ToWide(text).c_str(), ToWide(title).c_str(), type));
}

std::int32_t ShowMessage(TextArg message, std::int32_t flags, OptionalArgument<TextArg> caption) {
  return ShowMessage(Value::Text(message.c_str()), flags, caption);
}

void Delay(std::int32_t milliseconds) {
  Sleep(milliseconds < 0 ? 0 : static_cast<DWORD>(milliseconds));
}

Text GetProgramFileName() {
  return ToGbk(g_programFileName);
}

const wchar_t* ProgramDirectory() {
  return g_programDirectory;
}

void RecordProgramIdentity() {
  const DWORD length = GetModuleFileNameW(nullptr, g_programFileName, kModulePathSize);
  g_programFileName[length < kModulePathSize ? length : kModulePathSize - 1] = L'\0';
  wchar_t* cut = std::wcsrchr(g_programFileName, L'\\');
  if (cut == nullptr) {
    g_programDirectory[0] = L'\0';
  } else {
    *cut = L'\0';
    std::wcscpy(g_programDirectory, g_programFileName);
    std::wmemmove(g_programFileName, cut + 1, std::wcslen(cut + 1) + 1);
  }
  SetCurrentDirectoryW(g_programDirectory);
}

}  // namespace zv
