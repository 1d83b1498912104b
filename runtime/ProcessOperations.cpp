// Processes, message boxes, waiting and the program's identity on the ANSI Win32 calls.
#include "runtime/ProcessOperations.h"

#include <windows.h>

#include <cstring>

#include "runtime/Handles.h"
#include "runtime/TextOperations.h"
#include "runtime/WideText.h"

namespace zv {
namespace {

constexpr std::size_t kModulePathSize = 260;
constexpr DWORD kInputIdleTimeout = 1000;

char g_programDirectory[kModulePathSize] = {};
char g_programFileName[kModulePathSize] = {};

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

bool RunProgram(TextArg commandLine, bool wait, OptionalArgument<std::int32_t> mode) {
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = ShowCommandFor(mode);

  // CreateProcessA may write into its command line, so it gets a copy of its own.
  Text line = Text::Allocate(commandLine.length());
  std::memcpy(line.get(), commandLine.c_str(), commandLine.length());
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, line.get(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
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
  return Text::Copy(TextArg(g_programFileName));
}

const char* ProgramDirectory() {
  return g_programDirectory;
}

void RecordProgramIdentity() {
  char path[kModulePathSize] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  path[sizeof path - 1] = '\0';
  // The last backslash that is not the trail byte of a double-byte character.
  char* cut = nullptr;
  for (char* p = path; *p != '\0'; p += CharacterLength(p)) {
    if (*p == '\\') cut = p;
  }
  if (cut == nullptr) {
    g_programDirectory[0] = '\0';
    std::memcpy(g_programFileName, path, sizeof path);
  } else {
    *cut = '\0';
    std::memcpy(g_programDirectory, path, static_cast<std::size_t>(cut - path) + 1);
    std::strcpy(g_programFileName, cut + 1);
  }
  SetCurrentDirectoryA(g_programDirectory);
}

}  // namespace zv
