// Helpers for Windows tests under Wine: fresh test folders, child processes (another program, or this
// test program re-run as a named child scenario), and reading and closing the message boxes that a
// process shows, as a person would: by their caption, text, icon and buttons.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zv::test {

// A fresh, empty folder C:\zvtest\<name>_<pid>; removed first if it exists. Never the install path.
std::string MakeTestRoot(const std::string& name);
// Deletes a folder tree (best effort).
void RemoveTree(const std::string& path);
// The names in a folder (files and folders, without "." and ".."), sorted, so that a leftover file
// shows up in a comparison.
std::vector<std::string> FilesIn(const std::string& folder);
// The whole content of a file ("" when it cannot be read) and whether it exists.
std::string ReadWholeFile(const std::string& path);
bool PathExists(const std::string& path);
// Writes `bytes` as the file's whole content.
bool WriteWholeFile(const std::string& path, const std::string& bytes);
// The full path of this test program.
std::string OwnProgramPath();
// The user this process runs as, as a SID string ("S-1-5-21-..."; "" when the token cannot be read).
std::string OwnUserSid();
// A file built beside this test program, e.g. the marker library "zv_marker.dll" (tests/support).
std::string BesideProgram(const std::string& name);
// The lines that the marker library wrote into "<copy>.log" ("" when it was never loaded).
std::string MarkerLog(const std::string& libraryCopy);

// A started process; terminated at destruction if still running.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ChildProcess(ChildProcess&& other) noexcept;
  ~ChildProcess();

  // CreateProcessA with this command line (and working folder, if not empty). False if it failed.
  bool Start(const std::string& commandLine, const std::string& workingDirectory = "");
  // This test program re-run as the named child scenario (see ZV_CHILD_SCENARIO).
  bool StartScenario(const std::string& scenario, const std::string& extraArguments = "");
  // Waits for the end; the exit code, or STILL_ACTIVE after the time-out.
  DWORD Wait(DWORD milliseconds = 20000);
  bool IsRunning() const;
  void Terminate();
  DWORD id() const { return pid_; }
  HANDLE handle() const { return process_; }

 private:
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
};

// What a message box shows.
struct MessageBox {
  HWND window = nullptr;
  std::string caption;
  std::string text;
  bool hasIcon = false;                  // an icon is shown (MB_ICONERROR and friends)
  bool topmost = false;                  // WS_EX_TOPMOST: the system-modal kind
  std::vector<std::string> buttons;      // button captions, in window order
  std::vector<int> buttonIds;            // their control ids (IDOK, IDCANCEL, ...), in the same order
  LONG style = 0;                        // the dialog's own window style and extended style
  LONG exStyle = 0;
  LONG textStyle = 0;                    // the style of the text control (SS_RIGHT for MB_RIGHT)
};

// Waits until a process shows a message box ("#32770" with the text control 0xFFFF) and returns what
// it shows; window null after the time-out. The text is polled briefly, as it can still be empty when
// the box first appears.
MessageBox WaitForMessageBox(DWORD processId, DWORD milliseconds = 15000);
// Clicks the box's OK (or only) button.
void PressOk(const MessageBox& box);
// Clicks the box's button with this id (IDYES, IDNO, IDCANCEL, ...).
void PressButton(const MessageBox& box, int id);
// The process's visible top-level windows of a class (any class when empty).
std::vector<HWND> TopLevelWindows(DWORD processId, const char* className = "");

// A child scenario: code that this test program runs when started with --zv-child=<name>. The
// scenario's own code decides how the process ends; returning from it ends the process with 0.
using ScenarioFunction = void (*)(int argc, char** argv);
bool RegisterScenario(const char* name, ScenarioFunction function);
// Runs the scenario named on the command line, if any; returns false when there is none.
bool RunScenarioFromCommandLine(int argc, char** argv);

}  // namespace zv::test

#define ZV_CHILD_SCENARIO(name)                                                               \
  static void ZvScenario_##name(int argc, char** argv);                                       \
  static const bool zvScenarioRegistered_##name = ::zv::test::RegisterScenario(#name, &ZvScenario_##name); \
  static void ZvScenario_##name([[maybe_unused]] int argc, [[maybe_unused]] char** argv)
