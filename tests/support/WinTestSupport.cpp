#include "tests/support/WinTestSupport.h"

#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace zv::test {

std::string MakeTestRoot(const std::string& name) {
  CreateDirectoryA("C:\\zvtest", nullptr);
  std::string root = "C:\\zvtest\\" + name + "_" + std::to_string(GetCurrentProcessId());
  RemoveTree(root);
  CreateDirectoryA(root.c_str(), nullptr);
  return root;
}

void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0) continue;
      std::string child = path + "\\" + data.cFileName;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A link: removed itself, never followed into what it points at.
        if (!RemoveDirectoryA(child.c_str())) DeleteFileA(child.c_str());
        continue;
      }
      SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        DeleteFileA(child.c_str());
      }
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  RemoveDirectoryA(path.c_str());
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    if (std::strcmp(data.cFileName, ".") != 0 && std::strcmp(data.cFileName, "..") != 0) {
      names.push_back(data.cFileName);
    }
  } while (FindNextFileA(find, &data));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadWholeFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string content;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read != 0) content.append(buffer, read);
  CloseHandle(file);
  return content;
}

bool PathExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  CloseHandle(file);
  return ok;
}

std::string OwnProgramPath() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  return std::string(path, n);
}

std::string BesideProgram(const std::string& name) {
  const std::string own = OwnProgramPath();
  return own.substr(0, own.find_last_of('\\') + 1) + name;
}

std::string MarkerLog(const std::string& libraryCopy) { return ReadWholeFile(libraryCopy + ".log"); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : process_(other.process_), pid_(other.pid_) {
  other.process_ = nullptr;
  other.pid_ = 0;
}

ChildProcess::~ChildProcess() {
  if (process_ == nullptr) return;
  if (IsRunning()) Terminate();
  CloseHandle(process_);
}

bool ChildProcess::Start(const std::string& commandLine, const std::string& workingDirectory) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  pid_ = info.dwProcessId;
  return true;
}

bool ChildProcess::StartScenario(const std::string& scenario, const std::string& extraArguments) {
  // Appended piece by piece: GCC 12 misreads `"literal" + std::string&&` as an overlapping copy.
  std::string line = "\"";
  line += OwnProgramPath();
  line += "\" --zv-child=";
  line += scenario;
  if (!extraArguments.empty()) {
    line += ' ';
    line += extraArguments;
  }
  return Start(line);
}

DWORD ChildProcess::Wait(DWORD milliseconds) {
  if (process_ == nullptr) return STILL_ACTIVE;
  if (WaitForSingleObject(process_, milliseconds) != WAIT_OBJECT_0) return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process_, &code);
  return code;
}

bool ChildProcess::IsRunning() const {
  return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

void ChildProcess::Terminate() {
  if (process_ == nullptr) return;
  TerminateProcess(process_, 0xDEAD);
  WaitForSingleObject(process_, 5000);
}

namespace {
struct EnumContext {
  DWORD processId;
  const char* className;
  std::vector<HWND>* found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
  auto* context = reinterpret_cast<EnumContext*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != context->processId || !IsWindowVisible(window)) return TRUE;
  if (context->className[0] != '\0') {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    if (std::strcmp(name, context->className) != 0) return TRUE;
  }
  context->found->push_back(window);
  return TRUE;
}

std::string WindowText(HWND window) {
  char text[4096] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

BOOL CALLBACK CollectButton(HWND child, LPARAM param) {
  char name[32] = {};
  GetClassNameA(child, name, sizeof name);
  auto* box = reinterpret_cast<MessageBox*>(param);
  if (_stricmp(name, "Button") == 0) {
    box->buttons.push_back(WindowText(child));
    box->buttonIds.push_back(GetDlgCtrlID(child));
  }
  // The box keeps its icon control even without an icon; only then does the control hold one.
  if (_stricmp(name, "Static") == 0 && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
      SendMessageA(child, STM_GETICON, 0, 0) != 0) {
    box->hasIcon = true;
  }
  return TRUE;
}
}  // namespace

std::vector<HWND> TopLevelWindows(DWORD processId, const char* className) {
  std::vector<HWND> found;
  EnumContext context{processId, className, &found};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&context));
  return found;
}

MessageBox WaitForMessageBox(DWORD processId, DWORD milliseconds) {
  MessageBox box;
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < milliseconds) {
    std::vector<HWND> boxes = TopLevelWindows(processId, "#32770");
    if (!boxes.empty()) {
      HWND window = boxes.front();
      HWND textControl = GetDlgItem(window, 0xFFFF);
      std::string text = textControl ? WindowText(textControl) : std::string();
      if (!text.empty() || GetTickCount() - start > milliseconds / 2) {
        box.window = window;
        box.caption = WindowText(window);
        box.text = text;
        box.style = GetWindowLongA(window, GWL_STYLE);
        box.exStyle = GetWindowLongA(window, GWL_EXSTYLE);
        box.topmost = (box.exStyle & WS_EX_TOPMOST) != 0;
        box.textStyle = textControl ? GetWindowLongA(textControl, GWL_STYLE) : 0;
        EnumChildWindows(window, CollectButton, reinterpret_cast<LPARAM>(&box));
        return box;
      }
    }
    Sleep(50);
  }
  return box;
}

void PressOk(const MessageBox& box) {
  if (box.window == nullptr) return;
  HWND ok = GetDlgItem(box.window, IDOK);
  if (ok != nullptr) {
    PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
  } else {
    PostMessageA(box.window, WM_CLOSE, 0, 0);
  }
  // The box closes in its own time. Until it has, a message sent to the program's windows would be
  // handled inside the box's modal loop, so whatever the test does next waits for it to go.
  for (int i = 0; i < 400 && IsWindow(box.window); ++i) Sleep(25);
}

void PressButton(const MessageBox& box, int id) {
  if (box.window == nullptr) return;
  HWND button = GetDlgItem(box.window, id);
  if (button != nullptr) {
    PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  }
}

namespace {
std::map<std::string, ScenarioFunction>& Scenarios() {
  static std::map<std::string, ScenarioFunction> scenarios;
  return scenarios;
}
}  // namespace

bool RegisterScenario(const char* name, ScenarioFunction function) {
  Scenarios()[name] = function;
  return true;
}

bool RunScenarioFromCommandLine(int argc, char** argv) {
  const char prefix[] = "--zv-child=";
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], prefix, sizeof prefix - 1) != 0) continue;
    auto it = Scenarios().find(argv[i] + sizeof prefix - 1);
    if (it == Scenarios().end()) ExitProcess(3);
    it->second(argc, argv);
    return true;
  }
  return false;
}

std::string OwnUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
  std::vector<unsigned char> buffer(512);
  DWORD size = 0;
  std::string result;
  if (GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size)) {
    char* text = nullptr;
    if (ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) result = text;
    LocalFree(text);
  }
  CloseHandle(token);
  return result;
}

}  // namespace zv::test
